// CDOComputer: a managed computer, on which the product's agent runs. It carries the server's
// record of the computer, the last known connection status of its agent and the root of the
// computer's remote file tree.
//
// Ownership: the computer owns its root folder and, through it, the cached remote tree; the owner
// department is a back reference. Lists passed to the several-computer operations stay the
// caller's. Thread safety: one thread at a time; separate computers may be probed concurrently.
#ifndef DOCSEC_COMPUTERS_COMPUTER_H_
#define DOCSEC_COMPUTERS_COMPUTER_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "docsec/agent/agent_command.h"
#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOAgentFolder;
class CDODepartment;

class DOCSEC_EXPORT CDOComputer : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOComputer)

  static constexpr Attr kUuid{"uuid", kVtBstr, kAttrKey};
  static constexpr Attr kIp{"ip"};
  static constexpr Attr kName{"name"};
  static constexpr Attr kIsApproved{"isApproved", kVtBool};
  static constexpr Attr kStatus{"status"};
  static constexpr Attr kAgentVersion{"agentVersion"};
  static constexpr Attr kUpdateStatus{"updateStatus", kVtInt};
  static constexpr Attr kIsManualEncrypt{"isManualEncrypt", kVtBool};
  static constexpr Attr kUpdateTime{"updateTime", kVtDate};
  static constexpr Attr kDepartmentId{"departmentId", kVtInt};
  static constexpr Attr kAllowUpdate{"allowUpdate", kVtBool};
  static constexpr Attr kExtPermission{"extPermission", kVtInt};
  static constexpr Attr kIsEncrypt{"isEncrypt", kVtBool};
  static constexpr Attr kDepartmentPath{"departmentPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kLastLoginTime{"lastLoginTiime", kVtDate, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kUuid, &kIp, &kName, &kIsApproved, &kStatus, &kAgentVersion, &kUpdateStatus,
            &kIsManualEncrypt, &kUpdateTime, &kDepartmentId, &kAllowUpdate, &kExtPermission,
            &kIsEncrypt, &kDepartmentPath, &kLastLoginTime);

  // Copies every attribute value and the connection status; makes its own root folder.
  explicit CDOComputer(CDOComputer* other);
  ~CDOComputer() override;

  // Own virtual operations, in slot order.
  virtual CDODepartment* GetOwnerDepartment();
  virtual void SetOwnerDepartment(CDODepartment* owner);
  // The computer's drives (the root folder's children), re-read from the agent; owned by the
  // root folder; null unless the connection status is 3.
  virtual DataObjectList* GetDrivesEx();
  // The same, from the cache when it was read before.
  virtual DataObjectList* GetDrives();
  // File search over the whole computer ("QueryFile" on the root); a new list owned by the
  // caller, or null.
  virtual DataObjectList* SearchFilesWithoutPath(const char* pattern, int encryptedOnly,
                                                 int withSubFolders, int caseSensitive,
                                                 double modifiedFrom, double modifiedTo,
                                                 long sizeFrom, long sizeTo);

  // Accessors.
  DOCSEC_TEXT_PROPERTY(Uuid, kUuid)
  DOCSEC_TEXT_PROPERTY(Ip, kIp)
  DOCSEC_TEXT_PROPERTY(Name, kName)
  DOCSEC_BOOL_PROPERTY(IsApproved, kIsApproved)
  // "status" read as a decimal integer; -1 when no text could be read.
  long GetComputerScanStatus();
  int SetComputerScanStatus(long status) { return SetInt32(kStatus, status); }
  // "status" as the server wrote it (the status queries store the answer's text).
  DOCSEC_TEXT_PROPERTY(ComputerScanStatusText, kStatus)
  DOCSEC_TEXT_PROPERTY(ComputerVersion, kAgentVersion)
  DOCSEC_INT_PROPERTY(ComputerUpdateStatus, kUpdateStatus)
  // -1 when unset, else 0 or 1.
  long GetComputerManualEncryptState();
  int SetComputerManualEncryptState(long on) { return SetInt32(kIsManualEncrypt, on); }
  DOCSEC_DATE_PROPERTY(UpdateTime, kUpdateTime)
  DOCSEC_INT_PROPERTY(DepartmentId, kDepartmentId)
  DOCSEC_BOOL_PROPERTY(IsAllowUpdate, kAllowUpdate)
  DOCSEC_INT_PROPERTY(ComputerSpecialPermission, kExtPermission)
  DOCSEC_BOOL_PROPERTY(IsAutoScanEnctypt, kIsEncrypt)
  // "ip" as an IPv4 address in network byte order; 0xFFFFFFFF when it is not dotted IPv4.
  unsigned long GetIpV4();

  CEnumComputerConnectionStatus GetConnectionStatus() const { return connection_status_; }
  void SetConnectionStatus(CEnumComputerConnectionStatus status) { connection_status_ = status; }
  int IsRunningStatusOk() const { return connection_status_ == ConnectionRunning ? 1 : 0; }
  // Probes the agent (ping, then "GetStatus"); non-zero when the status changed.
  int RefreshConnectionStatus();
  // What a probe needs: the address and the identity the agent must report. False, and nothing
  // to probe, when the computer is not approved, its "ip" is no IPv4 address or its "uuid" no
  // UUID.
  bool GetProbeTarget(uint32_t* address, Uuid* uuid);
  // Sends "NotifyApproveStatus" to the agent; non-zero when it acknowledged.
  int NotifyAgentConfigChange();

  int ChangeDepartment(CDODepartment* department);
  int ChangeDepartment(DataObjectList* computers, CDODepartment* department);
  int ApplyApprovedStatus(int approved);
  int ApplyApprovedStatus(DataObjectList* computers, bool approved);

  // The folder of the cached remote tree with that path, or null.
  CDOAgentFolder* FindFolderByPath(const char* path);
  // Drops the cached remote tree.
  void ClearRootFolderObjectList();
  // The root of the remote file tree (empty path), owned by the computer. Made on first use: a
  // tree of tens of thousands of computers never browsed should not carry a folder for each.
  CDOAgentFolder* GetRootFolder();

 private:
  int UpdateComputerData(DataObjectList* computers);
  int IsLocalComputer();
  // Sets `attr` to `value` on every computer of `computers`, runs `send`, and when that fails puts
  // every old value back (an unset one included). The result of `send`.
  static int SetThenSend(const std::vector<CDOComputer*>& computers, const Attr& attr,
                         const Variant& value, const std::function<int()>& send);

  // The two 4-byte fields side by side: a loaded tree holds thousands of computers.
  CEnumComputerConnectionStatus connection_status_ = ConnectionNotProbed;
  int is_local_ = 0;
  CDODepartment* owner_ = nullptr;
  CDOAgentFolder* root_folder_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_COMPUTERS_COMPUTER_H_
