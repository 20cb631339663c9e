// The log and scan classes: identity, declarations, the extension comparison; the scan logs'
// setters, loading and searches; the automatic-scan settings and their extension list.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

using testing::FakeServer;

std::string RequestText(const std::string& body) {
  return FakeServer::kProlog + ("<document>" + body + "</document>");
}

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
               {12, "2024-03-05 12:05:09"},
               {23, "2024-03-05 11:05:09"}};
  for (const auto& c : cases) {
    OleDateTime when(2024, 3, 5, c.hour, 5, 9);
    CDOScanDrmLog log;
    log.SetScanStartTime(when);
    log.SetScanEndTime(when);
    log.SetScanLogTime(when);
    EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanStartTime), c.expected) << c.hour;
    EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanEndTime), c.expected) << c.hour;
    EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetScanLogTime), c.expected) << c.hour;
  }
}

TEST(ScanDrmLog, AddressAndCurrentTimeSetters) {
  CDOScanDrmLog log;
  log.SetComputerIP(0xC0A80A01UL);
  EXPECT_EQ(Text(&log, &CDOScanDrmLog::GetComputerIp), "192.168.10.1");
  ASSERT_EQ(log.SetScanStartTime(), 1);
  const std::string now = Text(&log, &CDOScanDrmLog::GetScanStartTime);
  ASSERT_EQ(now.size(), 19u);
  const int hour = std::stoi(now.substr(11, 2));
  EXPECT_GE(hour, 1);
  EXPECT_LE(hour, 12);
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
  EXPECT_EQ(server.last_request(),
            RequestText("<service value=\"QueryScanLog\"/><databaseIndex value=\"1\"/>"
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
    EXPECT_EQ(server.last_request(), RequestText(c.request_body));
    ASSERT_EQ(found->GetSize(), 2);
    EXPECT_EQ(typeid(*found->GetAt(0)), typeid(*receiver));
    EXPECT_EQ(receiver->GetDataSource(), 2);
    server.QueueAnswer("<document><return code=\"4\"/></document>");
    EXPECT_EQ(c.run(receiver.get()), nullptr);
  }
}

TEST(ScanLogSearches, LoadedApplicationsAndFilesHaveEveryField) {
  FakeServer server;
  server.QueueAnswer(
      "<document><return code=\"0\"/><scanLogApp appName=\"excel.exe\"/></document>");
  ListPtr apps(CDOScanLogApp::GetClassInstance()->SearchAppInof("8"));
  ASSERT_NE(apps, nullptr);
  ASSERT_EQ(apps->GetSize(), 1);
  auto* app = static_cast<CDOScanLogApp*>(apps->GetAt(0));
  EXPECT_EQ(Text(app, &CDOScanLogApp::GetAppName), "excel.exe");
  EXPECT_EQ(Text(app, &CDOScanLogApp::GetTotalFailed), " ");
  EXPECT_EQ(app->GetScanLogFilesList(), nullptr);
  CDOScanLogFile file;
  EXPECT_EQ(file.LoadFromXmlNode(XmlElement()), 1);
  EXPECT_EQ(Text(&file, &CDOScanLogFile::GetFileFullPath), " ");
  CDOScanLogApp::GetClassInstance()->SetDataSource(1);
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
  EXPECT_EQ(server.last_request(), RequestText("<service value=\"GetScanFileTypeAtConsole\"/>"));
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
            RequestText("<service value=\"SetScanFileTypeAtConsole\"/><extends/>"));
  auto doc = Extension("doc", 2);
  doc->SetSecretLevelName("Secret");
  holder.AddScanFileExtend(doc.get());
  holder.AddScanFileExtend(Extension("pdf", 3).get());
  EXPECT_EQ(holder.SetAllAutoScanAppList(), 1);
  EXPECT_EQ(server.last_request(),
            RequestText("<service value=\"SetScanFileTypeAtConsole\"/><extends>"
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
