#include "docsec/core/water_mark.h"

#include <gtest/gtest.h>

#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

TEST(WaterMark, KeepsTheBaseIdentityAndDeclaresNothing) {
  testing::ExpectWellFormedClass<CDOWaterMark>(kObjectTypeNone, "CDataObject", "CDataObject");
  CDOWaterMark mark;
  EXPECT_EQ(DataObjectAccess::Schema(mark).SlotCount(), 0);
}

}  // namespace
}  // namespace docsec
