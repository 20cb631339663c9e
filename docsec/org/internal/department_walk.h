// Walks over a department sub-tree without recursion. Trees come from server answers, and a broken
// or hostile answer may nest departments deeper than the call stack allows; every walk of the
// organization code goes through here so that none of them recurses.
#ifndef DOCSEC_ORG_INTERNAL_DEPARTMENT_WALK_H_
#define DOCSEC_ORG_INTERNAL_DEPARTMENT_WALK_H_

#include <vector>

#include "docsec/org/department.h"

namespace docsec {
namespace org_internal {

// Visits `top` and every department below it, each before its children and the children in list
// order (depth first: the order in which subtree searches report), until `visit` gives true.
// Gives the department the walk stopped at, or null when it visited them all. `descend(d)` (true
// when omitted) decides whether the children of `d` are visited.
template <class Visit, class Descend>
CDODepartment* WalkDepartments(CDODepartment* top, Visit&& visit, Descend&& descend) {
  std::vector<CDODepartment*> pending;
  if (top != nullptr) pending.push_back(top);
  while (!pending.empty()) {
    CDODepartment* department = pending.back();
    pending.pop_back();
    if (visit(department)) return department;
    DataObjectList* children = department->GetSubDepartments();
    if (children == nullptr || !descend(department)) continue;
    for (auto it = children->end(); it != children->begin();) {
      --it;
      if (*it != nullptr) pending.push_back(static_cast<CDODepartment*>(*it));
    }
  }
  return nullptr;
}

template <class Visit>
CDODepartment* WalkDepartments(CDODepartment* top, Visit&& visit) {
  return WalkDepartments(top, visit, [](CDODepartment*) { return true; });
}

}  // namespace org_internal
}  // namespace docsec

#endif  // DOCSEC_ORG_INTERNAL_DEPARTMENT_WALK_H_
