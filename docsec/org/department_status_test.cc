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

std::string Answer(const std::string& body, int code = 0) {
  return "<document><return code=\"" + std::to_string(code) + "\"/>" + body + "</document>";
}

// Root 1 holds c1 and two sub-departments; 2 holds c2 and, below it, 4 with c3; 3 holds C4.
constexpr char kTree[] =
    "<department id=\"1\"><department id=\"2\"><computer uuid=\"c2\"/>"
    "<department id=\"4\"><computer uuid=\"c3\"/></department></department>"
    "<department id=\"3\"><computer uuid=\"C4\"/></department>"
    "<computer uuid=\"c1\" ip=\"10.0.0.1\"/></department>";

class DepartmentStatus : public ::testing::Test {
 protected:
  void SetUp() override { Load(&root_, kTree); }

  static void Load(CDODepartment* department, const char* xml) {
    XmlDocument doc = XmlDocument::Create();
    ASSERT_TRUE(doc.LoadXml(xml));
    ASSERT_EQ(department->LoadFromXmlNode(doc.DocumentElement()), 1);
  }
  // The computer of the tree with that exact uuid.
  CDOComputer* Computer(const char* uuid) {
    std::unique_ptr<DataObjectList> all(root_.SearchComputerScanStatus());
    for (CDataObject* member : *all) {
      auto* computer = static_cast<CDOComputer*>(member);
      char text[300];
      if (computer->GetUuid(text, sizeof text) && std::string(text) == uuid) return computer;
    }
    ADD_FAILURE() << "no computer " << uuid;
    return nullptr;
  }
  static std::vector<std::string> Uuids(const DataObjectList* list) {
    std::vector<std::string> uuids;
    for (CDataObject* member : *list) {
      char text[300];
      static_cast<CDOComputer*>(member)->GetUuid(text, sizeof text);
      uuids.push_back(text);
    }
    return uuids;
  }

  FakeServer server_;
  CDODepartment root_;
};

const std::vector<std::string> kDepthFirst = {"c1", "c2", "c3", "C4"};

TEST_F(DepartmentStatus, SubtreeListIsOwnComputersThenEachChildDepthFirst) {
  std::unique_ptr<DataObjectList> list(root_.SearchComputerScanStatus());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(Uuids(list.get()), kDepthFirst);
  EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(DepartmentStatus, ScanQueryGoesToTheScanEntryPointWhateverTheDataSource) {
  server_.QueueAnswer("");  // no answer
  int total = -5, scanned = -5, abnormal = 99;
  std::unique_ptr<DataObjectList> list(root_.GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(Uuids(list.get()), kDepthFirst);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"
                    "<scanLog computerUUID=\"c1\"/><scanLog computerUUID=\"c2\"/>"
                    "<scanLog computerUUID=\"c3\"/><scanLog computerUUID=\"C4\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 2);
  EXPECT_EQ(total, 4);
  EXPECT_EQ(scanned, -1);
  EXPECT_EQ(abnormal, 99);

  // The plain form writes only through the counters it is given.
  server_.QueueAnswer(Answer("", 3));
  list.reset(root_.GetComputerScanStatus(nullptr, nullptr, nullptr));
  EXPECT_NE(list, nullptr);
  EXPECT_EQ(server_.last_entry_point(), 2);
}

TEST_F(DepartmentStatus, EmptyDepartmentStillAsksAndReportsNothingScanned) {
  CDODepartment empty;
  Load(&empty, "<department id=\"8\"/>");
  server_.QueueAnswer("");
  int total = -5, scanned = -5, abnormal = 99;
  std::unique_ptr<DataObjectList> list(empty.GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetSize(), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"));
  EXPECT_EQ(total, 0);
  EXPECT_EQ(scanned, -1);
}

TEST_F(DepartmentStatus, ScanAnswerWritesStatesAndTheSummaryCounters) {
  server_.QueueAnswer(Answer(
      "<scanLog computerUUID=\"C2\" status=\"1\"/><scanLog computerUUID=\"zz\" status=\"1\"/>"
      "<scanLog computerUUID=\"c1\" status=\"busy\"/>"
      "<summary total=\"10\" scaned=\"7\" abnormal=\"2x\"/>"));
  Computer("c3")->SetComputerScanStatusText("2");
  int total = 0, scanned = 0, abnormal = 0;
  std::unique_ptr<DataObjectList> list(root_.GetComputerScanStatus(&total, &scanned, &abnormal));
  EXPECT_EQ(total, 10);
  EXPECT_EQ(scanned, 7);
  EXPECT_EQ(abnormal, 2);
  EXPECT_EQ(Computer("c2")->GetComputerScanStatus(), 1);  // matched ignoring case
  char text[16];
  ASSERT_EQ(Computer("c1")->GetComputerScanStatusText(text, sizeof text), 4);
  EXPECT_STREQ(text, "busy");                             // stored as the answer wrote it
  EXPECT_EQ(Computer("c3")->GetComputerScanStatus(), 2);  // not mentioned: kept
  EXPECT_EQ(Computer("C4")->GetComputerScanStatus(), -1);

  // Without a summary the counters stay as they were.
  server_.QueueAnswer(Answer(""));
  total = scanned = abnormal = 42;
  list.reset(root_.GetComputerScanStatus(&total, &scanned, &abnormal));
  EXPECT_EQ(total + scanned + abnormal, 3 * 42);
}

TEST_F(DepartmentStatus, ScanCountsOnlyStatesZeroToTwo) {
  int done = 7, total = 0, state[3] = {5, 5, 5};
  EXPECT_EQ(root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], nullptr), nullptr);
  EXPECT_EQ(done, 7);
  EXPECT_EQ(server_.request_count(), 0u);

  server_.QueueAnswer(Answer(
      "<scanLog computerUUID=\"c1\" status=\"1\"/><scanLog computerUUID=\"c2\" status=\"2\"/>"
      "<scanLog computerUUID=\"c3\" status=\"3\"/><scanLog computerUUID=\"c4\" status=\"x\"/>"
      "<summary total=\"10\" scaned=\"7\" abnormal=\"2\"/>"));
  std::unique_ptr<DataObjectList> list(
      root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], &state[2]));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(server_.last_entry_point(), 2);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(total, 4);     // the summary is not read here
  EXPECT_EQ(state[0], 1);  // "x" has no digits: 0
  EXPECT_EQ(state[1], 1);
  EXPECT_EQ(state[2], 1);

  server_.QueueAnswer(Answer("<scanLog computerUUID=\"c1\" status=\"1\"/>", 5));
  list.reset(root_.GetComputerScanStatusEX(&done, &total, &state[0], &state[1], &state[2]));
  EXPECT_EQ(done, 0);
  EXPECT_EQ(total, 4);
  EXPECT_EQ(state[0] + state[1] + state[2], 0);
}

TEST_F(DepartmentStatus, VersionQueryWritesVersionsAndCountsUpdated) {
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
  EXPECT_EQ(total, 4);
  EXPECT_EQ(updated, 1);
  EXPECT_EQ(done, 1);
  char text[16];
  ASSERT_GT(Computer("c3")->GetComputerVersion(text, sizeof text), 0);
  EXPECT_STREQ(text, "2.0");
  EXPECT_EQ(Computer("c3")->GetComputerUpdateStatus(), 0);
  ASSERT_GT(root_.GetCurrentVersion(text, sizeof text), 0);
  EXPECT_STREQ(text, "2.1");

  server_.QueueAnswer(
      Answer("<computer computerUUID=\"c2\" agentVersion=\"9\" updateStatus=\"1\"/>", 4));
  updated = 33;
  list.reset(root_.GetComputerVersionStatus(&total, &updated, &done));
  EXPECT_EQ(total, 4);
  EXPECT_EQ(updated, 33);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(Computer("c2")->GetComputerUpdateStatus(), -1);
}

TEST_F(DepartmentStatus, VersionQueryByDepartmentReadsEvenAFailedAnswer) {
  int total = 0, updated = 0, done = 0;
  server_.QueueAnswer(
      Answer("<computer computerUUID=\"c2\" agentVersion=\"3\" updateStatus=\"1\"/>", 4));
  std::unique_ptr<DataObjectList> list(root_.GetComputerVersionStatusEx(&total, &updated, &done));
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetComputerVersionStatusEx\"/><department id=\"1\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(updated, 1);
  EXPECT_EQ(Computer("c2")->GetComputerUpdateStatus(), 1);

  for (const char* answer : {"", "<document><return code=\"0\"/>"}) {  // none; does not parse
    server_.QueueAnswer(answer);
    list.reset(root_.GetComputerVersionStatusEx(&total, &updated, &done));
    EXPECT_EQ(done, 0) << answer;
    EXPECT_EQ(total, 4) << answer;
  }
}

TEST_F(DepartmentStatus, ManualEncryptionIsOnlyForExactTrue) {
  server_.QueueAnswer(
      Answer("<computer uuid=\"c1\" isManualEncrypt=\"true\"/><computer uuid=\"c2\" "
             "isManualEncrypt=\"TRUE\"/><computer uuid=\"nobody\" "
             "isManualEncrypt=\"true\"/>"));
  EXPECT_EQ(root_.GetComputerAutoHandeEncryptState(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetAutoEncrypt\"/><computer departmentId=\"1\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_EQ(Computer("c1")->GetComputerManualEncryptState(), 1);
  EXPECT_EQ(Computer("c2")->GetComputerManualEncryptState(), 0);
  EXPECT_EQ(Computer("c3")->GetComputerManualEncryptState(), -1);
  server_.QueueAnswer(Answer("<computer uuid=\"c3\" isManualEncrypt=\"true\"/>", 2));
  EXPECT_EQ(root_.GetComputerAutoHandeEncryptState(), 0);
  EXPECT_EQ(Computer("c3")->GetComputerManualEncryptState(), -1);
}

TEST_F(DepartmentStatus, SettingsForAListOfComputers) {
  root_.SetDataSource(2);
  Computer("c1")->SetComputerManualEncryptState(1);
  DataObjectList list{Computer("c1"), nullptr, Computer("c2")};

  EXPECT_EQ(root_.SetComputerAutoHandeEncryptState(&list), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"SetAutoEncrypt\"/>"
                                            "<computer uuid=\"c1\" isManualEncrypt=\"true\"/>"
                                            "<computer uuid=\"c2\" isManualEncrypt=\"false\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);

  Computer("c2")->SetComputerUpdateStatus(3);
  EXPECT_EQ(root_.SetComputerUpdateStatus(&list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetComputerUpdateStatus\"/>"
                    "<computer uuid=\"c1\" ip=\"10.0.0.1\" isManualEncrypt=\"true\"/>"
                    "<computer uuid=\"c2\" updateStatus=\"3\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 2);  // the department's own

  server_.QueueAnswer(Answer("", 6));
  EXPECT_EQ(root_.SetAutoScanComputers(&list, true), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetScanComputer\"/><computers>"
                    "<computer uuid=\"c1\" ip=\"10.0.0.1\" isManualEncrypt=\"true\" "
                    "isEncrypt=\"true\"/><computer uuid=\"c2\" updateStatus=\"3\" "
                    "isEncrypt=\"true\"/></computers>"));
  EXPECT_EQ(server_.last_entry_point(), 2);
  EXPECT_TRUE(Computer("c2")->GetIsAutoScanEnctypt());  // kept although refused

  const size_t sent = server_.request_count();
  EXPECT_EQ(root_.SetComputerAutoHandeEncryptState(nullptr), 0);
  EXPECT_EQ(root_.SetComputerUpdateStatus(nullptr), 0);
  EXPECT_EQ(root_.SetAutoScanComputers(nullptr, true), 0);
  EXPECT_EQ(server_.request_count(), sent);
}

TEST_F(DepartmentStatus, AnswerElementWithoutAnAttributeRaises) {
  struct Case {
    const char* what;
    std::string answer;
    int form;  // 0 scan, 1 version, 2 manual encryption
  } cases[] = {
      {"scanLog without computerUUID", Answer("<scanLog status=\"1\"/>"), 0},
      {"scanLog without status", Answer("<scanLog computerUUID=\"c1\"/>"), 0},
      {"summary without abnormal", Answer("<summary total=\"1\" scaned=\"1\"/>"), 0},
      {"computer without updateStatus",
       Answer("<computer computerUUID=\"c1\" agentVersion=\"1\"/>"), 1},
      {"computer without uuid", Answer("<computer isManualEncrypt=\"true\"/>"), 2},
  };
  for (const Case& c : cases) {
    server_.QueueAnswer(c.answer);
    int a = 0, b = 0, d = 0;
    try {
      if (c.form == 0) delete root_.GetComputerScanStatus(&a, &b, &d);
      if (c.form == 1) delete root_.GetComputerVersionStatus(&a, &b, &d);
      if (c.form == 2) root_.GetComputerAutoHandeEncryptState();
      ADD_FAILURE() << c.what << ": nothing raised";
    } catch (const ComError& e) {
      EXPECT_EQ(e.Error(), kErrTypeMismatch) << c.what;
    }
  }
}

TEST_F(DepartmentStatus, IdentitiesLongerThanTheBufferAreNeitherSentNorMatched) {
  const std::string fits(259, 'a');
  const std::string too_long(260, 'b');
  CDODepartment department;
  Load(&department, ("<department id=\"5\"><computer uuid=\"" + fits + "\"/><computer uuid=\"" +
                     too_long + "\"/><computer/></department>")
                        .c_str());
  // An answer naming a longer identity that starts with the 259 characters of the first one.
  server_.QueueAnswer(Answer("<scanLog computerUUID=\"" + fits + "xyz\" status=\"2\"/>"));
  int total = 0, scanned = 0, abnormal = 0;
  std::unique_ptr<DataObjectList> list(
      department.GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_EQ(list->GetSize(), 3);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"
                    "<scanLog computerUUID=\"" +
                    fits + "\"/>"));
  EXPECT_EQ(static_cast<CDOComputer*>(list->GetAt(0))->GetComputerScanStatus(), -1);

  server_.QueueAnswer(Answer("<scanLog computerUUID=\"" + fits + "\" status=\"2\"/>"));
  list.reset(department.GetComputerScanStatus(&total, &scanned, &abnormal));
  EXPECT_EQ(static_cast<CDOComputer*>(list->GetAt(0))->GetComputerScanStatus(), 2);
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
  Load(deep.get(), xml.c_str());
  server_.QueueAnswer(Answer("<scanLog computerUUID=\"deep\" status=\"2\"/>"));
  int total = 0, scanned = 0, abnormal = 0;
  std::unique_ptr<DataObjectList> list(deep->GetComputerScanStatus(&total, &scanned, &abnormal));
  ASSERT_EQ(list->GetSize(), 1);
  EXPECT_EQ(static_cast<CDOComputer*>(list->GetAt(0))->GetComputerScanStatus(), 2);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"RptComputerScanStatus\"/><databaseIndex value=\"1\"/>"
                    "<scanLog computerUUID=\"deep\"/>"));
}

}  // namespace
}  // namespace docsec
