// Status queries over a department's sub-tree, through the in-process server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/org/department.h"
#include "docsec/platform/com_error.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::FakeServer;

std::string Request(const std::string& body) {
  return std::string(FakeServer::kProlog) + "<document>" + body + "</document>";
}

template <class... Ints>
std::vector<int> Counts(Ints... counts) {
  return {counts...};
}

std::string Answer(const std::string& body, int code = 0) {
  return "<document><return code=\"" + std::to_string(code) + "\"/>" + body + "</document>";
}

class DepartmentStatus : public ::testing::Test {
 protected:
  // Root 1 holds c1 and two sub-departments: 2 holds c2 and, below it, 4 with c3; 3 holds C4.
  void SetUp() override {
    Load(
        &root_,
        "<department id=\"1\"><department id=\"2\"><computer uuid=\"c2\"/><department id=\"4\">"
        "<computer uuid=\"c3\"/></department></department><department id=\"3\">"
        "<computer uuid=\"C4\"/></department><computer uuid=\"c1\" ip=\"10.0.0.1\"/></department>");
    std::unique_ptr<DataObjectList> all(root_.SearchComputerScanStatus());
    for (int i = 0; i < 4; ++i) c_[i] = static_cast<CDOComputer*>(all->GetAt(i));
  }
  static void Load(CDODepartment* department, const std::string& xml) {
    XmlDocument doc = XmlDocument::Create();
    ASSERT_TRUE(doc.LoadXml(xml));
    ASSERT_EQ(department->LoadFromXmlNode(doc.DocumentElement()), 1);
  }

  FakeServer server_;
  CDODepartment root_;
  CDOComputer* c_[4] = {};  // the sub-tree list: own computers first, then each child's, deep first
};

TEST_F(DepartmentStatus, ScanQueryAsksTheScanEntryPointAndWritesTheAnswer) {
  char uuid[4];
  ASSERT_EQ(c_[3]->GetUuid(uuid, sizeof uuid), 2);
  EXPECT_STREQ(uuid, "C4");
  int total = -5, scanned = -5, abnormal = 99;
  server_.QueueAnswer("");  // no answer
  std::unique_ptr<DataObjectList> list(root_.GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_EQ(list->GetSize(), 4);
  EXPECT_EQ(list->GetAt(0), c_[0]);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"
                    "<scanLog computerUUID=\"c1\"/><scanLog computerUUID=\"c2\"/>"
                    "<scanLog computerUUID=\"c3\"/><scanLog computerUUID=\"C4\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 2);  // though the department's own source is 1
  EXPECT_EQ(Counts(total, scanned, abnormal), Counts(4, -1, 99));

  c_[2]->SetComputerScanStatusText("2");
  server_.QueueAnswer(Answer(
      "<scanLog computerUUID=\"C2\" status=\"1\"/><scanLog computerUUID=\"zz\" status=\"1\"/>"
      "<scanLog computerUUID=\"c1\" status=\"busy\"/><summary total=\"10\" scaned=\"7\" "
      "abnormal=\"2x\"/>"));
  list.reset(root_.GetComputerScanStatus(&total, &scanned, &abnormal));
  EXPECT_EQ(Counts(total, scanned, abnormal), Counts(10, 7, 2));
  EXPECT_EQ(c_[1]->GetComputerScanStatus(), 1);  // matched ignoring case
  char text[8];
  c_[0]->GetComputerScanStatusText(text, sizeof text);
  EXPECT_STREQ(text, "busy");                    // the answer's text as it came
  EXPECT_EQ(c_[2]->GetComputerScanStatus(), 2);  // not mentioned: kept

  CDODepartment empty;
  Load(&empty, "<department id=\"8\"/>");
  server_.QueueAnswer("");
  list.reset(empty.GetComputerScanStatus(&total, &scanned, &abnormal));
  EXPECT_EQ(list->GetSize(), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"));
  EXPECT_EQ(Counts(total, scanned), Counts(0, -1));
}

TEST_F(DepartmentStatus, ScanCountsOnlyStatesZeroToTwo) {
  int done = 7, total = 0, state[3] = {5, 5, 5};
  EXPECT_EQ(root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], nullptr), nullptr);
  EXPECT_EQ(done, 7);
  server_.QueueAnswer(Answer(
      "<scanLog computerUUID=\"c1\" status=\"1\"/><scanLog computerUUID=\"c2\" status=\"2\"/>"
      "<scanLog computerUUID=\"c3\" status=\"3\"/><scanLog computerUUID=\"c4\" status=\"x\"/>"
      "<summary total=\"10\" scaned=\"7\" abnormal=\"2\"/>"));
  std::unique_ptr<DataObjectList> list(
      root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], &state[2]));
  EXPECT_EQ(server_.last_entry_point(), 2);
  EXPECT_EQ(Counts(done, total, state[0], state[1], state[2]), Counts(1, 4, 1, 1, 1));

  server_.QueueAnswer(Answer("<scanLog computerUUID=\"c1\" status=\"1\"/>", 5));
  list.reset(root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], &state[2]));
  EXPECT_EQ(Counts(done, total, state[0], state[1], state[2]), Counts(0, 4, 0, 0, 0));
}

TEST_F(DepartmentStatus, VersionQueriesWriteVersionsAndCountUpdated) {
  int total = 0, updated = 0, done = 0;
  server_.QueueAnswer(
      Answer("<computer computerUUID=\"c1\" agentVersion=\"2.1\" updateStatus=\"1\"/>"
             "<computer computerUUID=\"c3\" agentVersion=\"2.0\" updateStatus=\"0\"/>"
             "<service currentVersion=\"2.1\"/>"));
  std::unique_ptr<DataObjectList> list(root_.GetComputerVersionStatus(&total, &updated, &done));
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetComputerVersionStatus\"/><computer computerUUID=\"c1\"/>"
                    "<computer computerUUID=\"c2\"/><computer computerUUID=\"c3\"/>"
                    "<computer computerUUID=\"C4\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(Counts(total, updated, done), Counts(4, 1, 1));
  char text[8];
  c_[2]->GetComputerVersion(text, sizeof text);
  EXPECT_STREQ(text, "2.0");
  root_.GetCurrentVersion(text, sizeof text);
  EXPECT_STREQ(text, "2.1");

  const std::string c2 = "<computer computerUUID=\"c2\" agentVersion=\"3\" updateStatus=\"1\"/>";
  server_.QueueAnswer(Answer(c2, 4));  // the plain form reads only a successful answer
  list.reset(root_.GetComputerVersionStatus(&total, &updated, &done));
  EXPECT_EQ(Counts(total, updated, done), Counts(4, 1, 0));
  EXPECT_EQ(c_[1]->GetComputerUpdateStatus(), -1);
  server_.QueueAnswer(Answer(c2, 4));  // the department form reads any answer
  list.reset(root_.GetComputerVersionStatusEx(&total, &updated, &done));
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetComputerVersionStatusEx\"/><department id=\"1\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(Counts(total, updated, done), Counts(4, 1, 1));
  EXPECT_EQ(c_[1]->GetComputerUpdateStatus(), 1);
  server_.QueueAnswer("<document><return code=\"0\"/>");  // does not parse
  list.reset(root_.GetComputerVersionStatusEx(&total, &updated, &done));
  EXPECT_EQ(done, 0);
}

TEST_F(DepartmentStatus, ManualEncryptionAndSettingsForAListOfComputers) {
  server_.QueueAnswer(
      Answer("<computer uuid=\"c1\" isManualEncrypt=\"true\"/><computer uuid=\"c2\" "
             "isManualEncrypt=\"TRUE\"/><computer uuid=\"nobody\" isManualEncrypt=\"true\"/>"));
  EXPECT_EQ(root_.GetComputerAutoHandeEncryptState(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetAutoEncrypt\"/><computer departmentId=\"1\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(c_[0]->GetComputerManualEncryptState(), 1);
  EXPECT_EQ(c_[1]->GetComputerManualEncryptState(), 0);  // only the exact text turns it on
  EXPECT_EQ(c_[2]->GetComputerManualEncryptState(), -1);

  root_.SetDataSource(2);
  DataObjectList list{c_[0], nullptr, c_[1]};
  EXPECT_EQ(root_.SetComputerAutoHandeEncryptState(&list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetAutoEncrypt\"/><computer uuid=\"c1\" "
                    "isManualEncrypt=\"true\"/><computer uuid=\"c2\" isManualEncrypt=\"false\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(root_.SetComputerUpdateStatus(&list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetComputerUpdateStatus\"/><computer uuid=\"c1\" "
                    "ip=\"10.0.0.1\" isManualEncrypt=\"true\"/><computer uuid=\"c2\" "
                    "isManualEncrypt=\"false\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 2);  // the department's own
  server_.QueueAnswer(Answer("", 6));
  EXPECT_EQ(root_.SetAutoScanComputers(&list, true), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetScanComputer\"/><computers><computer uuid=\"c1\" "
                    "ip=\"10.0.0.1\" isManualEncrypt=\"true\" isEncrypt=\"true\"/><computer "
                    "uuid=\"c2\" isManualEncrypt=\"false\" isEncrypt=\"true\"/></computers>"));
  EXPECT_TRUE(c_[1]->GetIsAutoScanEnctypt());  // kept although refused
}

TEST_F(DepartmentStatus, AnswerElementWithoutAnAttributeRaises) {
  const std::string answers[] = {Answer("<scanLog status=\"1\"/>"),
                                 Answer("<scanLog computerUUID=\"c1\"/>"),
                                 Answer("<summary total=\"1\" scaned=\"1\"/>"),
                                 Answer("<computer computerUUID=\"c1\" agentVersion=\"1\"/>"),
                                 Answer("<computer isManualEncrypt=\"true\"/>")};
  for (int i = 0; i < 5; ++i) {
    server_.QueueAnswer(answers[i]);
    int a, b, d;
    try {
      // The list made before the answer came is not leaked when it raises.
      if (i < 3) delete root_.GetComputerScanStatus(&a, &b, &d);
      if (i == 3) delete root_.GetComputerVersionStatus(&a, &b, &d);
      if (i == 4) root_.GetComputerAutoHandeEncryptState();
      ADD_FAILURE() << answers[i] << ": nothing raised";
    } catch (const ComError& e) {
      EXPECT_EQ(e.Error(), kErrTypeMismatch) << answers[i];
    }
  }
}

TEST_F(DepartmentStatus, IdentitiesLongerThanTheBufferAreNeitherSentNorMatched) {
  const std::string fits(259, 'a');
  CDODepartment department;
  Load(&department, "<department id=\"5\"><computer uuid=\"" + fits + "\"/><computer uuid=\"" +
                        std::string(260, 'b') + "\"/><computer/></department>");
  // An answer naming a longer identity that starts with the 259 characters of the first one.
  server_.QueueAnswer(Answer("<scanLog computerUUID=\"" + fits + "xyz\" status=\"2\"/>"));
  int total, scanned, abnormal;
  std::unique_ptr<DataObjectList> list(
      department.GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_EQ(list->GetSize(), 3);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"
                    "<scanLog computerUUID=\"" +
                    fits + "\"/>"));
  EXPECT_EQ(static_cast<CDOComputer*>(list->GetAt(0))->GetComputerScanStatus(), -1);
}

// A broken or hostile server may nest departments far deeper than a stack frame per level allows;
// the sub-tree walk does not recurse.
TEST_F(DepartmentStatus, HundredThousandNestedDepartmentsAreWalkedWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string xml;
  for (int i = 0; i < kDepth; ++i) xml += "<department id=\"" + std::to_string(i) + "\">";
  xml += "<computer uuid=\"deep\"/>";
  for (int i = 0; i < kDepth; ++i) xml += "</department>";
  auto deep = std::make_unique<CDODepartment>();
  Load(deep.get(), xml);
  server_.QueueAnswer(Answer("<scanLog computerUUID=\"deep\" status=\"2\"/>"));
  int total, scanned, abnormal;
  std::unique_ptr<DataObjectList> list(deep->GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_EQ(list->GetSize(), 1);
  EXPECT_EQ(static_cast<CDOComputer*>(list->GetAt(0))->GetComputerScanStatus(), 2);
}

}  // namespace
}  // namespace docsec
