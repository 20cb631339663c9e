// The log and scan classes: identity, declarations, the extension comparison; the operation log
// record: its setters, loading, paged search and upload; the scan logs' setters, loading and
// searches; the automatic-scan settings and their extension list.
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

// A walk by cursor: each request carries where the last answer ended and the bound the first
// answer fixed; each answer moves the cursor. An answer without a cursor ends the walk, and a
// refusal leaves the cursor where it was.
TEST(DrmLog, SearchAfterSendsTheCursorAndFollowsTheAnswers) {
  testing::FakeServer server;
  const char* steps[][3] = {
      // the answer (empty: a refusal), the request's end, the cursor after: time|id|maxId|more
      {"<log/><count value=\"12\"/><cursor operationTime=\"T\" id=\"17\" maxId=\"40\" "
       "more=\"true\"/>",
       "createTimeTo=\"\" pageSum=\"5\"", "T|17|40|1"},
      {"<count value=\"12\"/><cursor id=\"3\" maxId=\"99\" more=\"true\"/>",
       "pageSum=\"5\" afterOperationTime=\"T\" afterId=\"17\" maxId=\"40\"", "|3|40|1"},
      {"", "afterOperationTime=\"\" afterId=\"3\" maxId=\"40\"", "|3|40|1"},
      {"<count value=\"12\"/><log/>", "afterId=\"3\" maxId=\"40\"", "|3|40|0"},
  };
  std::string t[17] = {"asc"};
  t[16] = "5";
  const OleDateTime none(0, 0, 0, 0, 0, 0);
  DrmLogCursor cursor;
  for (const auto& step : steps) {
    SCOPED_TRACE(step[1]);
    server.QueueAnswer(*step[0]
                           ? "<document><return code=\"0\"/>" + std::string(step[0]) + "</document>"
                           : "<document><return code=\"9\"/></document>");
    int count = -1;
    std::unique_ptr<DataObjectList> found(CDODrmLog::GetClassInstance()->SearchDBAfter(
        &t[0], &t[1], &t[2], none, none, &t[3], &t[4], &t[5], &t[6], 0, &t[7], &t[8], 0, &t[9],
        &t[10], &t[11], &t[12], &t[13], &t[14], none, none, &t[16], cursor, count, 0));
    if (found) DestructElements(found.get());
    EXPECT_EQ(count, found ? 12 : -1);
    EXPECT_NE(server.last_request().find(std::string(step[1]) + "/></document>"),
              std::string::npos);
    EXPECT_EQ(cursor.operationTime + "|" + cursor.id + "|" + cursor.maxId + "|" +
                  (cursor.more ? "1" : "0"),
              step[2]);
  }
  EXPECT_EQ(server.last_entry_point(), 2);
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

using testing::FakeServer;

// Deletes a returned list with its members.
struct ListDeleter {
  void operator()(DataObjectList* list) const {
    DestructElements(list);
    delete list;
  }
};
using ListPtr = std::unique_ptr<DataObjectList, ListDeleter>;

template <class T>
std::string Text(T* object, int (T::*get)(char*, unsigned long)) {
  char buffer[128] = "";
  (object->*get)(buffer, sizeof buffer);
  return buffer;
}

// ---- scan logs ----

TEST(ScanDrmLog, TimeSettersWriteTheTwelveHourClockWithoutMarker) {
  const struct {
    int hour;
    const char* expected;
  } cases[] = {{14, "2024-03-05 02:05:09"},
               {2, "2024-03-05 02:05:09"},
               {0, "2024-03-05 12:05:09"},
               {12, "2024-03-05 12:05:09"}};
  for (const auto& c : cases) {
    OleDateTime when(2024, 3, 5, c.hour, 5, 9);
    CDOScanDrmLog log;
    log.SetScanStartTime(when);
    EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanStartTime), c.expected) << c.hour;
  }
  OleDateTime evening(2024, 3, 5, 23, 0, 1);
  CDOScanDrmLog log;
  log.SetScanEndTime(evening);
  log.SetScanLogTime(evening);
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanEndTime), "2024-03-05 11:00:01");
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanLogTime), "2024-03-05 11:00:01");
}

TEST(ScanDrmLog, LoadingSetsEveryFieldWithABlankForTheAbsent) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml("<scanLog id=\"3\" status=\"\"/>");
  CDOScanDrmLog log;
  EXPECT_EQ(log.LoadFromXmlNode(doc.DocumentElement()), 1);
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanLogId), "3");
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanStatus), "");  // present, though empty
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetStopPosition), " ");
}

// The search arguments of one SearchDB call, defaults being "no bound".
struct ScanSearch {
  unsigned long address = 0;
  std::string name, order_by, order, encrypted, app, file, failed, status, page_num, page_sum;
  OleDateTime start_from, start_to, end_from, end_to, log_from, log_to;
  ScanSearch() {
    OleDateTime invalid(2024, 2, 30, 0, 0, 0);  // not a calendar day: an invalid time
    start_from = start_to = end_from = end_to = log_from = log_to = invalid;
  }
  DataObjectList* Run(CDOScanDrmLog* receiver, int& count) {
    return receiver->SearchDB(address, &name, &order_by, &order, start_from, start_to, end_from,
                              end_to, log_from, log_to, &encrypted, &app, &file, &failed, &status,
                              &page_num, &page_sum, count);
  }
};

TEST(ScanDrmLog, SearchSendsEveryConditionThroughTheLogDataSource) {
  FakeServer server;
  server.QueueAnswer(
      "<document><return code=\"0\"/><scanLog id=\"1\"/><scanLog id=\"2\" status=\"done\"/>"
      "<page><count value=\"57\"/></page></document>");
  ScanSearch search;
  search.address = 0x0A000001UL;
  search.name = "pc-7";
  search.app = "winword.exe";
  search.page_num = "2";
  search.start_from = OleDateTime(2024, 3, 5, 14, 5, 9);
  CDOScanDrmLog* receiver = CDOScanDrmLog::GetClassInstance();
  int count = -1;
  ListPtr found(search.Run(receiver, count));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(server.last_entry_point(), 2);
  EXPECT_EQ(
      server.last_request(),
      FakeServer::RequestText("<service value=\"QueryScanLog\"/><databaseIndex value=\"1\"/>"
                              "<scanLog computerIp=\"10.0.0.1\" computerName=\"pc-7\" orderBy=\"\" "
                              "order=\"\" startTimeFrom=\"2024-03-05 14:05:09\" startTimeTo=\"\" "
                              "endTimeFrom=\"\" endTimeTo=\"\" logTimeFrom=\"\" logTimeTo=\"\" "
                              "totalEncrypted=\"\" appName=\"winword.exe\" fileName=\"\" "
                              "totalFailed=\"\" status=\"\" pageNum=\"2\" pageSum=\"\"/>"));
  EXPECT_EQ(count, 57);
  ASSERT_EQ(found->GetSize(), 2);
  auto* second = static_cast<CDOScanDrmLog*>(found->GetAt(1));
  EXPECT_EQ(Text(second, &CDOScanDrmLog::GetScanStatus), "done");
  EXPECT_EQ(second->GetScanLogAppsList(), nullptr);
  EXPECT_EQ(receiver->GetDataSource(), 1);
}

TEST(ScanDrmLog, SearchCountIsZeroWithoutCountOrOnFailure) {
  const struct {
    const char* answer;
    bool found;
  } cases[] = {
      {"<document><return code=\"0\"/><scanLog id=\"1\"/></document>", true},
      {"<document><return code=\"0\"/><count value=\"many\"/></document>", true},
      {"<document><return code=\"5\"/><count value=\"9\"/></document>", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    FakeServer server;
    server.QueueAnswer(c.answer);
    CDOScanDrmLog receiver;
    receiver.SetDataSource(7);
    int count = -1;
    ScanSearch search;
    ListPtr found(search.Run(&receiver, count));
    EXPECT_EQ(found != nullptr, c.found);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(receiver.GetDataSource(), 1);
  }
}

TEST(ScanLogSearches, ApplicationAndFileSearchesUseTheLogDataSourceAndStayThere) {
  const struct {
    const char* name;
    DataObjectList* (*run)(CDataObject* receiver);
    CDataObject* receiver;
    const char* request_body;
    const char* answer_body;
  } cases[] = {
      {"applications",
       [](CDataObject* r) { return static_cast<CDOScanLogApp*>(r)->SearchAppInof("3"); },
       new CDOScanLogApp,
       "<service value=\"QueryScanLogApp\"/><databaseIndex value=\"1\"/>"
       "<scanLogApp scanLogId=\"3\"/>",
       "<scanLogApp scanLogId=\"3\" appName=\"winword.exe\"/><scanLogApp/>"},
      {"files",
       [](CDataObject* r) {
         return static_cast<CDOScanLogFile*>(r)->SearchAppFile("3", "winword.exe");
       },
       new CDOScanLogFile,
       "<service value=\"QueryScanLogFile\"/><databaseIndex value=\"1\"/>"
       "<scanLogFile scanLogId=\"3\" appName=\"winword.exe\"/>",
       "<scanLogFile fileFullPath=\"C:\\a.doc\"/><scanLogFile/>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CDataObject> receiver(c.receiver);
    FakeServer server;
    server.QueueAnswer("<document><return code=\"0\"/>" + std::string(c.answer_body) +
                       "</document>");
    ListPtr found(c.run(receiver.get()));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(server.last_entry_point(), 2);
    EXPECT_EQ(server.last_request(), FakeServer::RequestText(c.request_body));
    ASSERT_EQ(found->GetSize(), 2);
    EXPECT_EQ(typeid(*found->GetAt(0)), typeid(*receiver));
    EXPECT_EQ(receiver->GetDataSource(), 2);
    server.QueueAnswer("<document><return code=\"4\"/></document>");
    EXPECT_EQ(c.run(receiver.get()), nullptr);
  }
}

// ---- automatic-scan settings ----

// An extension named `name` at level `level`.
std::unique_ptr<CDOScanFileExtend> Extension(const char* name, long level = 2) {
  std::unique_ptr<CDOScanFileExtend> extension(new CDOScanFileExtend);
  extension->SetAppName(name);
  extension->SetSecretLevelId(level);
  return extension;
}

TEST(AutoScanAppType, ReloadKeepsApplicationsWithATwoCharacterScanType) {
  FakeServer server;
  server.QueueAnswer(
      "<document><return code=\"0\"/><appExes>"
      "<appExe appName=\"Word\" scanType=\"10\" exeName=\"winword.exe\"/>"
      "<appExe appName=\"Short\" scanType=\"1\"/><appExe appName=\"None\"/>"
      "<appExe appName=\"Excel\" scanType=\"11\"/></appExes>"
      "<extends><extend name=\"doc\" secretLevelId=\"2\"/><extend name=\"xls\"/></extends>"
      "</document>");
  CDOAutoScanAppType holder;
  ASSERT_EQ(holder.GetAllAutoScanAppList(), 1);
  EXPECT_EQ(server.last_request(),
            FakeServer::RequestText("<service value=\"GetScanFileTypeAtConsole\"/>"));
  DataObjectList* apps = holder.GetScanAppsSupport();
  ASSERT_NE(apps, nullptr);
  ASSERT_EQ(apps->GetSize(), 2);
  EXPECT_EQ(Text(static_cast<CDOAutoScanAppType*>(apps->GetAt(0)), &CDOAutoScanAppType::GetExeType),
            "winword.exe");
  EXPECT_EQ(Text(static_cast<CDOAutoScanAppType*>(apps->GetAt(1)), &CDOAutoScanAppType::GetAppName),
            "Excel");
  ASSERT_NE(holder.GetScanFileExtends(), nullptr);
  ASSERT_EQ(holder.GetScanFileExtends()->GetSize(), 2);
  EXPECT_EQ(
      static_cast<CDOScanFileExtend*>(holder.GetScanFileExtends()->GetAt(0))->GetSecretLevelId(),
      2);
}

TEST(AutoScanAppType, ReloadReplacesBothListsAndARefusalKeepsThem) {
  FakeServer server;
  CDOAutoScanAppType holder;
  holder.AddScanFileExtend(Extension("doc").get());
  server.QueueAnswer("<document><return code=\"6\"/><extends/></document>");
  EXPECT_EQ(holder.GetAllAutoScanAppList(), 0);
  ASSERT_NE(holder.GetScanFileExtends(), nullptr);
  EXPECT_EQ(holder.GetScanFileExtends()->GetSize(), 1);
  // A good answer without "extends" leaves no extension list; an empty "appExes" an empty one.
  server.QueueAnswer("<document><return code=\"0\"/><appExes/></document>");
  EXPECT_EQ(holder.GetAllAutoScanAppList(), 1);
  EXPECT_EQ(holder.GetScanFileExtends(), nullptr);
  ASSERT_NE(holder.GetScanAppsSupport(), nullptr);
  EXPECT_EQ(holder.GetScanAppsSupport()->GetSize(), 0);
}

TEST(AutoScanAppType, SendsTheExtensionListOnly) {
  FakeServer server;
  CDOAutoScanAppType holder;
  EXPECT_EQ(holder.SetAllAutoScanAppList(), 1);
  EXPECT_EQ(server.last_request(),
            FakeServer::RequestText("<service value=\"SetScanFileTypeAtConsole\"/><extends/>"));
  auto doc = Extension("doc", 2);
  doc->SetSecretLevelName("Secret");
  holder.AddScanFileExtend(doc.get());
  holder.AddScanFileExtend(Extension("pdf", 3).get());
  EXPECT_EQ(holder.SetAllAutoScanAppList(), 1);
  EXPECT_EQ(server.last_request(),
            FakeServer::RequestText(
                "<service value=\"SetScanFileTypeAtConsole\"/><extends>"
                "<extend name=\"doc\" secretLevelId=\"2\" secretLevelName=\"Secret\"/>"
                "<extend name=\"pdf\" secretLevelId=\"3\"/></extends>"));
  server.QueueAnswer("<document><return code=\"8\"/></document>");
  EXPECT_EQ(holder.SetAllAutoScanAppList(), 0);
}

TEST(AutoScanAppType, ExtensionListRules) {
  CDOAutoScanAppType holder;
  EXPECT_EQ(holder.AddScanFileExtend(nullptr), 0);
  EXPECT_EQ(holder.RemoveScanFileExtend(nullptr), 0);
  EXPECT_EQ(holder.FindFileExtend(nullptr), nullptr);
  EXPECT_EQ(holder.RemoveScanFileExtend(Extension("doc").get()), 1);  // no list yet
  EXPECT_EQ(holder.GetScanFileExtends(), nullptr);

  auto doc = Extension("doc");
  EXPECT_EQ(holder.AddScanFileExtend(doc.get()), 1);
  EXPECT_EQ(holder.AddScanFileExtend(Extension("DOC", 5).get()), 1);  // the same extension
  EXPECT_EQ(holder.AddScanFileExtend(Extension("xls").get()), 1);
  ASSERT_EQ(holder.GetScanFileExtends()->GetSize(), 2);

  CDOScanFileExtend* found = holder.FindFileExtend(Extension("Doc").get());
  ASSERT_NE(found, nullptr);
  EXPECT_NE(found, doc.get());  // the list keeps its own copy
  EXPECT_EQ(found->GetSecretLevelId(), 2);

  EXPECT_EQ(holder.RemoveScanFileExtend(Extension("pdf").get()), 1);
  EXPECT_EQ(holder.GetScanFileExtends()->GetSize(), 2);
  EXPECT_EQ(holder.RemoveScanFileExtend(Extension("DOC").get()), 1);
  ASSERT_EQ(holder.GetScanFileExtends()->GetSize(), 1);
  EXPECT_EQ(holder.FindFileExtend(doc.get()), nullptr);
}

}  // namespace
}  // namespace docsec
