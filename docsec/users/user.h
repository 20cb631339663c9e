// CDOUser: a console user (an operator account of the management server) and the library's login.
// A login on any user object gives a new CDOUser describing the logged-in account; from it the
// caller reaches the administered department sub-tree, the authorized departments and the
// permissions held there, and changes the account's password and department.
//
// Ownership: the user owns its appointments, authorized departments and authorizations with their
// members; the owner department is a back reference. Users returned by logins and root-department
// loads belong to the caller. The last login user is not owned by the library: it is the last user
// a login returned, and it reads null once that object is destroyed.
//
// Thread safety: an object is used by one thread at a time; the last login user is process-wide.
#ifndef DOCSEC_USERS_USER_H_
#define DOCSEC_USERS_USER_H_

#include <cstdint>
#include <memory>

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOAuthLevelByUser;
class CDODepartment;
class CDOPosition;
class CDOSecretLevel;
struct UserLists;

class DOCSEC_EXPORT CDOUser : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOUser)

  static constexpr Attr kId{"id", kVtBstr, kAttrKey};
  static constexpr Attr kName{"name"};
  static constexpr Attr kIsConsoleManager{"isConsoleManager", kVtBool};
  static constexpr Attr kIsSupervisor{"isSupervisor", kVtBool};
  static constexpr Attr kPassword{"password"};
  static constexpr Attr kNewPassword{"newPassword"};
  static constexpr Attr kTel{"tel"};
  static constexpr Attr kMail{"mail"};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kDepartmentId{"departmentId", kVtInt};
  static constexpr Attr kConsolePermission{"consolePermission"};
  static constexpr Attr kEncryptMode{"encryptMode"};
  static constexpr Attr kAdminDept{"adminDept", kVtInt};
  static constexpr Attr kEnterpriseKey{"enterpriseKey"};
  static constexpr Attr kIsLock{"isLock", kVtBool};
  static constexpr Attr kDepartmentPath{"departmentPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kIsSystemDefault{"isSystemDefault", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kId, &kName, &kIsConsoleManager, &kIsSupervisor, &kPassword, &kNewPassword, &kTel,
            &kMail, &kDescription, &kDepartmentId, &kConsolePermission, &kEncryptMode, &kAdminDept,
            &kEnterpriseKey, &kIsLock, &kDepartmentPath, &kIsSystemDefault);

  // Copies every attribute value and the owner department, none of the lists.
  explicit CDOUser(CDOUser* other);
  ~CDOUser() override;

  // Own virtual operations, in slot order.
  virtual CDODepartment* GetOwnerDepartment();
  virtual void SetOwnerDepartment(CDODepartment* owner);

  // Accessors.
  DOCSEC_TEXT_PROPERTY(Id, kId)
  DOCSEC_TEXT_PROPERTY(Name, kName)
  DOCSEC_BOOL_PROPERTY(IsConsoleManager, kIsConsoleManager)
  DOCSEC_BOOL_PROPERTY(IsSupervisor, kIsSupervisor)
  DOCSEC_TEXT_PROPERTY(Password, kPassword)
  int SetNewPassword(const char* text) { return SetText(kNewPassword, text); }
  DOCSEC_TEXT_PROPERTY(Tel, kTel)
  DOCSEC_TEXT_PROPERTY(Mail, kMail)
  DOCSEC_TEXT_PROPERTY(Description, kDescription)
  DOCSEC_INT_PROPERTY(DepartmentId, kDepartmentId)
  // The 64-bit console permission word, stored as signed decimal text (a word with the top bit set
  // reads as a negative number) and read back bit for bit; 0 when unset or not a number.
  uint64_t GetConsolePermission();
  int SetConsolePermission(uint64_t word);
  DOCSEC_INT_PROPERTY(AgentEncryptModule, kEncryptMode)
  DOCSEC_INT_PROPERTY(ManageDeptId, kAdminDept)
  DOCSEC_BOOL_PROPERTY(IsUserLock, kIsLock)

  // Login ("Login" with "id" and "password" as given, and mustValidateOnLDAPServer="true" when
  // validateOnDirectory is non-zero): a new user owned by the caller, or null. It becomes the last
  // login user; the previous one is left alone. An "encryptMode" of the answer's "config" element
  // is stored on this object, not on the user returned.
  CDOUser* LoginEx(const char* account, const char* password, int validateOnDirectory);
  CDOUser* Login(const char* account, const char* password);  // LoginEx(..., 0)
  // As Login, without reading the answer's "config".
  CDOUser* LogLogin(const char* account, const char* password);
  // Goes on with a login another process made: the transport already carries that login's
  // session (SvcTransportResumeSession), and `account` is the account it was opened for.
  // "QueryUser" with that id; a new user owned by the caller, loaded from the answer, which
  // becomes the last login user (operation logs are signed with it), or null when the session is
  // no longer valid, the answer holds no user, or it holds another account than `account` (the
  // last login user then stays). No password is sent.
  CDOUser* ResumeLogin(const char* account);
  // The user the last successful login returned; null before any, or once it was destroyed.
  static CDOUser* GetLastLoginUser();
  // Re-reads this user ("QueryUser"); non-zero on success.
  int QueryUserDepartment();
  // "UpdateUser" with the new password; on failure the old "password" is put back. 0 for null.
  int ChangePassword(const char* newPassword);
  // "UpdateUserPassword" with old and new password, or, with withoutOld, "UpdateUserPassword1"
  // with the new one only; "newPassword" stays set. 0 for a null new password.
  int ChangePassword(const char* oldPassword, const char* newPassword, int withoutOld);
  // "UpdateUser" with the new "departmentId" (put back on failure); 1 at once when `department`
  // equals the owner. A user of a loaded tree then moves into the department's user list and
  // leaves its owner's (when the department does not take it, it stays where it is); a user
  // without owner stays its caller's and joins no list.
  int ChangeDepartment(CDODepartment* department);
  // The full path of the user's department: built from the loaded tree when the user has an owner,
  // else the "departmentPath" the server sent. The characters written (see GetText).
  int GetDepartmentPath(char* buffer, unsigned long size);
  // The same path whole, however long.
  std::string GetDepartmentPathText();
  // Department sub-trees rooted where the user administers or belongs; owned by the caller.
  CDODepartment* GetAdminedRootDeptpartment();
  CDODepartment* GetAdminedRootDeptpartmentEx(int useView1, int deep);
  CDODepartment* GetTreeRootDepartment();
  // Departments on which the user holds authorizations ("GetUserAuthorization"), one per
  // department id, named by the path of its last authorization; the list stays the user's. Null
  // when the exchange failed.
  DataObjectList* GetAuthorizedDepartments();
  // The permission of the first authorization loaded by GetAuthorizedDepartments on that
  // department and level; 0 when none or for null arguments.
  long GetAuthorizedDeptPermission(CDODepartment* department, CDOSecretLevel* level);
  // The user's two department permission words ("GetDepartmentPermission" with the full element);
  // 1, or 0 with both out-values untouched (null pointers send nothing; never raises).
  int GetDepartmentPermission(uint32_t* innerPermission, uint32_t* authorPermission);

  // Appointments: the user's positions, freshly read ("QueryUserAccession"; unapplied changes are
  // dropped); owned by the user. Null when the exchange failed.
  DataObjectList* GetAppointments();
  // "SetUserAccession": the key element holding every position's full element.
  int ApplyAppointments();
  // Appends a copy of `position` (owned by the user) and returns it; null when an equal one is
  // there. Nothing is sent.
  CDOPosition* AppointPosition(CDOPosition* position);
  // Removes and deletes `position` when it is a member of the list itself (an equal copy is not);
  // 1, or 0.
  int RevokePosition(CDOPosition* position);

  // Certificate login: "Login" with the three texts of the caller's certificate component and
  // mustValidateOnLDAPServer="true", no id or password; otherwise as LoginEx (a new user owned by
  // the caller, or null; it becomes the last login user).
  CDOUser* ZelkPKILoginEx(const char* signedData, const char* encodingCert, const char* signResult);
  // Offline login ("AgentOfflineLogin" with id, password and a fresh 16-byte random value): the
  // enterprise key the server sealed under that value is opened and stored on this object as
  // "enterpriseKey" (32 upper-case hexadecimal digits), with the answer's "departmentId" when it
  // has one. 1, or 0 on any failure (never raises). No user is made; the last login user stays.
  int PKIOfflineLogin(const char* account, const char* password);
  // The 16 bytes of "enterpriseKey" into `out16`; 0 for a null buffer or an unset or empty key.
  int GetPKIOfflineData(unsigned char* out16);
  // Stores `text` as "enterpriseKey".
  int SetPKIOfflineData(const char* text) { return SetText(kEnterpriseKey, text); }

 private:
  // The "Login" exchange every login shares: `fill` sets the request's attributes on the "user"
  // element; with `readConfig` the answer's config/encryptMode lands on this object. The new user
  // (the caller's) becomes the last login user; null on any failure.
  CDOUser* LoginWith(const std::function<void(const XmlElement&)>& fill, bool readConfig);
  static void BytesToHexString(char* out, const unsigned char* bytes, int n);
  static void HexStringToBytes(const char* text, unsigned char* out, int n);

  // The user's own lists (docsec/users/internal/user_lists.h), made when one is first needed: the
  // users of a loaded tree never have any, and three absent lists would cost each of them 24 bytes.
  std::unique_ptr<UserLists> lists_;
  CDODepartment* owner_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_USERS_USER_H_
