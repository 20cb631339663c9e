// The log and scan classes: identity, declarations, the extension comparison, and the operation
// log record: its setters, loading, paged search and upload.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/computers/computer.h"
#include "docsec/logs/auto_scan_app_type.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/scan_drm_log.h"
#include "docsec/logs/scan_file_extend.h"
#include "docsec/logs/scan_log_app.h"
#include "docsec/logs/scan_log_file.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(LogsClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDODrmLog>, kObjectTypeNone, "Log", "log"},
      {&ExpectWellFormedClass<CDOScanDrmLog>, kObjectTypeNone, "ScanLog", "scanLog"},
      {&ExpectWellFormedClass<CDOScanLogApp>, kObjectTypeNone, "ScanLogApp", "scanLogApp"},
      {&ExpectWellFormedClass<CDOScanLogFile>, kObjectTypeNone, "ScanLogFile", "scanLogFile"},
      {&ExpectWellFormedClass<CDOAutoScanAppType>, kObjectTypeAutoScanAppType, "AppExe", "appExe"},
      {&ExpectWellFormedClass<CDOScanFileExtend>, kObjectTypeScanFileExtend, "Extend", "extend"},
  });
}

TEST(ScanFileExtend, NamesCompareIgnoringLetterCase) {
  const struct {
    const char* mine;
    const char* other;
    int equal;
  } cases[] = {{"DOC", "doc", 1}, {"doc", "doc", 1}, {"DOC", "docx", 0}};
  for (const auto& c : cases) {
    CDOScanFileExtend a, b;
    a.SetAppName(c.mine);
    b.SetAppName(c.other);
    EXPECT_EQ(a.Equals(&b), c.equal) << c.mine << " / " << c.other;
  }
}

// ---- the operation log record ----

// Texts of the record, read back through the public getters.
std::string Text(int (CDODrmLog::*get)(char*, unsigned long), CDODrmLog& log) {
  char buffer[768] = "";
  (log.*get)(buffer, sizeof buffer);
  return buffer;
}

TEST(DrmLog, SettersWriteTheirTextForms) {
  CDODrmLog log;
  OleDateTime when(2024, 3, 5, 14, 7, 9);
  log.SetDestCompIP(0x0A000001UL);
  log.SetUsedCompIP(0UL);
  log.SetOperationTime(when);
  log.SetLogCreateTime(when);
  log.SetUid(7);
  const struct {
    int (CDODrmLog::*get)(char*, unsigned long);
    const char* expected;
  } cases[] = {
      {&CDODrmLog::GetDestCompIP, "10.0.0.1"},
      {&CDODrmLog::GetUsedCompIP, "0.0.0.0"},
      {&CDODrmLog::GetOperationTime, "2024-03-05 14:07:09"},
      {&CDODrmLog::GetLogCreateTime, "2024-03-05 14:07:09"},
      {&CDODrmLog::GetUid, "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.get, log), c.expected);
}

TEST(DrmLog, LoadingSetsEveryAttributeAbsentOnesToOneBlank) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml("<log userId=\"7\" dstFile=\"C:\\a.txt\"/>"));
  CDODrmLog log;
  EXPECT_EQ(log.LoadFromXmlNode(doc.DocumentElement()), 1);
  EXPECT_EQ(Text(&CDODrmLog::GetUid, log), "7");
  EXPECT_EQ(Text(&CDODrmLog::GetDestFile, log), "C:\\a.txt");
  EXPECT_EQ(Text(&CDODrmLog::GetUserNameA, log), " ");
  EXPECT_EQ(Text(&CDODrmLog::GetFileType, log), " ");
}

// Every condition form of the paged search, in parameter order, through data source 2.
TEST(DrmLog, SearchSendsEveryConditionThroughTheLogDataSource) {
  testing::FakeServer server;
  server.QueueAnswer(
      "<document><return code=\"0\"/><log userId=\"a\"/><log userId=\"b\"/><log userId=\"c\"/>"
      "<page><count value=\"57\"/></page></document>");
  std::string t[18] = {"desc", "operationTime", "admin", "Admin", "1552", "1536",
                       "HQ",   "pc-1",          "HQ/IT", "ws-1",  "HQ",   "C:\\b.txt",
                       "3",    "C:\\a.txt",     "2",     "txt",   "1",    "20"};
  OleDateTime invalid(2024, 2, 30, 0, 0, 0);
  ASSERT_FALSE(invalid.IsValid());
  CDODrmLog* receiver = CDODrmLog::GetClassInstance();
  receiver->SetDataSource(3);
  int count = -5;
  std::unique_ptr<DataObjectList> found(receiver->SerachDB(
      &t[0], &t[1], &t[2], &t[3], OleDateTime(2024, 1, 2, 3, 4, 5), invalid, &t[4], &t[5], &t[6],
      &t[7], 0xC0A80102UL, &t[8], &t[9], 0UL, &t[10], &t[11], &t[12], &t[13], &t[14], &t[15],
      invalid, OleDateTime(2024, 12, 31, 23, 59, 58), &t[16], &t[17], count, 4));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetSize(), 3);
  EXPECT_EQ(count, 57);
  DestructElements(found.get());
  EXPECT_EQ(receiver->GetDataSource(), 1);
  EXPECT_EQ(server.last_entry_point(), 2);
  EXPECT_EQ(server.last_request(),
            std::string(testing::FakeServer::kProlog) +
                "<document><service value=\"QueryLog\"/><databaseIndex value=\"4\"/>"
                "<log order=\"desc\" orderBy=\"operationTime\" userId=\"admin\" userName=\"Admin\" "
                "operationTimeFrom=\"2024-01-02 03:04:05\" operationTimeTo=\"\" operation=\"1552\" "
                "operationType=\"1536\" userDepartment=\"HQ\" dstCompName=\"pc-1\" "
                "dstCompIp=\"192.168.1.2\" dstCompDeptPath=\"HQ/IT\" usedCompName=\"ws-1\" "
                "usedCompIp=\"\" usedCompDeptPath=\"HQ\" dstFile=\"C:\\b.txt\" dstFileSecLvl=\"3\" "
                "srcFile=\"C:\\a.txt\" srcFileSecLvl=\"2\" fileType=\"txt\" createTimeFrom=\"\" "
                "createTimeTo=\"2024-12-31 23:59:58\" pageNum=\"1\" pageSum=\"20\"/></document>");
}

TEST(DrmLog, PagedLookupKeepsTheCountWithoutACountElementAndOnFailure) {
  testing::FakeServer server;
  CDODrmLog log;
  ValueMap conditions;
  conditions.Set("pageNum", Variant("2"));
  const struct {
    const char* answer;
    bool found;
    int count;
  } cases[] = {
      {"<document><return code=\"0\"/><log userId=\"a\"/></document>", true, 9},
      {"<document><return code=\"0\"/><count value=\"x\"/></document>", true, 9},
      {"<document><return code=\"0\"/><count value=\"0\"/></document>", true, 0},
      {"<document><return code=\"12\"/><count value=\"3\"/></document>", false, 9},
      {"", false, 9},
  };
  for (const auto& c : cases) {
    server.QueueAnswer(c.answer);
    int count = 9;
    std::unique_ptr<DataObjectList> found(log.Lookup(&conditions, count, 0));
    EXPECT_EQ(found != nullptr, c.found) << c.answer;
    EXPECT_EQ(count, c.count) << c.answer;
    if (found) DestructElements(found.get());
  }
  EXPECT_EQ(server.last_request(),
            std::string(testing::FakeServer::kProlog) +
                "<document><service value=\"QueryLog\"/><databaseIndex value=\"0\"/>"
                "<log pageNum=\"2\"/></document>");
}

TEST(DrmLog, UploadSendsTheRecordInsideItsComputer) {
  testing::FakeServer server;
  CDOComputer computer;
  computer.SetName("pc-1");
  computer.SetUuid("0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3");
  CDODrmLog log;
  log.SetUid("admin");
  log.SetDestFile("C:\\a.txt");
  EXPECT_EQ(log.UpdateLogs(&computer), 1);
  EXPECT_EQ(server.last_entry_point(), 1);
  EXPECT_EQ(server.last_request(),
            std::string(testing::FakeServer::kProlog) +
                "<document><service value=\"UploadLogs\"/>"
                "<computer name=\"pc-1\" uuid=\"0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3\">"
                "<log userId=\"admin\" dstFile=\"C:\\a.txt\"/></computer></document>");
  server.QueueAnswer("<document><return code=\"3\"/></document>");
  EXPECT_EQ(log.UpdateLogs(&computer), 0);
  EXPECT_EQ(log.UpdateLogs(nullptr), 0);
}

TEST(DrmLog, RequestLogDocumentDeclaresNoEncoding) {
  CDODrmLog log;
  XmlDocument document = log.CreateRequestLogXml("UploadLogs");
  ASSERT_TRUE(document);
  EXPECT_EQ(document.Xml(),
            "<?xml version=\"1.0\"?><document><service value=\"UploadLogs\"/></document>");
}

}  // namespace
}  // namespace docsec
