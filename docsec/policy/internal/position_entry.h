// What the two position authorizations (of a policy, of a file) share: the position's fields they
// copy, under the same accessor names, and the rule that recognizes their position.
#ifndef DOCSEC_POLICY_INTERNAL_POSITION_ENTRY_H_
#define DOCSEC_POLICY_INTERNAL_POSITION_ENTRY_H_

#include "docsec/core/copied_text.h"
#include "docsec/users/position.h"

namespace docsec {
namespace internal {

// Copies the position's id, department, department path and name into `entry`.
template <class Entry>
void CopyPosition(Entry* entry, CDOPosition* position) {
  entry->SetPositionId(position->GetPositionId());
  entry->SetPositionDeptId(position->GetDepartmentId());
  entry->SetPositionDeptName(CopiedText(position, &CDOPosition::GetDepartmentPath).c_str());
  entry->SetPositionName(CopiedText(position, &CDOPosition::GetPositionName).c_str());
}

// 1 when `entry` is for `position`: same department and the same non-empty name byte for byte,
// whatever the ids (a position is known by where it is and what it is called); 0 for null.
template <class Entry>
int IsEntryForPosition(Entry* entry, CDOPosition* position) {
  if (position == nullptr) return 0;
  return entry->GetPositionDeptId() == position->GetDepartmentId() &&
                 HasText(position, &CDOPosition::GetPositionName,
                         CopiedText(entry, &Entry::GetPositionName))
             ? 1
             : 0;
}

}  // namespace internal
}  // namespace docsec

#endif  // DOCSEC_POLICY_INTERNAL_POSITION_ENTRY_H_
