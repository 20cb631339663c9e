#include "docsec/users/user.h"

#include <gtest/gtest.h>

#include "docsec/policy/auth_level_by_user.h"
#include "docsec/testing/class_checks.h"
#include "docsec/users/position.h"
#include "docsec/users/user_appointment.h"

namespace docsec {
namespace {

TEST(User, ClassesAreWellFormed) {
  testing::ExpectWellFormedClass<CDOUser>(kObjectTypeUser, "User", "user");
  testing::ExpectWellFormedClass<CDOPosition>(kObjectTypePosition, "Position", "position");
  testing::ExpectWellFormedClass<CDOUserAppointment>(kObjectTypeNone, "UserAccession",
                                                     "userAccession");
  testing::ExpectWellFormedClass<CDOAuthLevelByUser>(kObjectTypeAuthLevelByUser,
                                                     "UserAuthorization", "userAuthorization");
}

}  // namespace
}  // namespace docsec
