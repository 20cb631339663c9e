#include "docsec/org/department.h"

#include <gtest/gtest.h>

#include "docsec/computers/computer.h"
#include "docsec/org/ip_segment.h"
#include "docsec/testing/class_checks.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

TEST(Department, ClassesAreWellFormed) {
  testing::ExpectWellFormedClass<CDODepartment>(kObjectTypeDepartment, "Department", "department");
  testing::ExpectWellFormedClass<CDOIpSegment>(kObjectTypeIpSegment, "IpSegment", "ip");
}

TEST(Department, LoadBuildsTheNestedTreeWithOwners) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(
      doc.LoadXml("<department id='1' name='A'><department id='2' name='B'><user id='u1'/>"
                  "<computer uuid='c1'/></department><position id='7'/><ip ipFrom='1' ipTo='2'/>"
                  "</department>"));
  CDODepartment root;
  ASSERT_EQ(root.LoadFromXmlNode(doc.DocumentElement()), 1);
  ASSERT_EQ(root.GetSubDepartments()->GetSize(), 1);
  auto* b = static_cast<CDODepartment*>(root.GetSubDepartments()->GetAt(0));
  EXPECT_EQ(b->GetOwnerDepartment(), &root);
  EXPECT_EQ(b->GetId(), 2);
  EXPECT_EQ(static_cast<CDOUser*>(b->GetUsers()->GetAt(0))->GetOwnerDepartment(), b);
  EXPECT_EQ(static_cast<CDOComputer*>(b->GetComputers()->GetAt(0))->GetOwnerDepartment(), b);
  EXPECT_EQ(static_cast<CDOPosition*>(root.GetPositons()->GetAt(0))->GetOwnerDepartment(), &root);
  EXPECT_EQ(static_cast<CDOIpSegment*>(root.GetIpSegments()->GetAt(0))->GetOwnerDepartment(),
            &root);
  EXPECT_EQ(root.LoadFromXmlNode(XmlElement()), 0);
}

}  // namespace
}  // namespace docsec
