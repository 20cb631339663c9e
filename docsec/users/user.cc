#include "docsec/users/user.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "docsec/channel/outcome.h"
#include "docsec/core/copied_text.h"
#include "docsec/org/department.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/position.h"
#include "docsec/users/internal/user_lists.h"

namespace docsec {
namespace {

// The user the last login returned. The library does not own it; the user clears it when it is
// destroyed while still held, so a reader gets null rather than a dangling pointer. Atomic because
// a caller may destroy that user on another thread than the one that logged in.
std::atomic<CDOUser*> g_last_login_user{nullptr};

// Reads a permission word written as a decimal number, signed or not, into its low `bits` bits:
// "-1" and "4294967295" are the same 32-bit word. False for an empty text, any other character or
// a number that does not fit, so a garbled answer never turns into a word with every bit set.
bool ParseWord(const char* text, int bits, uint64_t* word) {
  if (text == nullptr) return false;
  const bool negative = *text == '-';
  if (negative || *text == '+') ++text;
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long magnitude = std::strtoull(text, &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  const uint64_t mask = bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  const uint64_t limit = negative ? (mask >> 1) + 1 : mask;
  if (magnitude > limit) return false;
  *word = (negative ? uint64_t{0} - magnitude : static_cast<uint64_t>(magnitude)) & mask;
  return true;
}

// A new department with `id`, loaded by `refresh`; the caller's, or null when the load failed.
template <class Refresh>
CDODepartment* LoadRootDepartment(long id, Refresh refresh) {
  std::unique_ptr<CDODepartment> root(new CDODepartment);
  root->SetId(id);
  return refresh(root.get()) ? root.release() : nullptr;
}

}  // namespace

DOCSEC_DEFINE_DATA_OBJECT(CDOUser, kObjectTypeUser, "User", "user", s_clsUser)

CDOUser::CDOUser(CDOUser* other) : CDOUser() {
  CopyAttrValues(other);
  if (other != nullptr) owner_ = other->owner_;
}

CDOUser::~CDOUser() {
  CDOUser* self = this;
  g_last_login_user.compare_exchange_strong(self, nullptr);
}

CDODepartment* CDOUser::GetOwnerDepartment() { return owner_; }
void CDOUser::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

uint64_t CDOUser::GetConsolePermission() {
  uint64_t word = 0;
  return ParseWord(GetText(kConsolePermission).c_str(), 64, &word) ? word : 0;
}

int CDOUser::SetConsolePermission(uint64_t word) {
  return SetText(kConsolePermission, std::to_string(static_cast<int64_t>(word)).c_str());
}

// ---- login ----

CDOUser* CDOUser::LoginWith(const std::function<void(const XmlElement&)>& fill, bool readConfig) {
  XmlDocument answer = Exchange("Login", [this, &fill](XmlElement& root) {
    fill(root.AppendElement(GetObjectXMLTagName().c_str()));
    return true;
  });
  if (!answer) return nullptr;
  XmlElement root = answer.DocumentElement();
  if (readConfig) {
    XmlElement config = root.SelectChild("config");
    const char* mode = config ? config.GetAttribute(kEncryptMode.name) : nullptr;
    if (mode != nullptr) SetText(kEncryptMode, mode);
  }
  XmlElement element = root.SelectChild("user");
  if (!element) {
    SetLibraryFailure("Login", "the answer holds no user");
    return nullptr;
  }
  std::unique_ptr<CDOUser> user(new CDOUser);
  if (!user->LoadFromXmlNode(element)) {
    SetLibraryFailure("Login", "the answer's user cannot be read");
    return nullptr;
  }
  g_last_login_user.store(user.get());
  return user.release();
}

namespace {

// The request attributes of a password login. The password goes as the caller gave it: the
// exchange's transport is what protects it.
std::function<void(const XmlElement&)> PasswordLogin(const char* account, const char* password,
                                                     bool validateOnDirectory) {
  return [=](const XmlElement& user) {
    user.SetAttribute(CDOUser::kId.name, account);
    user.SetAttribute(CDOUser::kPassword.name, password);
    if (validateOnDirectory) user.SetAttribute("mustValidateOnLDAPServer", "true");
  };
}

}  // namespace

CDOUser* CDOUser::LoginEx(const char* account, const char* password, int validateOnDirectory) {
  return LoginWith(PasswordLogin(account, password, validateOnDirectory != 0), true);
}

CDOUser* CDOUser::Login(const char* account, const char* password) {
  return LoginEx(account, password, 0);
}

CDOUser* CDOUser::LogLogin(const char* account, const char* password) {
  return LoginWith(PasswordLogin(account, password, false), false);
}

CDOUser* CDOUser::ResumeLogin(const char* account) {
  if (account == nullptr || *account == '\0') return nullptr;
  std::unique_ptr<CDOUser> user(new CDOUser);
  user->SetId(account);
  if (!user->QueryUserDepartment()) return nullptr;
  // Logs signed as an account the session does not belong to would misattribute every change.
  if (user->GetText(kId) != account) {
    SetOutcome(
        OutcomeSource::kLibrary, 0,
        "the server answered for \"" + user->GetText(kId) + "\", not for \"" + account + "\"",
        "QueryUser");
    return nullptr;
  }
  g_last_login_user.store(user.get());
  return user.release();
}

CDOUser* CDOUser::GetLastLoginUser() { return g_last_login_user.load(); }

// ---- the account on the server ----

int CDOUser::QueryUserDepartment() {
  // "QueryUser" with the key element, reloading this user: the generic refresh, whatever a
  // subclass made of it.
  return CDataObject::Refresh();
}

int CDOUser::ChangePassword(const char* newPassword) {
  if (newPassword == nullptr) return SetLibraryFailure("UpdateUser", "no new password given");
  Variant* current = GetValue(kPassword);
  const Variant kept = current != nullptr ? *current : Variant::Null();  // Null stores "unset"
  SetText(kPassword, newPassword);
  if (Update()) return 1;
  // The server still holds the old password, so the object goes on describing it.
  SetValue(kPassword, kept);
  return 0;
}

int CDOUser::ChangePassword(const char* oldPassword, const char* newPassword, int withoutOld) {
  if (newPassword == nullptr) {
    return SetLibraryFailure(withoutOld == 0 ? "UpdateUserPassword" : "UpdateUserPassword1",
                             "no new password given");
  }
  if (withoutOld == 0) SetText(kPassword, oldPassword);
  SetText(kNewPassword, newPassword);
  return Update(withoutOld == 0 ? "UpdateUserPassword" : "UpdateUserPassword1") ? 1 : 0;
}

int CDOUser::ChangeDepartment(CDODepartment* department) {
  if (department == nullptr) return SetLibraryFailure("UpdateUser", "no department given");
  if (department->Equals(owner_)) return 1;
  Variant* current = GetValue(kDepartmentId);
  const Variant kept = current != nullptr ? *current : Variant::Null();
  SetDepartmentId(department->GetId());
  if (!Update()) {
    SetValue(kDepartmentId, kept);
    return 0;
  }
  // A user outside a loaded tree belongs to its caller: putting it into the department's list
  // would give it a second owner that deletes it with the tree.
  if (owner_ == nullptr) return 1;
  // The new department takes the user before the old one lets go: when it cannot (its user list
  // was never loaded, or it holds an equal user already) the user stays in the list that owns it
  // rather than being owned by nobody.
  if (department->MoveInUser(this)) {
    owner_->MoveOutUser(this);
    owner_ = department;
  }
  return 1;
}

int CDOUser::GetDepartmentPath(char* buffer, unsigned long size) {
  // The owner's full path is its parent's path, "/" and its name: the path of the user's
  // department.
  if (owner_ != nullptr) return owner_->GetFullPath(buffer, size);
  return GetText(kDepartmentPath, buffer, size);
}

std::string CDOUser::GetDepartmentPathText() {
  return owner_ != nullptr ? owner_->GetFullPathText() : GetText(kDepartmentPath);
}

// ---- department sub-trees ----

namespace {

long AdministeredDepartmentId(CDOUser* user) {
  const long administered = user->GetManageDeptId();
  return administered == -1 ? user->GetDepartmentId() : administered;
}

}  // namespace

CDODepartment* CDOUser::GetAdminedRootDeptpartment() {
  return LoadRootDepartment(AdministeredDepartmentId(this), [](CDODepartment* root) {
    return root->RefreshSubObjects(1, 1, 1, 1, 0);
  });
}

CDODepartment* CDOUser::GetAdminedRootDeptpartmentEx(int useView1, int deep) {
  return LoadRootDepartment(AdministeredDepartmentId(this), [=](CDODepartment* root) {
    return root->RefreshSubObjectsEx(1, 1, 1, 1, useView1, deep);
  });
}

CDODepartment* CDOUser::GetTreeRootDepartment() {
  return LoadRootDepartment(GetDepartmentId(), [](CDODepartment* root) {
    return root->RefreshSubObjects(1, 0, 1, 1, 1);
  });
}

// ---- authorizations ----

DataObjectList* CDOUser::GetAuthorizedDepartments() {
  UserLists& lists = EnsureUserLists(lists_);
  lists.authorizations.Reset();
  lists.authorized_departments.Reset();
  XmlDocument answer = Exchange("GetUserAuthorization", [this](XmlElement& root) {
    AssemblyXmlKeyNode(root);
    return true;
  });
  if (!answer) return nullptr;
  lists.authorizations.Load(answer.DocumentElement());  // present afterwards, even when empty
  // One department per authorized department id, named by the last authorization on it; in the
  // order the departments first appear, so the result does not depend on a hash.
  std::vector<CDOAuthLevelByUser*> named;
  std::unordered_map<long, size_t> index;
  for (CDOAuthLevelByUser* authorization : lists.authorizations) {
    const long id = authorization->GetOwnerDeptId();
    if (id == -1) continue;  // names no department
    auto found = index.emplace(id, named.size());
    if (found.second) {
      named.push_back(authorization);
    } else {
      named[found.first->second] = authorization;
    }
  }
  lists.authorized_departments.Ensure();
  for (CDOAuthLevelByUser* authorization : named) {
    CDODepartment* department = new CDODepartment;
    lists.authorized_departments.Add(department);
    department->SetId(authorization->GetOwnerDeptId());
    department->SetName(CopiedText(authorization, &CDOAuthLevelByUser::GetOwnerDeptPath).c_str());
  }
  return lists.authorized_departments.get();
}

long CDOUser::GetAuthorizedDeptPermission(CDODepartment* department, CDOSecretLevel* level) {
  if (department == nullptr || level == nullptr) return 0;
  const long department_id = department->GetId();
  const long level_id = level->GetId();
  if (!lists_) return 0;
  for (CDOAuthLevelByUser* authorization : lists_->authorizations) {
    if (authorization->GetOwnerDeptId() == department_id &&
        authorization->GetSecretLevelId() == level_id) {
      return authorization->GetPermission();
    }
  }
  return 0;
}

int CDOUser::GetDepartmentPermission(uint32_t* innerPermission, uint32_t* authorPermission) {
  constexpr char kOperation[] = "GetDepartmentPermission";
  if (innerPermission == nullptr || authorPermission == nullptr) {
    return SetLibraryFailure(kOperation, "a permission word to fill is null");
  }
  try {
    XmlDocument answer = Exchange(kOperation, [this](XmlElement& root) {
      AssemblyXmlNode(root);
      return true;
    });
    if (!answer) return 0;
    XmlElement parameter = answer.DocumentElement().SelectChild("parameter");
    if (!parameter) return SetLibraryFailure(kOperation, "the answer holds no parameter");
    uint64_t inner = 0;
    uint64_t author = 0;
    if (!ParseWord(parameter.GetAttribute("innerPermission"), 32, &inner) ||
        !ParseWord(parameter.GetAttribute("authorPermission"), 32, &author)) {
      return SetLibraryFailure(kOperation, "the answer's permission words are not 32-bit numbers");
    }
    *innerPermission = static_cast<uint32_t>(inner);
    *authorPermission = static_cast<uint32_t>(author);
    return 1;
  } catch (const std::exception& error) {
    // This operation reports every failure, an exception included, as 0: recording the cause
    // must not raise another.
    return SetLibraryFailureNoThrow(kOperation, error.what());
  } catch (...) {
    return SetLibraryFailureNoThrow(kOperation, "an unknown exception");
  }
}

}  // namespace docsec
