#include "docsec/policy/auth_file_by_position.h"

#include "docsec/policy/file.h"
#include "docsec/policy/internal/joined_text.h"
#include "docsec/users/position.h"

namespace docsec {

using internal::JoinedText;

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByPosition, kObjectTypeAuthFileByPosition,
                          "FilePositionAuthorization", "filePositionAuthorization",
                          s_clsAuthFileByPosition)

CDOAuthFileByPosition::CDOAuthFileByPosition(CDOFile* file, CDOPosition* position, long permission)
    : CDOAuthFileByPosition() {
  if (file != nullptr) SetFileId(JoinedText(file, &CDOFile::GetUuid).c_str());
  if (position != nullptr) {
    SetPositionDeptId(position->GetDepartmentId());
    SetPositionId(position->GetPositionId());
    SetPositionDeptName(JoinedText(position, &CDOPosition::GetDepartmentPath).c_str());
    SetPositionName(JoinedText(position, &CDOPosition::GetPositionName).c_str());
  }
  SetPermission(permission);
}

int CDOAuthFileByPosition::IsAuthorizedTo(CDOPosition* position) {
  if (position == nullptr) return 0;
  return GetPositionDeptId() == position->GetDepartmentId() &&
                 JoinedText(this, &CDOAuthFileByPosition::GetPositionName) ==
                     JoinedText(position, &CDOPosition::GetPositionName)
             ? 1
             : 0;
}

}  // namespace docsec
