#include "docsec/logs/drm_log.h"

#include <memory>

#include "docsec/channel/outcome.h"
#include "docsec/agent/agent_command.h"
#include "docsec/computers/computer.h"
#include "docsec/logs/log_search.h"
#include "docsec/platform/com_error.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDODrmLog, kObjectTypeNone, "Log", "log", s_clsDrmLog)

namespace {

// Computer names and identities are copied through buffers of this size.
constexpr unsigned long kComputerTextSize = 768;

using internal::AddressCondition;
using internal::DateCondition;
using internal::DottedAddress;
using internal::LogDataSourceScope;
using internal::TextCondition;

}  // namespace

int CDODrmLog::SetOperationTime(OleDateTime& time) {
  return SetText(kOperationTime, time.Format().c_str());
}

int CDODrmLog::SetOperationTime() {
  OleDateTime now = OleDateTime::GetCurrentTime();
  return SetOperationTime(now);
}

int CDODrmLog::SetDestCompIP(unsigned long address) {
  return SetText(kDstCompIp, DottedAddress(address).c_str());
}

int CDODrmLog::SetUsedCompIP(unsigned long address) {
  return SetText(kUsedCompIp, DottedAddress(address).c_str());
}

int CDODrmLog::SetLogCreateTime(OleDateTime& time) {
  return SetText(kCreateTime, time.Format().c_str());
}

int CDODrmLog::SetLogCreateTime() {
  OleDateTime now = OleDateTime::GetCurrentTime();
  return SetLogCreateTime(now);
}

namespace {

// The filters SerachDB and SearchDBAfter share, in the order a search request carries them.
void SetFilterConditions(ValueMap& conditions, std::string* userId, std::string* userName,
                         OleDateTime operationTimeFrom, OleDateTime operationTimeTo,
                         std::string* operation, std::string* operationType,
                         std::string* userDepartment, std::string* dstCompName,
                         unsigned long dstCompIp, std::string* dstCompDeptPath,
                         std::string* usedCompName, unsigned long usedCompIp,
                         std::string* usedCompDeptPath, std::string* dstFile,
                         std::string* dstFileSecLvl, std::string* srcFile,
                         std::string* srcFileSecLvl, std::string* fileType,
                         OleDateTime createTimeFrom, OleDateTime createTimeTo) {
  conditions.Set("userId", TextCondition(userId));
  conditions.Set("userName", TextCondition(userName));
  conditions.Set("operationTimeFrom", DateCondition(operationTimeFrom));
  conditions.Set("operationTimeTo", DateCondition(operationTimeTo));
  conditions.Set("operation", TextCondition(operation));
  conditions.Set("operationType", TextCondition(operationType));
  conditions.Set("userDepartment", TextCondition(userDepartment));
  conditions.Set("dstCompName", TextCondition(dstCompName));
  conditions.Set("dstCompIp", AddressCondition(dstCompIp));
  conditions.Set("dstCompDeptPath", TextCondition(dstCompDeptPath));
  conditions.Set("usedCompName", TextCondition(usedCompName));
  conditions.Set("usedCompIp", AddressCondition(usedCompIp));
  conditions.Set("usedCompDeptPath", TextCondition(usedCompDeptPath));
  conditions.Set("dstFile", TextCondition(dstFile));
  conditions.Set("dstFileSecLvl", TextCondition(dstFileSecLvl));
  conditions.Set("srcFile", TextCondition(srcFile));
  conditions.Set("srcFileSecLvl", TextCondition(srcFileSecLvl));
  conditions.Set("fileType", TextCondition(fileType));
  conditions.Set("createTimeFrom", DateCondition(createTimeFrom));
  conditions.Set("createTimeTo", DateCondition(createTimeTo));
}

}  // namespace

DataObjectList* CDODrmLog::SerachDB(
    std::string* order, std::string* orderBy, std::string* userId, std::string* userName,
    OleDateTime operationTimeFrom, OleDateTime operationTimeTo, std::string* operation,
    std::string* operationType, std::string* userDepartment, std::string* dstCompName,
    unsigned long dstCompIp, std::string* dstCompDeptPath, std::string* usedCompName,
    unsigned long usedCompIp, std::string* usedCompDeptPath, std::string* dstFile,
    std::string* dstFileSecLvl, std::string* srcFile, std::string* srcFileSecLvl,
    std::string* fileType, OleDateTime createTimeFrom, OleDateTime createTimeTo,
    std::string* pageNum, std::string* pageSum, int& count, int databaseIndex) {
  ValueMap conditions;
  conditions.Set("order", TextCondition(order));
  conditions.Set("orderBy", TextCondition(orderBy));
  SetFilterConditions(conditions, userId, userName, operationTimeFrom, operationTimeTo, operation,
                      operationType, userDepartment, dstCompName, dstCompIp, dstCompDeptPath,
                      usedCompName, usedCompIp, usedCompDeptPath, dstFile, dstFileSecLvl, srcFile,
                      srcFileSecLvl, fileType, createTimeFrom, createTimeTo);
  conditions.Set("pageNum", TextCondition(pageNum));
  conditions.Set("pageSum", TextCondition(pageSum));
  LogDataSourceScope log_source(this);
  return Lookup(&conditions, count, databaseIndex);
}

DataObjectList* CDODrmLog::SearchDBAfter(
    std::string* order, std::string* userId, std::string* userName, OleDateTime operationTimeFrom,
    OleDateTime operationTimeTo, std::string* operation, std::string* operationType,
    std::string* userDepartment, std::string* dstCompName, unsigned long dstCompIp,
    std::string* dstCompDeptPath, std::string* usedCompName, unsigned long usedCompIp,
    std::string* usedCompDeptPath, std::string* dstFile, std::string* dstFileSecLvl,
    std::string* srcFile, std::string* srcFileSecLvl, std::string* fileType,
    OleDateTime createTimeFrom, OleDateTime createTimeTo, std::string* pageSum,
    DrmLogCursor& cursor, int& count, int databaseIndex) {
  ValueMap conditions;
  conditions.Set("order", TextCondition(order));
  conditions.Set("orderBy", Variant("operationTime"));
  SetFilterConditions(conditions, userId, userName, operationTimeFrom, operationTimeTo, operation,
                      operationType, userDepartment, dstCompName, dstCompIp, dstCompDeptPath,
                      usedCompName, usedCompIp, usedCompDeptPath, dstFile, dstFileSecLvl, srcFile,
                      srcFileSecLvl, fileType, createTimeFrom, createTimeTo);
  conditions.Set("pageSum", TextCondition(pageSum));
  if (!cursor.id.empty()) {
    conditions.Set("afterOperationTime", Variant(cursor.operationTime));
    conditions.Set("afterId", Variant(cursor.id));
  }
  if (!cursor.maxId.empty()) conditions.Set("maxId", Variant(cursor.maxId));
  LogDataSourceScope log_source(this);
  XmlDocument answer;
  DataObjectList* found = LookupAnswer(&conditions, count, databaseIndex, &answer);
  if (found == nullptr) return nullptr;
  // A server that answers no cursor cannot go on from here: the walk ends, and the caller sees
  // fewer entries than the total.
  XmlElement next = answer.DocumentElement().SelectSingleNode("cursor");
  const char* more = next ? next.GetAttribute("more") : nullptr;
  cursor.more = more != nullptr && std::string(more) == "true";
  if (next) {
    const char* time = next.GetAttribute("operationTime");
    const char* id = next.GetAttribute("id");
    const char* max_id = next.GetAttribute("maxId");
    cursor.operationTime = time != nullptr ? time : "";
    if (id != nullptr) cursor.id = id;
    if (cursor.maxId.empty() && max_id != nullptr) cursor.maxId = max_id;
  }
  return found;
}

DataObjectList* CDODrmLog::Lookup(ValueMap* conditions, int& count, int databaseIndex) {
  return LookupAnswer(conditions, count, databaseIndex, nullptr);
}

DataObjectList* CDODrmLog::LookupAnswer(ValueMap* conditions, int& count, int databaseIndex,
                                        XmlDocument* received) {
  XmlDocument answer =
      Exchange("Query" + GetObjectName(), [this, conditions, databaseIndex](XmlElement& root) {
        root.AppendElement("databaseIndex")
            .AppendAttribute("value", static_cast<long long>(databaseIndex));
        AssemblyConditionXmlNode(root, conditions);
        return true;
      });
  if (!answer) return nullptr;
  DataObjectList* found = nullptr;
  LoadChildObjects(answer.DocumentElement(), &found, this, nullptr);
  std::unique_ptr<DataObjectList> list(found);
  if (XmlElement total = answer.SelectSingleNode("//count")) {
    // A count that does not read as a number tells nothing: the caller's value stays.
    const char* text = total.GetAttribute("value");
    try {
      if (text != nullptr) count = Variant::FromText(text, kVtI4).Int32();
    } catch (const ComError&) {
    }
  }
  if (received != nullptr) *received = answer;
  return list.release();
}

int CDODrmLog::UpdateLogs(CDOComputer* computer) {
  if (computer == nullptr) return SetLibraryFailure("UploadLogs", "no computer given");
  return Exchange("UploadLogs",
                  [this, computer](XmlElement& root) {
                    XmlElement pre = AssemblyXmlPreNode(root, computer);
                    return static_cast<bool>(AssemblyXmlNode(pre));
                  })
             ? 1
             : 0;
}

XmlElement CDODrmLog::AssemblyXmlPreNode(const XmlElement& parent, CDOComputer* computer) {
  if (!parent || computer == nullptr) return XmlElement();
  char name[kComputerTextSize] = "";
  char uuid[kComputerTextSize] = "";
  computer->GetName(name, sizeof name);
  computer->GetUuid(uuid, sizeof uuid);
  XmlElement element = parent.AppendElement("computer");
  element.AppendAttribute("name", name);
  element.AppendAttribute("uuid", uuid);
  return element;
}

XmlDocument CDODrmLog::CreateRequestLogXml(const std::string& operationName) {
  // The envelope of a server request with a declaration that names no encoding is, to the byte,
  // the agent command document.
  return BuildAgentCommand(operationName.c_str());
}

int CDODrmLog::LoadFromXmlNode(const XmlElement& element) {
  // Every attribute ends up set: what the record lacks reads as one blank, so a console showing
  // a page of records never meets an unset field.
  for (const Attr* attr : kAttributes) {
    const char* text = element ? element.GetAttribute(attr->name) : nullptr;
    SetText(*attr, text != nullptr ? text : " ");
  }
  return 1;
}

}  // namespace docsec
