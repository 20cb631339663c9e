// CDODrmLog: one operation-log record of the server: who did what to which protected file on which
// computer from which workstation. The library fills records and uploads them with the computer
// they concern; consoles search the log page by page in one of several log databases.
//
// All attributes are text. Searches go through data source 2 and give the receiver back data
// source 1. Ownership: attributes only; search results belong to the caller with their members.
// Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_DRM_LOG_H_
#define DOCSEC_LOGS_DRM_LOG_H_

#include <string>

#include "docsec/core/data_object_class.h"
#include "docsec/platform/ole_date_time.h"

namespace docsec {

class CDOComputer;

// Where a walk through the operation log stands (CDODrmLog::SearchDBAfter). Start with it empty;
// each page sets it from the server's answer: the last entry's operationTime and id (the order
// the walk follows), the highest entry id the walk covers (fixed by the first page, so that entries
// stored later are left out and none is listed twice) and whether entries follow.
struct DrmLogCursor {
  std::string operationTime;
  std::string id;
  std::string maxId;
  bool more = true;
};

class DOCSEC_EXPORT CDODrmLog : public CDataObject {
  DOCSEC_DATA_OBJECT(CDODrmLog)

  static constexpr Attr kUserId{"userId", kVtBstr, kAttrKey};
  static constexpr Attr kUserName{"userName"};
  static constexpr Attr kOperationTime{"operationTime"};
  static constexpr Attr kOperationType{"operationType"};
  static constexpr Attr kOperation{"operation"};
  static constexpr Attr kUserDepartment{"userDepartment"};
  static constexpr Attr kDstCompName{"dstCompName"};
  static constexpr Attr kDstCompIp{"dstCompIp"};
  static constexpr Attr kDstCompDeptPath{"dstCompDeptPath"};
  static constexpr Attr kUsedCompName{"usedCompName"};
  static constexpr Attr kUsedCompIp{"usedCompIp"};
  static constexpr Attr kUsedCompDeptPath{"usedCompDeptPath"};
  static constexpr Attr kDstFile{"dstFile"};
  static constexpr Attr kDstFileSecLvl{"dstFileSecLvl"};
  static constexpr Attr kSrcFile{"srcFile"};
  static constexpr Attr kSrcFileSecLvl{"srcFileSecLvl"};
  static constexpr Attr kFileType{"fileType"};
  static constexpr Attr kCreateTime{"createTime"};
  static constexpr Attr kFileUuid{"fileUUID"};
  // The account whose session uploaded the entry, as the server answers it; never sent.
  static constexpr Attr kUploadedBy{"uploadedBy", kVtBstr, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kUserId, &kUserName, &kOperationTime, &kOperationType, &kOperation, &kUserDepartment,
            &kDstCompName, &kDstCompIp, &kDstCompDeptPath, &kUsedCompName, &kUsedCompIp,
            &kUsedCompDeptPath, &kDstFile, &kDstFileSecLvl, &kSrcFile, &kSrcFileSecLvl, &kFileType,
            &kCreateTime, &kFileUuid, &kUploadedBy);

  DOCSEC_TEXT_PROPERTY(Uid, kUserId)
  int SetUid(int id) { return SetInt32(kUserId, id); }  // written in decimal
  int GetUserNameA(char* buffer, unsigned long size) { return GetText(kUserName, buffer, size); }
  int SetUserName(const char* name) { return SetText(kUserName, name); }
  // The time forms write "%Y-%m-%d %H:%M:%S" (24-hour clock); without argument, the current
  // local time.
  DOCSEC_TEXT_PROPERTY(OperationTime, kOperationTime)
  int SetOperationTime(OleDateTime& time);
  int SetOperationTime();
  DOCSEC_TEXT_PROPERTY(OperationType, kOperationType)
  DOCSEC_TEXT_PROPERTY(Operation, kOperation)
  DOCSEC_TEXT_PROPERTY(UserDepartment, kUserDepartment)
  DOCSEC_TEXT_PROPERTY(DestCompName, kDstCompName)
  // The address forms write "%d.%d.%d.%d", most significant byte first.
  DOCSEC_TEXT_PROPERTY(DestCompIP, kDstCompIp)
  int SetDestCompIP(unsigned long address);
  DOCSEC_TEXT_PROPERTY(DestCompDeptPath, kDstCompDeptPath)
  DOCSEC_TEXT_PROPERTY(UsedCompName, kUsedCompName)
  DOCSEC_TEXT_PROPERTY(UsedCompIP, kUsedCompIp)
  int SetUsedCompIP(unsigned long address);
  DOCSEC_TEXT_PROPERTY(UsedCompDeptPath, kUsedCompDeptPath)
  DOCSEC_TEXT_PROPERTY(DestFile, kDstFile)
  DOCSEC_TEXT_PROPERTY(DestFileSecLvl, kDstFileSecLvl)
  DOCSEC_TEXT_PROPERTY(SrcFile, kSrcFile)
  DOCSEC_TEXT_PROPERTY(SrcFileSecLvl, kSrcFileSecLvl)
  DOCSEC_TEXT_PROPERTY(FileType, kFileType)
  DOCSEC_TEXT_PROPERTY(LogCreateTime, kCreateTime)
  int SetLogCreateTime(OleDateTime& time);
  int SetLogCreateTime();
  int SetFileUuid(const char* uuid) { return SetText(kFileUuid, uuid); }
  int GetUploadedBy(char* buffer, unsigned long size) { return GetText(kUploadedBy, buffer, size); }

  // One page of the log in database `databaseIndex` ("QueryLog" through data source 2), filtered
  // by the conditions given (an empty text sends an empty condition; an invalid date and address 0
  // send empty text; every pointer must be non-null). The caller owns the list and its members;
  // null on failure. `count` receives the total number of matching records when the answer gives
  // it. The receiver is at data source 1 afterwards.
  DataObjectList* SerachDB(
      std::string* order, std::string* orderBy, std::string* userId, std::string* userName,
      OleDateTime operationTimeFrom, OleDateTime operationTimeTo, std::string* operation,
      std::string* operationType, std::string* userDepartment, std::string* dstCompName,
      unsigned long dstCompIp, std::string* dstCompDeptPath, std::string* usedCompName,
      unsigned long usedCompIp, std::string* usedCompDeptPath, std::string* dstFile,
      std::string* dstFileSecLvl, std::string* srcFile, std::string* srcFileSecLvl,
      std::string* fileType, OleDateTime createTimeFrom, OleDateTime createTimeTo,
      std::string* pageNum, std::string* pageSum, int& count, int databaseIndex);
  // The page after `cursor` (the first page when it is empty) in operation-time order (`order`
  // "asc" or "desc"; ties by entry), filtered as SerachDB filters, at most `pageSum` entries.
  // Unlike SerachDB's numbered pages, a walk from page to page lists each entry that existed when
  // it began exactly once while others arrive. On success `cursor` moves to the page's end
  // (`more` false when the walk is over, also when the server answers no cursor) and `count`
  // receives the walk's total; null on failure, with `cursor` and `count` untouched.
  DataObjectList* SearchDBAfter(
      std::string* order, std::string* userId, std::string* userName, OleDateTime operationTimeFrom,
      OleDateTime operationTimeTo, std::string* operation, std::string* operationType,
      std::string* userDepartment, std::string* dstCompName, unsigned long dstCompIp,
      std::string* dstCompDeptPath, std::string* usedCompName, unsigned long usedCompIp,
      std::string* usedCompDeptPath, std::string* dstFile, std::string* dstFileSecLvl,
      std::string* srcFile, std::string* srcFileSecLvl, std::string* fileType,
      OleDateTime createTimeFrom, OleDateTime createTimeTo, std::string* pageSum,
      DrmLogCursor& cursor, int& count, int databaseIndex);
  // The generic look-up stays reachable beside the paged one.
  using CDataObject::Lookup;
  // "QueryLog" in database `databaseIndex` with `conditions`, sent with the receiver's data
  // source; the records found (owned by the caller with their members) or null. `count` is set
  // from the answer's "count" element, left alone when there is none or the search failed.
  DataObjectList* Lookup(ValueMap* conditions, int& count, int databaseIndex);
  // Uploads this record for `computer` (not null) with "UploadLogs"; 1 when the server accepts.
  int UpdateLogs(CDOComputer* computer);
  // Appends the upload's "computer" element (its "name" and "uuid") under `parent`; returns it.
  XmlElement AssemblyXmlPreNode(const XmlElement& parent, CDOComputer* computer);
  // A request document for `operationName` whose declaration carries no encoding; null when no
  // document can be made.
  XmlDocument CreateRequestLogXml(const std::string& operationName);
  // Sets every attribute: its text on `element`, or " " when absent; 1.
  int LoadFromXmlNode(const XmlElement& element) override;

 private:
  // Lookup, handing the whole answer to `answer` for what else it carries.
  DataObjectList* LookupAnswer(ValueMap* conditions, int& count, int databaseIndex,
                               XmlDocument* answer);
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_DRM_LOG_H_
