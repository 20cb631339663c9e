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

}  // namespace
}  // namespace docsec
