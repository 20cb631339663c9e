// CDOAgentFile: a file on a managed computer as its agent reports it, placed in the computer's
// remote file tree under its parent folder. It carries the file's own authorizations (by user and
// by position), read from and written to the management server.
//
// Ownership: the file owns its two authorization lists with their entries. The parent folder,
// owner computer and owner department are back references, never deleted through the file.
// Thread safety: one thread at a time.
#ifndef DOCSEC_FILES_AGENT_FILE_H_
#define DOCSEC_FILES_AGENT_FILE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "docsec/policy/file.h"

namespace docsec {

class CDOAgentFolder;
class CDOAuthFileByPosition;
class CDOAuthFileByUser;
class CDOComputer;
class CDODepartment;
class CDOPosition;
class CDOSecretLevel;
class CDOUser;

class DOCSEC_EXPORT CDOAgentFile : public CDOFile {
  DOCSEC_DATA_OBJECT(CDOAgentFile)

  // A remote file is identified by GUID, path and department, not by the server id of CDOFile.
  static constexpr Attr kGuidKey{"GUID", kVtBstr, kAttrKey | kAttrReplacesKeys};
  // Key only: never loaded, always derived from the parent path and the name.
  static constexpr Attr kPath{"path", kVtBstr, kAttrKeyOnly};
  static constexpr Attr kName{"name"};
  static constexpr Attr kSize{"size", kVtInt};
  static constexpr Attr kType{"type"};
  static constexpr Attr kModifyTime{"modifytime", kVtDate};
  static constexpr Attr kEncrypted{"encrypted", kVtBool};
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtInt};  // -1: none
  static constexpr Attr kDepartmentId{"departmentId", kVtInt, kAttrKey};
  static constexpr Attr kDestSecretLevelId{"destSecretLevelId", kVtInt};
  static constexpr Attr kReadOnly{"readonly", kVtBool, kAttrLoadOnly};
  static constexpr Attr kHidden{"hidden", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kGuidKey, &kPath, &kName, &kSize, &kType, &kModifyTime, &kEncrypted, &kSecretLevelId,
            &kDepartmentId, &kDestSecretLevelId, &kReadOnly, &kHidden);

  // Paths and parent paths are cut to this many characters.
  static constexpr size_t kMaxPath = 767;

  // A file of `computer` named `name` in the folder whose path is `parentPath`.
  CDOAgentFile(CDOComputer* computer, const char* parentPath, const char* name);
  // A file named `name` in `folder`, served by the folder's computer.
  CDOAgentFile(CDOAgentFolder* folder, const char* name);

  DOCSEC_TEXT_PROPERTY(Name, kName)
  long GetSize() { return GetInt32(kSize); }
  int GetType(char* buffer, unsigned long size) { return GetText(kType, buffer, size); }
  std::string GetTypeText() { return GetText(kType); }
  double GetLastUpdateTime() { return GetDate(kModifyTime); }
  bool GetIsEncrypted() { return GetBool(kEncrypted); }
  DOCSEC_INT_PROPERTY(SecretLevelId, kSecretLevelId)
  long GetDepartmentId() { return GetInt32(kDepartmentId); }
  int GetDepartmentId(char* buffer, unsigned long size) {
    return GetText(kDepartmentId, buffer, size);
  }
  int SetDepartmentId(const char* id) { return SetText(kDepartmentId, id); }
  DOCSEC_INT_PROPERTY(DestSecretLevelId, kDestSecretLevelId)
  bool GetIsReadOnly() { return GetBool(kReadOnly); }
  bool GetIsHidden() { return GetBool(kHidden); }
  DOCSEC_TEXT_PROPERTY(FullPath, kPath)

  // Loads the attributes, then derives "path" (RefreshFullPath).
  int LoadFromXmlNode(const XmlElement& element) override;

  // Own virtual operations, in slot order. The setters only store the back reference.
  virtual void SetParentFolder(CDOAgentFolder* folder) { parent_folder_ = folder; }
  virtual CDOAgentFolder* GetParentFolder() { return parent_folder_; }  // null for a root
  virtual void SetOwnerComputer(CDOComputer* computer) { owner_computer_ = computer; }
  virtual CDOComputer* GetOwnerComputer() { return owner_computer_; }

  // "path" := the parent path, "\" unless it is empty or ends with one, then "name", all cut to
  // kMaxPath characters.
  void RefreshFullPath();
  // CDOSecretLevel::GetInstanceById(secretLevelId): the null level when unknown, never null.
  CDOSecretLevel* GetSecretLevel();
  // Non-zero when "secretLevelId" is not -1.
  int IsAuthorizedBySecretLevel() { return GetSecretLevelId() != -1 ? 1 : 0; }
  // The department the file belongs to: the owner computer's for a plain file, the one whose id is
  // "departmentId" (looked up on the server, "QueryDepartment") for an encrypted one, kept by the
  // file once found; null when none is found (the next call asks again). Not the caller's.
  CDODepartment* GetOwnerDepartment();
  // Gives the file the secret level `level` through its parent folder; 0 for a null level.
  int ChangeSecretLevel(CDOSecretLevel* level);

  // The file's own authorizations. Local edits change only the lists; the apply operations send
  // them. The lists, created empty (without a request) when absent; owned by the file.
  DataObjectList* GetAuthByUser() { return user_auths_.Ensure(); }
  DataObjectList* GetAuthByPosition() { return position_auths_.Ensure(); }
  // A new list (the caller deletes the list, not the entries) of the entries whose permission is
  // not 0, in list order; null when the file's list is absent or empty.
  DataObjectList* GetValidAuthByUser();
  DataObjectList* GetValidAuthByPosition();
  // Non-zero when no entry of either list has a non-zero permission.
  int IsEmptyAuthorization();
  // A new entry appended and returned (owned by the file); null when the user or position already
  // has one.
  CDOAuthFileByUser* GrantUser(CDOUser* user, long permission);
  CDOAuthFileByPosition* GrantPosition(CDOPosition* position, long permission);
  // GrantPosition for a position (type 3), GrantUser for a user (type 4); null otherwise.
  CDataObject* GrantRole(CDataObject* role, long permission);
  // Removes `entry` from its list and deletes it; non-zero when it was there.
  int RefuseUser(CDOAuthFileByUser* entry);
  int RefusePosition(CDOAuthFileByPosition* entry);
  // RefusePosition for type 10, RefuseUser for type 11; 0 otherwise.
  int RefuseRole(CDataObject* entry);
  // Deletes both lists with their entries.
  void EmptyAuthorization() {
    user_auths_.Reset();
    position_auths_.Reset();
  }
  // Replaces both lists with the server's ("QueryFileAuthorization"); on failure both are absent.
  int QueryAuthorization();
  // Sends both lists, users first, positions also when users failed; non-zero when both succeed.
  int ApplyAuthorization();

 protected:
  // "SetFileUserAuthorization" / "SetFilePositionAuthorization": the key element holding the valid
  // entries (the bare key element when there are none); non-zero when the server accepts it.
  int ApplyUserAuthorization();
  int ApplyPositionAuthorization();

  // The parent path given at construction (empty for a drive or a computer's root).
  const std::string& parent_path() const { return parent_path_; }
  // Stores `path` (null: empty) as the parent path, cut to kMaxPath characters.
  void SetParentPath(const char* path);
  // Places the object in `folder` (null: nowhere): parent folder, the folder's computer, and the
  // folder's "path" as parent path.
  void JoinFolder(CDOAgentFolder* folder);

 private:
  // Adds "computerUuid", the owner computer's "uuid", to `element`.
  void SetComputerUuidForLog(XmlElement& element);
  // Sends `operation` with the key element holding `valid` (deleted here, not its entries).
  int SendAuthorizations(const char* operation, DataObjectList* valid);

  CDOAgentFolder* parent_folder_ = nullptr;    // back reference
  CDOComputer* owner_computer_ = nullptr;      // back reference
  CDODepartment* owner_department_ = nullptr;  // cached; a back reference or looked_up_
  std::unique_ptr<CDataObject> looked_up_;     // the department found on the server, if any
  std::string parent_path_;
  OwnedList<CDOAuthFileByUser> user_auths_;
  OwnedList<CDOAuthFileByPosition> position_auths_;
};

}  // namespace docsec

#endif  // DOCSEC_FILES_AGENT_FILE_H_
