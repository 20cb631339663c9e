// UserLists: the lists a user owns, kept apart from the user until one of them is needed
// (CDOUser::lists_). Internal to the library.
#ifndef DOCSEC_USERS_INTERNAL_USER_LISTS_H_
#define DOCSEC_USERS_INTERNAL_USER_LISTS_H_

#include <memory>

#include "docsec/core/owned_list.h"

namespace docsec {

class CDOAuthLevelByUser;
class CDODepartment;
class CDOPosition;

struct UserLists {
  OwnedList<CDOPosition> appointments;
  OwnedList<CDODepartment> authorized_departments;
  OwnedList<CDOAuthLevelByUser> authorizations;
};

// The lists of `lists`, made (all absent) when there are none yet.
inline UserLists& EnsureUserLists(std::unique_ptr<UserLists>& lists) {
  if (!lists) lists.reset(new UserLists);
  return *lists;
}

}  // namespace docsec

#endif  // DOCSEC_USERS_INTERNAL_USER_LISTS_H_
