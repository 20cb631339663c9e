// CDODepartment: a node of the organization tree, with its sub-departments, computers, positions,
// users and IP segments (loaded together by a tree refresh), its policies and its default
// application secret levels (loaded on demand).
//
// Ownership: the department owns its seven lists and every member of them; deleting a root deletes
// its whole sub-tree. The owner department is a back reference. Lists handed out by the accessors
// stay the department's. Lists returned by searches belong to the caller: local searches hold
// pointers into the tree (delete the list only), server searches hold new objects (delete both).
//
// Thread safety: a tree is used by one thread at a time.
#ifndef DOCSEC_ORG_DEPARTMENT_H_
#define DOCSEC_ORG_DEPARTMENT_H_

#include <cstdint>

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOApplication;
class CDOComputer;
class CDODeptDefAppSecretLevel;
class CDOIpSegment;
class CDOPolicy;
class CDOPosition;
class CDOSecretLevel;
class CDOUser;

class DOCSEC_EXPORT CDODepartment : public CDataObject {
  DOCSEC_DATA_OBJECT(CDODepartment)

  static constexpr Attr kId{"id", kVtInt, kAttrKey};
  static constexpr Attr kName{"name"};
  static constexpr Attr kSuperDeptId{"superDeptId"};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kOffice{"office"};
  static constexpr Attr kTelephone{"telephone"};
  static constexpr Attr kFax{"fax"};
  static constexpr Attr kInnerPermission{"innerPermission", kVtInt};
  static constexpr Attr kAuthorPermission{"authorPermission", kVtInt};
  static constexpr Attr kCurrentVersion{"currentVersion"};
  static constexpr Attr kIsDelSubDeptIpSegment{"isDelSubDeptIpSegment", kVtBool, kAttrKey};
  static constexpr Attr kSuperDeptPath{"superDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kIsSystemDefault{"isSystemDefault", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kId, &kName, &kSuperDeptId, &kDescription, &kOffice, &kTelephone, &kFax,
            &kInnerPermission, &kAuthorPermission, &kCurrentVersion, &kIsDelSubDeptIpSegment,
            &kSuperDeptPath, &kIsSystemDefault);

  ~CDODepartment() override;
  int LoadFromXmlNode(const XmlElement& element) override;

  // Own virtual operations, in slot order.
  // Tree refresh: one "GetDepartmentTreeView" ("...1" with useView1) request for the sub-tree.
  virtual int RefreshSubObjects(int withSubDepartments, int withComputers, int withPositions,
                                int withUsers, int useView1);
  // As RefreshSubObjects, sending "deep"; does nothing (1) while the refresh mark is set.
  virtual int RefreshSubObjectsEx(int withSubDepartments, int withComputers, int withPositions,
                                  int withUsers, int useView1, int deep);
  // Local searches over the loaded sub-tree: new list (caller deletes the list only), or null.
  virtual DataObjectList* SearchComputers(const char* name, const char* ip, int approved,
                                          int recursive);
  // The first computer of that name (or IPv4 address, network byte order) whose agent runs,
  // probing computers not probed yet; null when none.
  virtual CDOComputer* FindOnlineComputer(const char* name);
  virtual CDOComputer* FindOnlineComputer(unsigned long ipv4);
  virtual DataObjectList* SearchUsers(const char* id, const char* name, int consoleManager,
                                      int supervisor, int recursive);
  // Server search "SearchUserPosition": new users owned by the caller, or null.
  virtual DataObjectList* SearchUsersFromServer(const char* userId, const char* name, int flag1,
                                                int flag2, int flag3);
  virtual CDODepartment* GetOwnerDepartment();
  // Only stores the pointer.
  virtual void SetOwnerDepartment(CDODepartment* owner);

  // Accessors.
  DOCSEC_INT_PROPERTY(Id, kId)
  DOCSEC_TEXT_PROPERTY(Name, kName)
  int GetSuper() { return static_cast<int>(GetInt32(kSuperDeptId)); }
  int SetSuper(long id) { return SetInt32(kSuperDeptId, id); }
  DOCSEC_TEXT_PROPERTY(Description, kDescription)
  DOCSEC_TEXT_PROPERTY(Office, kOffice)
  DOCSEC_TEXT_PROPERTY(Telephone, kTelephone)
  DOCSEC_TEXT_PROPERTY(Fax, kFax)
  int GetInnerPermission() { return static_cast<int>(GetInt32(kInnerPermission)); }
  int SetInnerPermission(long value) { return SetInt32(kInnerPermission, value); }
  int GetAuthorPermission() { return static_cast<int>(GetInt32(kAuthorPermission)); }
  int SetAuthorPermission(long value) { return SetInt32(kAuthorPermission, value); }
  DOCSEC_TEXT_PROPERTY(CurrentVersion, kCurrentVersion)
  int SetIsDelSubDeptIpSegment(bool on) { return SetBool(kIsDelSubDeptIpSegment, on); }
  DOCSEC_TEXT_PROPERTY(SuperDepartmentPath, kSuperDeptPath)

  // Lists: null until loaded; owned by the department.
  DataObjectList* GetSubDepartments() { return departments_.get(); }
  DataObjectList* GetComputers() { return computers_.get(); }
  DataObjectList* GetPositons() { return positions_.get(); }
  DataObjectList* GetUsers() { return users_.get(); }
  DataObjectList* GetIpSegments() { return segments_.get(); }
  int GetRefreshDeep() const { return refresh_deep_; }
  int SetRefreshDeep(int deep) { return refresh_deep_ = deep; }

  // Full path: the owners' names (or the stored "superDeptPath"), "/", then the name.
  int GetFullPath(char* buffer, unsigned long size);
  // The same path whole, however long.
  std::string GetFullPathText();
  // Stores the text before the last "/" as "superDeptPath"; 0 for a null path.
  int SetFullPath(char* path);

  // Tree look-ups, depth first, own lists before children; null when not found.
  CDODepartment* FindDepartmentById(long id);
  CDOComputer* FindComputerByUuid(const char* uuid);
  CDOComputer* FindComputerByIp(const char* ip);

  // Membership changes: the server verb on the child first, the local lists after it succeeded.
  int AddSubDepartment(CDODepartment* department);
  int AddComputer(CDOComputer* computer);
  int AddPosition(CDOPosition* position);
  int AddUser(CDOUser* user);
  int RemoveSubDepartment(CDODepartment* department);
  int RemoveComputer(CDOComputer* computer);
  int RemovePosition(CDOPosition* position);
  int RemoveUser(CDOUser* user);
  int MoveInSubDepartment(CDODepartment* department);
  int MoveInComputer(CDOComputer* computer);
  int MoveInUser(CDOUser* user);
  int MoveOutSubDepartment(CDODepartment* department);
  int MoveOutComputer(CDOComputer* computer);
  int MoveOutUser(CDOUser* user);
  int ChangeDepartment(CDODepartment* newParent);

  // Searches (local ones give pointers into the tree; server ones new objects).
  DataObjectList* SearchPositions(const char* positionName, int recursive);
  DataObjectList* SearchPositionsFromServer(const char* positionName, int withSubDepartments);
  DataObjectList* SearchObjectFromServer(int withSubDepartments, CDataObject* sample);
  DataObjectList* SearchUserAndPositionFromServer(int withSubDepartments, const char* name);

  // Computer status queries over the sub-tree's computers.
  DataObjectList* SearchComputerScanStatus();
  DataObjectList* GetComputerScanStatus(int* total, int* scanned, int* abnormal);
  DataObjectList* GetComputerScanStatusEX(int* done, int* total, int* state0, int* state1,
                                          int* state2);
  DataObjectList* GetComputerVersionStatus(int* total, int* updated, int* done);
  DataObjectList* GetComputerVersionStatusEx(int* total, int* updated, int* done);
  int GetComputerAutoHandeEncryptState();
  int SetComputerAutoHandeEncryptState(DataObjectList* computers);
  int SetComputerUpdateStatus(DataObjectList* computers);
  int SetAutoScanComputers(DataObjectList* computers, bool encrypt);

  // IP segments; the lists passed in stay the caller's.
  int AddIpSegment(DataObjectList* segments, bool withSubDepartments);
  int RemoveIpSegment(DataObjectList* segments, bool withSubDepartments);
  int ClearComputerIpSegment(bool withSubDepartments);

  // Policies and default application secret levels. Grant and refuse change only the lists in
  // memory; the Apply operations send them.
  // Replaces the policy list with the department's policies and their authorizations
  // ("QueryPolicy"); 1 when the server answered (the list is absent after a failure).
  int RefreshPolicies();
  // The policy of the list for `level` (compared by id), appended new and empty when there is
  // none; null before RefreshPolicies or for a null level. Owned by the department.
  CDOPolicy* GetPolicy(CDOSecretLevel* level);
  // Sends "SetPolicy": the key element holding every policy that grants something.
  int ApplyPolicy();
  // Replaces the default-level list with the server's ("QueryDefAppSecretLevel") and returns it;
  // null after a failure. Owned by the department.
  DataObjectList* GetDefaultAppSecretLevel();
  // A new entry appended to the list (owned by the department); null when an entry names that
  // very catalogue application already, or for a null argument.
  CDODeptDefAppSecretLevel* GrantApplication(CDOApplication* application, CDOSecretLevel* level);
  // Removes `entry` from the list and deletes it; 0 when the list does not hold it.
  int RefuseApplication(CDODeptDefAppSecretLevel* entry);
  // Sends the list as "SetDefAppSecretLevel" under the key element; 0, sending nothing, without a
  // list.
  int ApplyApplicationSecretLevel();

 private:
  void RemoveAllIpSegmentsFromDept(int recursive);
  // The tree refresh both RefreshSubObjects forms share; "deep" is sent when `deep` is set.
  int RefreshTree(int withSubDepartments, int withComputers, int withPositions, int withUsers,
                  int useView1, const int* deep);

  OwnedList<CDODepartment> departments_;
  OwnedList<CDOComputer> computers_;
  OwnedList<CDOPosition> positions_;
  OwnedList<CDOUser> users_;
  OwnedList<CDODeptDefAppSecretLevel> default_levels_;
  OwnedList<CDOPolicy> policies_;
  OwnedList<CDOIpSegment> segments_;
  CDODepartment* owner_ = nullptr;
  int refresh_deep_ = 0;
};

}  // namespace docsec

#endif  // DOCSEC_ORG_DEPARTMENT_H_
