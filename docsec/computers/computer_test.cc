#include "docsec/computers/computer.h"

#include <gtest/gtest.h>

#include <string>

#include "docsec/org/department.h"
#include "docsec/platform/host.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::FakeServer;

constexpr char kRefused[] = "<document><return code=\"17\"/></document>";

std::string Request(const std::string& body) {
  return std::string(FakeServer::kProlog) + "<document><service value=\"UpdateComputer\"/>" + body +
         "</document>";
}

// The computer's element as the next request would carry it.
std::string ElementOf(CDOComputer& computer) {
  XmlDocument doc = XmlDocument::Create();
  return computer.AssemblyXmlNode(doc.CreateDocumentElement("root")).Xml();
}

TEST(Computer, ClassIsWellFormed) {
  testing::ExpectWellFormedClass<CDOComputer>(kObjectTypeComputer, "Computer", "computer");
  CDOComputer computer;
  EXPECT_NE(computer.GetRootFolder(), nullptr);
  EXPECT_EQ(computer.GetConnectionStatus(), ConnectionNotProbed);
}

TEST(Computer, ReadAccessorsOfUnsetAndOddValues) {
  struct Case {
    const char* status;  // null: unset
    long scan_status;
    const char* ip;
    unsigned long ipv4;
  } cases[] = {
      {"12", 12, "127.0.0.2", MakeIpv4(127, 0, 0, 2)},
      {nullptr, -1, nullptr, kInvalidIpv4},
      {"", -1, "host.local", kInvalidIpv4},
      {"abc", 0, "10.1.2.3 ", kInvalidIpv4},
      // 34 characters, refused whole: its first 31 would read as another address, 127.0.0.0.
      {" 7 days", 7, "127.0.0.0000000000000000000000002", kInvalidIpv4},
  };
  for (const Case& c : cases) {
    CDOComputer computer;
    if (c.status != nullptr) computer.SetComputerScanStatusText(c.status);
    if (c.ip != nullptr) computer.SetIp(c.ip);
    EXPECT_EQ(computer.GetComputerScanStatus(), c.scan_status) << (c.status ? c.status : "-");
    EXPECT_EQ(computer.GetIpV4(), c.ipv4) << (c.ip ? c.ip : "-");
  }
  CDOComputer computer;
  EXPECT_EQ(computer.GetComputerManualEncryptState(), -1);
  computer.SetComputerManualEncryptState(5);  // any non-zero number is on
  EXPECT_EQ(computer.GetComputerManualEncryptState(), 1);
  computer.SetComputerManualEncryptState(0);
  EXPECT_EQ(computer.GetComputerManualEncryptState(), 0);
}

class ComputerRequests : public ::testing::Test {
 protected:
  FakeServer server_;
};

TEST_F(ComputerRequests, ChangeDepartmentSendsOnlyAMoveAndUndoesARefusedOne) {
  CDODepartment from, same, to;
  from.SetId(3);
  same.SetId(3);  // another object for the same department
  to.SetId(9);
  CDOComputer computer, unset;
  computer.SetUuid("u");
  computer.SetDepartmentId(3);
  computer.SetOwnerDepartment(&from);
  unset.SetUuid("v");
  EXPECT_EQ(computer.ChangeDepartment(&same), 1);
  EXPECT_EQ(computer.ChangeDepartment(nullptr), 0);
  EXPECT_EQ(server_.request_count(), 0u);

  for (CDOComputer* c : {&computer, &unset}) {
    const std::string before = ElementOf(*c);
    server_.QueueAnswer(kRefused);
    EXPECT_EQ(c->ChangeDepartment(&to), 0);
    EXPECT_EQ(ElementOf(*c), before);  // an unset id stays unset rather than becoming -1
  }
  EXPECT_EQ(computer.GetOwnerDepartment(), &from);
  EXPECT_EQ(computer.ChangeDepartment(&to), 1);
  EXPECT_EQ(server_.last_request(), Request("<computer uuid=\"u\" departmentId=\"9\"/>"));
  EXPECT_EQ(computer.GetOwnerDepartment(), &to);
}

TEST_F(ComputerRequests, SeveralComputersGoInOneRequestAndAreAllRestored) {
  CDODepartment to;
  to.SetId(9);
  CDOComputer a, b, c;
  a.SetUuid("a");
  a.SetDepartmentId(1);
  a.SetIsApproved(true);
  b.SetUuid("b");
  b.SetDepartmentId(2);
  c.SetUuid("c");
  // b twice: restoring in reverse order gives it back its first old value.
  DataObjectList list{&a, &b, nullptr, &c, &b};
  const std::string before = ElementOf(a) + ElementOf(b) + ElementOf(c);
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(a.ChangeDepartment(&list, &to), 0);
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(a.ApplyApprovedStatus(&list, false), 0);
  EXPECT_EQ(ElementOf(a) + ElementOf(b) + ElementOf(c), before);

  DataObjectList pair{&a, &c};
  EXPECT_EQ(a.ApplyApprovedStatus(&pair, true), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<computer uuid=\"a\" isApproved=\"true\" departmentId=\"1\"/>"
                    "<computer uuid=\"c\" isApproved=\"true\"/>"));
  // A list holding another kind of object is not sent.
  DataObjectList mixed{&a, &to};
  EXPECT_EQ(a.ChangeDepartment(&mixed, &to), 0);
  EXPECT_EQ(a.ApplyApprovedStatus(&mixed, false), 0);
  EXPECT_EQ(server_.request_count(), 3u);
}

TEST_F(ComputerRequests, ApplyApprovedStatusSendsOnlyAChange) {
  CDOComputer computer;
  computer.SetUuid("u");
  EXPECT_EQ(computer.ApplyApprovedStatus(0), 1);  // unset reads as not approved
  EXPECT_EQ(server_.request_count(), 0u);
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(computer.ApplyApprovedStatus(1), 0);
  EXPECT_EQ(ElementOf(computer), "<computer uuid=\"u\"/>");
  EXPECT_EQ(computer.ApplyApprovedStatus(1), 1);
  EXPECT_EQ(server_.last_request(), Request("<computer uuid=\"u\" isApproved=\"true\"/>"));
  EXPECT_EQ(computer.ApplyApprovedStatus(1), 1);
  EXPECT_EQ(computer.ApplyApprovedStatus(7), 1);  // anything but 1 disapproves
  EXPECT_EQ(server_.request_count(), 3u);
  EXPECT_FALSE(computer.GetIsApproved());
}

// The lists of a loaded tree own their computers: a moved computer must end in exactly one list
// (none when its caller owns it), or the tree would delete it twice.
TEST_F(ComputerRequests, MovesKeepEachComputerInExactlyOneList) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(
      "<department id=\"1\"><department id=\"2\"><computer uuid=\"x\"/><computer uuid=\"a\"/>"
      "<computer uuid=\"x\"/></department><department id=\"3\"><computer uuid=\"b\"/>"
      "</department></department>"));
  CDODepartment root;
  ASSERT_EQ(root.LoadFromXmlNode(doc.DocumentElement()), 1);
  auto* d2 = static_cast<CDODepartment*>(root.GetSubDepartments()->GetAt(0));
  auto* d3 = static_cast<CDODepartment*>(root.GetSubDepartments()->GetAt(1));
  auto at = [](CDODepartment* d, int i) {
    return static_cast<CDOComputer*>(d->GetComputers()->GetAt(i));
  };
  auto uuids = [](CDODepartment* d) {
    std::string text;
    char uuid[8];
    for (CDataObject* m : *d->GetComputers()) {
      text += static_cast<CDOComputer*>(m)->GetUuid(uuid, sizeof uuid) ? uuid : "?";
    }
    return text;
  };
  CDOComputer* x1 = at(d2, 0);
  CDOComputer* a = at(d2, 1);
  CDOComputer* x2 = at(d2, 2);
  CDOComputer* b = at(d3, 0);
  EXPECT_EQ(x2->ChangeDepartment(d3), 1);  // the twin listed before it stays
  EXPECT_EQ(uuids(d2), "xa");
  EXPECT_EQ(at(d2, 0), x1);
  EXPECT_EQ(uuids(d3), "bx");
  EXPECT_EQ(x1->ChangeDepartment(d3), 1);  // d3 lists an x already: x1 stays in d2
  EXPECT_EQ(uuids(d2), "ax");
  EXPECT_EQ(x1->GetOwnerDepartment(), d2);

  CDOComputer mine;  // the caller's: never taken over
  mine.SetUuid("m");
  DataObjectList list{a, b, &mine};
  EXPECT_EQ(a->ChangeDepartment(&list, d2), 1);
  EXPECT_EQ(uuids(d2), "xab");
  EXPECT_EQ(uuids(d3), "x");
  EXPECT_EQ(b->GetOwnerDepartment(), d2);
  EXPECT_EQ(mine.GetOwnerDepartment(), d2);
}

}  // namespace
}  // namespace docsec
