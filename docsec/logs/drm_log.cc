#include "docsec/logs/drm_log.h"

#include <memory>

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
using internal::kDefaultDataSource;
using internal::kLogDataSource;

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

DataObjectList* CDODrmLog::SerachDB(
    std::string* order, std::string* orderBy, std::string* userId, std::string* userName,
    OleDateTime operationTimeFrom, OleDateTime operationTimeTo, std::string* operation,
    std::string* operationType, std::string* userDepartment, std::string* dstCompName,
    unsigned long dstCompIp, std::string* dstCompDeptPath, std::string* usedCompName,
    unsigned long usedCompIp, std::string* usedCompDeptPath, std::string* dstFile,
    std::string* dstFileSecLvl, std::string* srcFile, std::string* srcFileSecLvl,
    std::string* fileType, OleDateTime createTimeFrom, OleDateTime createTimeTo,
    std::string* pageNum, std::string* pageSum, int& count, int databaseIndex) {
  // A null text would be a caller's bug; it searches as an empty condition rather than crash.
  auto text = [](const std::string* value) { return Variant(value ? *value : std::string()); };
  ValueMap conditions;
  conditions.Set("order", text(order));
  conditions.Set("orderBy", text(orderBy));
  conditions.Set("userId", text(userId));
  conditions.Set("userName", text(userName));
  conditions.Set("operationTimeFrom", DateCondition(operationTimeFrom));
  conditions.Set("operationTimeTo", DateCondition(operationTimeTo));
  conditions.Set("operation", text(operation));
  conditions.Set("operationType", text(operationType));
  conditions.Set("userDepartment", text(userDepartment));
  conditions.Set("dstCompName", text(dstCompName));
  conditions.Set("dstCompIp", AddressCondition(dstCompIp));
  conditions.Set("dstCompDeptPath", text(dstCompDeptPath));
  conditions.Set("usedCompName", text(usedCompName));
  conditions.Set("usedCompIp", AddressCondition(usedCompIp));
  conditions.Set("usedCompDeptPath", text(usedCompDeptPath));
  conditions.Set("dstFile", text(dstFile));
  conditions.Set("dstFileSecLvl", text(dstFileSecLvl));
  conditions.Set("srcFile", text(srcFile));
  conditions.Set("srcFileSecLvl", text(srcFileSecLvl));
  conditions.Set("fileType", text(fileType));
  conditions.Set("createTimeFrom", DateCondition(createTimeFrom));
  conditions.Set("createTimeTo", DateCondition(createTimeTo));
  conditions.Set("pageNum", text(pageNum));
  conditions.Set("pageSum", text(pageSum));

  // The receiver goes back to the ordinary data source however the search ends.
  struct RestoreSource {
    CDODrmLog* log;
    ~RestoreSource() { log->SetDataSource(kDefaultDataSource); }
  } restore{this};
  SetDataSource(kLogDataSource);
  return Lookup(&conditions, count, databaseIndex);
}

DataObjectList* CDODrmLog::Lookup(ValueMap* conditions, int& count, int databaseIndex) {
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
  return list.release();
}

int CDODrmLog::UpdateLogs(CDOComputer* computer) {
  if (computer == nullptr) return 0;
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
