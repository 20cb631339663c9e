// The system classes: identity and declarations of the operation catalogue.
#include <gtest/gtest.h>

#include "docsec/system/name_of_oper.h"
#include "docsec/system/operation.h"
#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(SystemClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOperation>, kObjectTypeNone, "Operations", "operation"},
      {&ExpectWellFormedClass<CNameOfOper>, kObjectTypeNone, "CDataObject", "name"},
  });
}

}  // namespace
}  // namespace docsec
