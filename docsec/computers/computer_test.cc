#include "docsec/computers/computer.h"

#include <gtest/gtest.h>

#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

TEST(Computer, ClassIsWellFormed) {
  testing::ExpectWellFormedClass<CDOComputer>(kObjectTypeComputer, "Computer", "computer");
  CDOComputer computer;
  EXPECT_NE(computer.GetRootFolder(), nullptr);
  EXPECT_EQ(computer.GetConnectionStatus(), ConnectionNotProbed);
}

}  // namespace
}  // namespace docsec
