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
  return std::string(FakeServer::kProlog) + "<document>" + body + "</document>";
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

TEST(Computer, CopyTakesValuesAndConnectionStatus) {
  CDOComputer original;
  original.SetUuid("u-1");
  original.SetIsApproved(true);
  original.SetConnectionStatus(ConnectionRunning);
  CDOComputer copy(&original);
  EXPECT_EQ(ElementOf(copy), ElementOf(original));
  EXPECT_EQ(copy.IsRunningStatusOk(), 1);
  EXPECT_NE(copy.GetRootFolder(), original.GetRootFolder());
}

TEST(Computer, ScanStatusReadsLeadingDigitsOrMinusOne) {
  struct Case {
    const char* text;  // null: unset
    long expected;
  } cases[] = {{"12", 12}, {nullptr, -1}, {"", -1}, {"abc", 0}, {" 7 days", 7}, {"-3", -3}};
  for (const Case& c : cases) {
    CDOComputer computer;
    if (c.text != nullptr) computer.SetComputerScanStatusText(c.text);
    EXPECT_EQ(computer.GetComputerScanStatus(), c.expected) << (c.text ? c.text : "(unset)");
  }
  CDOComputer computer;
  computer.SetComputerScanStatus(4);
  char text[8];
  EXPECT_EQ(computer.GetComputerScanStatusText(text, sizeof text), 1);
  EXPECT_STREQ(text, "4");
}

TEST(Computer, ManualEncryptStateIsMinusOneUntilSet) {
  CDOComputer computer;
  EXPECT_EQ(computer.GetComputerManualEncryptState(), -1);
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml("<computer uuid=\"u\" isManualEncrypt=\"true\"/>"));
  computer.LoadFromXmlNode(doc.DocumentElement());
  EXPECT_EQ(computer.GetComputerManualEncryptState(), 1);
  computer.SetComputerManualEncryptState(0);
  EXPECT_EQ(computer.GetComputerManualEncryptState(), 0);
  computer.SetComputerManualEncryptState(5);  // any non-zero number is on
  EXPECT_EQ(computer.GetComputerManualEncryptState(), 1);
}

TEST(Computer, IpV4OfDottedTextOnly) {
  struct Case {
    const char* ip;  // null: unset
    unsigned long expected;
  } cases[] = {
      {"127.0.0.2", MakeIpv4(127, 0, 0, 2)},
      {"10.1.2.3", MakeIpv4(10, 1, 2, 3)},
      {nullptr, kInvalidIpv4},
      {"", kInvalidIpv4},
      {"host.local", kInvalidIpv4},
      {"10.1.2.3 ", kInvalidIpv4},
      // 34 characters, refused whole: its first 31 would read as another address, 127.0.0.0.
      {"127.0.0.0000000000000000000000002", kInvalidIpv4},
  };
  for (const Case& c : cases) {
    CDOComputer computer;
    if (c.ip != nullptr) computer.SetIp(c.ip);
    EXPECT_EQ(computer.GetIpV4(), c.expected) << (c.ip ? c.ip : "(unset)");
  }
}

class ComputerRequests : public ::testing::Test {
 protected:
  // A department as a loaded tree holds it: an id and nothing else.
  static void MakeDepartment(CDODepartment* department, long id) { department->SetId(id); }

  FakeServer server_;
};

TEST_F(ComputerRequests, ChangeDepartmentSendsTheNewDepartmentId) {
  CDODepartment from, to;
  MakeDepartment(&from, 3);
  MakeDepartment(&to, 9);
  CDOComputer computer;
  computer.SetUuid("u-1");
  computer.SetDepartmentId(3);
  computer.SetOwnerDepartment(&from);
  EXPECT_EQ(computer.ChangeDepartment(&to), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"UpdateComputer\"/>"
                                            "<computer uuid=\"u-1\" departmentId=\"9\"/>"));
  EXPECT_EQ(computer.GetDepartmentId(), 9);
  EXPECT_EQ(computer.GetOwnerDepartment(), &to);
}

TEST_F(ComputerRequests, ChangeDepartmentToItsOwnDepartmentSendsNothing) {
  CDODepartment owner, same_id;
  MakeDepartment(&owner, 3);
  MakeDepartment(&same_id, 3);  // another object for the same department
  CDOComputer computer;
  computer.SetOwnerDepartment(&owner);
  EXPECT_EQ(computer.ChangeDepartment(&same_id), 1);
  EXPECT_EQ(computer.ChangeDepartment(nullptr), 0);
  EXPECT_EQ(server_.request_count(), 0u);
  EXPECT_EQ(computer.GetOwnerDepartment(), &owner);
}

TEST_F(ComputerRequests, RefusedChangeDepartmentPutsTheOldValueBack) {
  CDODepartment to;
  MakeDepartment(&to, 9);
  CDOComputer with_id, without_id;
  with_id.SetUuid("a");
  with_id.SetDepartmentId(3);
  without_id.SetUuid("b");
  for (CDOComputer* computer : {&with_id, &without_id}) {
    const std::string before = ElementOf(*computer);
    server_.QueueAnswer(kRefused);
    EXPECT_EQ(computer->ChangeDepartment(&to), 0);
    // An id that was never set stays unset rather than becoming -1.
    EXPECT_EQ(ElementOf(*computer), before);
    EXPECT_EQ(computer->GetOwnerDepartment(), nullptr);
  }
  server_.QueueAnswer("");  // no answer at all
  EXPECT_EQ(with_id.ChangeDepartment(&to), 0);
  EXPECT_EQ(with_id.GetDepartmentId(), 3);
}

TEST_F(ComputerRequests, SeveralComputersGoInOneRequest) {
  CDODepartment to;
  MakeDepartment(&to, 9);
  CDOComputer a, b;
  a.SetUuid("a");
  a.SetDepartmentId(1);
  b.SetUuid("b");
  DataObjectList list{&a, nullptr, &b};
  EXPECT_EQ(a.ChangeDepartment(&list, &to), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateComputer\"/><computer uuid=\"a\" departmentId=\"9\"/>"
                    "<computer uuid=\"b\" departmentId=\"9\"/>"));
  EXPECT_EQ(a.GetOwnerDepartment(), &to);
  EXPECT_EQ(b.GetOwnerDepartment(), &to);

  EXPECT_EQ(a.ApplyApprovedStatus(&list, true), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateComputer\"/>"
                    "<computer uuid=\"a\" isApproved=\"true\" departmentId=\"9\"/>"
                    "<computer uuid=\"b\" isApproved=\"true\" departmentId=\"9\"/>"));
}

TEST_F(ComputerRequests, RefusedRequestForSeveralRestoresEveryComputer) {
  CDODepartment to;
  MakeDepartment(&to, 9);
  CDOComputer a, b, c;
  a.SetUuid("a");
  a.SetDepartmentId(1);
  a.SetIsApproved(true);
  b.SetUuid("b");
  b.SetDepartmentId(2);
  c.SetUuid("c");  // neither value set
  // b twice: restoring in reverse order gives it back its first old value.
  DataObjectList list{&a, &b, &c, &b};
  const std::string before[] = {ElementOf(a), ElementOf(b), ElementOf(c)};
  auto expect_unchanged = [&](const char* what) {
    EXPECT_EQ(ElementOf(a), before[0]) << what;
    EXPECT_EQ(ElementOf(b), before[1]) << what;
    EXPECT_EQ(ElementOf(c), before[2]) << what;
  };
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(a.ChangeDepartment(&list, &to), 0);
  expect_unchanged("ChangeDepartment");
  EXPECT_EQ(a.GetOwnerDepartment(), nullptr);
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(a.ApplyApprovedStatus(&list, false), 0);
  expect_unchanged("ApplyApprovedStatus");
}

TEST_F(ComputerRequests, ListsThatCannotBeSentAreRefused) {
  CDODepartment to;
  CDOComputer computer;
  DataObjectList with_department{&computer, &to};
  EXPECT_EQ(computer.ChangeDepartment(nullptr, &to), 0);
  EXPECT_EQ(computer.ChangeDepartment(&with_department, &to), 0);
  EXPECT_EQ(computer.ChangeDepartment(&with_department, nullptr), 0);
  EXPECT_EQ(computer.ApplyApprovedStatus(nullptr, true), 0);
  EXPECT_EQ(computer.ApplyApprovedStatus(&with_department, true), 0);
  EXPECT_EQ(server_.request_count(), 0u);
  EXPECT_EQ(computer.GetIsApproved(), false);
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
  EXPECT_EQ(server_.last_request(), Request("<service value=\"UpdateComputer\"/>"
                                            "<computer uuid=\"u\" isApproved=\"true\"/>"));
  EXPECT_EQ(computer.ApplyApprovedStatus(1), 1);
  EXPECT_EQ(computer.ApplyApprovedStatus(7), 1);  // anything but 1 disapproves
  EXPECT_EQ(server_.request_count(), 3u);
  EXPECT_FALSE(computer.GetIsApproved());
}

}  // namespace
}  // namespace docsec
