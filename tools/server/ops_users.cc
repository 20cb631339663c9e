// Users and their logins, passwords and rights; positions and appointments.
#include <openssl/evp.h>

#include <algorithm>
#include <functional>
#include <map>

#include "tools/server/entity.h"
#include "tools/server/operations.h"
#include "tools/server/password_hash.h"

namespace docsec::server {
namespace {

const Entity& kUser = kUserEntity;
const Entity& kPosition = kPositionEntity;

constexpr size_t kMaxAccountLength = 128;

struct StoredUser {
  std::string id;
  bool found = false;
  int64_t department_id = 0;
  bool supervisor = false;
  bool locked = false;
  bool console_manager = false;
  bool system_default = false;
  int64_t admin_dept = 0;  // 0: the user administers its own department
  std::string password_hash;
  std::string name;
};

StoredUser LoadUser(Context& ctx, const std::string& id) {
  StoredUser user;
  user.id = id;
  ctx.tx.Query(
      "SELECT department_id, is_supervisor, is_lock, is_console_manager, is_system_default,"
      " password_hash, name, admin_dept FROM users WHERE id = ?",
      {id}, [&](const SqlRow& row) {
        user.found = true;
        user.department_id = row.Int(0);
        user.supervisor = row.Int(1) != 0;
        user.locked = row.Int(2) != 0;
        user.console_manager = row.Int(3) != 0;
        user.system_default = row.Int(4) != 0;
        user.password_hash = std::string(row.Text(5));
        user.name = std::string(row.Text(6));
        user.admin_dept = row.IsNull(7) ? 0 : row.Int(7);
      });
  return user;
}

void OpenSessionFor(Context& ctx, const std::string& id) {
  ctx.opened_session = id;
  ctx.opened_stamp = ctx.tx.QueryInt("SELECT session_stamp FROM users WHERE id = ?", {id}, 0);
}

StoredUser RequireUser(Context& ctx, const std::string& id) {
  StoredUser user = LoadUser(ctx, id);
  if (!user.found) throw RequestError(kNotFound, "no user " + id);
  return user;
}

// A console user may manage the users of the departments it administers, but only a supervisor
// may manage a supervisor, and only one who reaches the department a user administers may manage
// that user: otherwise a new password would hand over rights the manager does not hold.
void RequireManage(Context& ctx, const StoredUser& user) {
  ctx.RequireScope(user.department_id);
  if (user.supervisor) ctx.RequireSupervisor("manage the supervisor " + user.id);
  // An administered department that vanished leaves the user its own, as the login reads it.
  if (user.admin_dept != 0 && ctx.departments().Exists(user.admin_dept) &&
      !ctx.InScope(user.admin_dept)) {
    throw RequestError(kPermissionDenied, "user " + user.id + " administers " +
                                              ctx.DepartmentName(user.admin_dept) +
                                              ", which is outside your scope");
  }
}

// Whether a user row (id first, then the department column `department`) may be shown: the
// caller itself and the users of its departments.
std::function<bool(const SqlRow&)> VisibleUser(Context& ctx) {
  int department = kUser.ColumnIndex("department_id");
  return [&ctx, department](const SqlRow& row) {
    return row.Text(0) == ctx.caller->account || ctx.InScope(row.Int(department));
  };
}

// Reading a user is allowed for the user itself and for those who may manage it.
void RequireRead(Context& ctx, const std::string& id, const StoredUser& user) {
  if (id != ctx.caller->account) ctx.RequireScope(user.department_id);
}

// Gives the account a new session stamp, which ends every session opened under the old one. A
// caller who changed its own password gets a new session in place of the one it came with.
void RenewSessionStamp(Context& ctx, const std::string& id) {
  ctx.tx.Execute("UPDATE users SET session_stamp = random() WHERE id = ?", {id});
  if (ctx.caller && ctx.caller->account == id) OpenSessionFor(ctx, id);
}

std::string NewPasswordHash(Context& ctx, std::string_view password) {
  if (password.empty()) throw RequestError(kBadValue, "a new password cannot be empty");
  auto prepared = ctx.passwords.new_hashes.find(std::string(password));
  if (prepared != ctx.passwords.new_hashes.end()) return prepared->second;
  std::string hash = HashPassword(password, ctx.options.password_iterations);
  if (hash.empty()) throw RequestError(kInternalError, "cannot hash the password");
  return hash;
}

// The values of a user element checked for what the caller may set.
FieldValues CheckedUserValues(Context& ctx, pugi::xml_node element) {
  FieldValues values = WritableValues(kUser, element, false);
  for (auto& [field, value] : values) {
    std::string_view name = field->xml;
    if (name == "departmentId") {
      if (value.is_null()) {
        throw RequestError(kBadValue, AttributeOf(element, "departmentId") +
                                          " is empty; every user belongs to a department");
      }
      ctx.RequireScope(value.as_int());
    } else if (name == "isSupervisor" && !value.is_null() && value.as_int() != 0) {
      ctx.RequireSupervisor("make user " + std::string(AttrText(element, "id")) + " a supervisor");
    } else if (name == "adminDept" && !value.is_null()) {
      // -1 stands for "the user's own department".
      if (value.as_int() == -1) {
        value = SqlValue();
      } else {
        ctx.RequireScope(value.as_int());
      }
    } else if (name == "consolePermission" && !value.as_text().empty()) {
      int64_t word;
      if (!ParseInt(value.as_text(), &word)) {
        throw RequestError(kBadValue, AttributeOf(element, "consolePermission") +
                                          " is not a number: " + Quoted(value.as_text()));
      }
    }
  }
  std::string_view password = AttrText(element, "password");
  if (element.attribute("password")) {
    static const Field kPasswordHash = {"password", "password_hash", FieldType::kText, 0};
    values.emplace_back(&kPasswordHash, SqlValue(NewPasswordHash(ctx, password)));
  }
  return values;
}

void AddUser(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "user")) {
    std::string id = RequireText(element, "id");
    if (id.size() > kMaxAccountLength) {
      throw RequestError(kBadValue, AttributeOf(element, "id") + " is " +
                                        std::to_string(id.size()) + " bytes long; at most " +
                                        std::to_string(kMaxAccountLength) + " are allowed");
    }
    RequireInt(element, "departmentId");
    if (LoadUser(ctx, id).found) {
      throw RequestError(kAlreadyExists, "user " + id + " already exists");
    }
    FieldValues values = CheckedUserValues(ctx, element);
    values.emplace_back(kUser.FindField("id"), SqlValue(id));
    InsertRow(ctx, kUser, values);
    RenewSessionStamp(ctx, id);  // a new incarnation of an id inherits no session
    WriteRows(ctx, kUser, " WHERE id = ?", {id});
  }
}

void UpdateUser(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "user")) {
    std::string id = RequireText(element, "id");
    RequireManage(ctx, RequireUser(ctx, id));
    UpdateRows(ctx, kUser, CheckedUserValues(ctx, element), " WHERE id = ?", {id});
    if (element.attribute("password")) RenewSessionStamp(ctx, id);
  }
}

void DelUser(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "user")) {
    std::string id = RequireText(element, "id");
    StoredUser user = RequireUser(ctx, id);
    RequireManage(ctx, user);
    if (user.system_default) {
      throw RequestError(kSystemDefault, "user " + id + " was made by the system");
    }
    if (id == ctx.caller->account) {
      throw RequestError(kConflict, "user " + id + " cannot delete its own account");
    }
    ctx.tx.Execute("DELETE FROM users WHERE id = ?", {id});
  }
}

void QueryUser(Context& ctx) {
  std::string where;
  SqlParams params;
  AppendConditions(kUser, ctx.document.child("user"), &where, &params);
  WriteRows(ctx, kUser, where, params, VisibleUser(ctx));
}

// Checks a password login of `id`, counting failures; gives the stored user. The password was
// checked before the transaction (PreparePasswords): it is right when it matched the hash stored
// now. A locked account is reported only after the password proved right, so guessing learns
// nothing from it.
StoredUser CheckPassword(Context& ctx, const std::string& id, std::string_view password) {
  if (!ctx.limiter.Allowed(id, ctx.source)) {
    throw RequestError(kTooManyAttempts, "too many failed logins; try again later");
  }
  StoredUser user = LoadUser(ctx, id);
  auto verified = ctx.passwords.verified.find(id);
  bool good = user.found && !user.password_hash.empty() &&
              verified != ctx.passwords.verified.end() && verified->second == user.password_hash;
  if (!good) {
    ctx.limiter.RecordFailure(id, ctx.source);
    throw RequestError(kBadCredentials, "wrong account or password");
  }
  if (user.locked) throw RequestError(kAccountLocked, "the account " + id + " is locked");
  ctx.limiter.RecordSuccess(id, ctx.source);
  auto stronger = ctx.passwords.new_hashes.find(std::string(password));
  if (stronger != ctx.passwords.new_hashes.end() &&
      PasswordNeedsRehash(user.password_hash, ctx.options.password_iterations)) {
    ctx.tx.Execute("UPDATE users SET password_hash = ? WHERE id = ?", {stronger->second, id});
  }
  return user;
}

// Login: by password, or by certificate when the request carries signed data. The answer is the
// account's element and its encryption mode; the transport receives a new session.
void Login(Context& ctx) {
  pugi::xml_node element = RequireChild(ctx.document, "user");
  std::string id;
  StoredUser user;
  if (element.attribute("signedData") || element.attribute("encodingCert")) {
    if (!ctx.options.certificate_check) {
      throw RequestError(kCertificateNotConfigured, "certificate login is not configured");
    }
    id = ctx.options.certificate_check(std::string(AttrText(element, "signedData")),
                                       std::string(AttrText(element, "encodingCert")),
                                       std::string(AttrText(element, "signResult")));
    if (id.empty()) throw RequestError(kCertificateRejected, "the certificate was refused");
    user = LoadUser(ctx, id);
    if (!user.found) throw RequestError(kCertificateRejected, "the certificate names no user");
    if (user.locked) throw RequestError(kAccountLocked, "the account " + id + " is locked");
  } else {
    if (FlagSet(element, "mustValidateOnLDAPServer")) {
      throw RequestError(kDirectoryNotConfigured, "no directory server is configured");
    }
    id = RequireText(element, "id");
    user = CheckPassword(ctx, id, AttrText(element, "password"));
  }
  if (!user.console_manager) {
    throw RequestError(kNotConsoleManager, "the account " + id + " may not use the console");
  }
  WriteRows(ctx, kUser, " WHERE id = ?", {id});
  ctx.tx.Query(
      "SELECT encrypt_mode FROM users WHERE id = ? AND encrypt_mode IS NOT NULL", {id},
      [&](const SqlRow& row) { ctx.out.Open("config").Attr("encryptMode", row.Int(0)).Close(); });
  OpenSessionFor(ctx, id);
}

// Logout: the session the request came with ends.
void Logout(Context& ctx) { ctx.end_session = true; }

bool HexToBytes(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != 2 * size) return false;
  for (size_t i = 0; i < size; ++i) {
    int value = 0;
    for (size_t k = 0; k < 2; ++k) {
      char c = text[2 * i + k];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out[i] = static_cast<uint8_t>(value);
  }
  return true;
}

// AgentOfflineLogin: the enterprise key, AES-128-encrypted under the client's random value, and
// the user's department. No session is opened: the key is all the client asked for.
void AgentOfflineLogin(Context& ctx) {
  pugi::xml_node element = RequireChild(ctx.document, "user");
  std::string id = RequireText(element, "id");
  uint8_t random[16];
  pugi::xml_node random_element = RequireChild(ctx.document, "random");
  std::string random_text = RequireText(random_element, "data");
  if (!HexToBytes(random_text, random, 16)) {
    // Not quoted: it is key material.
    throw RequestError(kBadValue, AttributeOf(random_element, "data") + " holds " +
                                      std::to_string(random_text.size()) +
                                      " characters; it must be 32 hexadecimal digits");
  }
  StoredUser user = CheckPassword(ctx, id, AttrText(element, "password"));
  std::string key_text;
  ctx.tx.Query("SELECT value FROM settings WHERE name = 'enterprise_key'", {},
               [&](const SqlRow& row) { key_text = std::string(row.Text(0)); });
  uint8_t block[16];
  if (!HexToBytes(key_text, block, 16)) {
    throw RequestError(kNotFound, "no enterprise key is configured");
  }
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  int written = 0;
  bool ok = cipher != nullptr &&
            EVP_EncryptInit_ex(cipher, EVP_aes_128_ecb(), nullptr, random, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_padding(cipher, 0) == 1 &&
            EVP_EncryptUpdate(cipher, block, &written, block, 16) == 1 && written == 16;
  EVP_CIPHER_CTX_free(cipher);
  if (!ok) throw RequestError(kInternalError, "cannot encrypt the enterprise key");
  static const char kDigits[] = "0123456789ABCDEF";
  std::string sealed;
  for (uint8_t b : block) {
    sealed.push_back(kDigits[b >> 4]);
    sealed.push_back(kDigits[b & 15]);
  }
  ctx.out.Open("config").Attr("departmentId", user.department_id).Attr("enterpriseKey", sealed);
  ctx.out.Close();
}

// UpdateUserPassword: the old password must be right. UpdateUserPassword1: no old password, so
// only for those who may manage the account.
void ChangePassword(Context& ctx, bool with_old) {
  for (pugi::xml_node element : RequireChildren(ctx, "user")) {
    std::string id = RequireText(element, "id");
    StoredUser user = RequireUser(ctx, id);
    if (with_old) {
      if (id != ctx.caller->account) RequireManage(ctx, user);
      CheckPassword(ctx, id, AttrText(element, "password"));
    } else {
      RequireManage(ctx, user);
    }
    ctx.tx.Execute("UPDATE users SET password_hash = ? WHERE id = ?",
                   {NewPasswordHash(ctx, RequireText(element, "newPassword")), id});
    RenewSessionStamp(ctx, id);
  }
}

void UpdateUserPassword(Context& ctx) { ChangePassword(ctx, true); }
void UpdateUserPassword1(Context& ctx) { ChangePassword(ctx, false); }

// GetUserAuthorization: what the user may do by department and secret level, from its own
// authorizations and those of the positions it holds, the permission words OR-ed together.
void GetUserAuthorization(Context& ctx) {
  std::string id = RequireText(RequireChild(ctx.document, "user"), "id");
  StoredUser user = RequireUser(ctx, id);
  RequireRead(ctx, id, user);
  std::map<std::pair<int64_t, int64_t>, int64_t> permissions;
  ctx.tx.Query(
      "SELECT department_id, secret_level_id, permission FROM policy_user_auths WHERE user_id = ?"
      " UNION ALL SELECT p.department_id, p.secret_level_id, p.permission"
      " FROM policy_position_auths p JOIN appointments a ON a.position_id = p.position_id"
      " WHERE a.user_id = ?",
      {id, id}, [&](const SqlRow& row) {
        permissions[{row.Int(0), row.Int(1)}] |= row.Int(2);
      });
  for (const auto& [key, permission] : permissions) {
    ctx.out.Open("userAuthorization").Attr("authorizeDeptId", key.first);
    ctx.out.Attr("secretLevelId", key.second).Attr("userId", id).Attr("permission", permission);
    ctx.out.Attr("authorizeDeptPath", ctx.departments().Path(key.first));
    ctx.out.Attr("userDeptPath", ctx.departments().Path(user.department_id));
    ctx.out.Attr("userName", user.name).Attr("userDeptId", user.department_id).Close();
  }
}

// GetDepartmentPermission: the two permission words of the user's department.
void GetDepartmentPermission(Context& ctx) {
  std::string id = RequireText(RequireChild(ctx.document, "user"), "id");
  StoredUser user = RequireUser(ctx, id);
  RequireRead(ctx, id, user);
  ctx.tx.Query("SELECT inner_permission, author_permission FROM departments WHERE id = ?",
               {user.department_id}, [&](const SqlRow& row) {
                 ctx.out.Open("parameter").Attr("innerPermission", row.Int(0));
                 ctx.out.Attr("authorPermission", row.Int(1)).Close();
               });
}

// The position an element names: by "id" when given, else by department and name.
int64_t FindPosition(Context& ctx, pugi::xml_node element) {
  std::optional<int64_t> id = OptionalInt(element, "id");
  int64_t found = 0;
  if (id) {
    found = ctx.tx.QueryInt("SELECT id FROM positions WHERE id = ?", {*id}, 0);
  } else {
    found = ctx.tx.QueryInt(
        "SELECT id FROM positions WHERE department_id = ? AND position_name = ?",
        {RequireInt(element, "departmentId"), RequireText(element, "positionName")}, 0);
  }
  if (found == 0) {
    if (id) throw RequestError(kNotFound, "no position " + std::to_string(*id));
    throw RequestError(kNotFound, "no position named " + Quoted(AttrText(element, "positionName")) +
                                      " in " +
                                      ctx.DepartmentName(RequireInt(element, "departmentId")));
  }
  return found;
}

int64_t PositionDepartment(Context& ctx, int64_t position) {
  return ctx.tx.QueryInt("SELECT department_id FROM positions WHERE id = ?", {position}, 0);
}

void RequireUniquePosition(Context& ctx, int64_t department, const std::string& name,
                           int64_t except) {
  if (ctx.tx.Exists(
          "SELECT 1 FROM positions WHERE department_id = ? AND position_name = ? AND id <> ?",
          {department, name, except})) {
    throw RequestError(kAlreadyExists,
                       ctx.DepartmentName(department) + " already has a position " + Quoted(name));
  }
}

void AddPosition(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "position")) {
    int64_t department = RequireInt(element, "departmentId");
    std::string name = RequireText(element, "positionName");
    ctx.RequireScope(department);
    RequireUniquePosition(ctx, department, name, 0);
    FieldValues values = WritableValues(kPosition, element, true);
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const auto& v) { return v.first->flags & kAssigned; }),
                 values.end());
    int64_t id = InsertRow(ctx, kPosition, values);
    WriteRows(ctx, kPosition, " WHERE id = ?", {id});
  }
}

void UpdatePosition(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "position")) {
    int64_t id = FindPosition(ctx, element);
    ctx.RequireScope(PositionDepartment(ctx, id));
    FieldValues values = WritableValues(kPosition, element, true);
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const auto& v) { return v.first->flags & kAssigned; }),
                 values.end());
    UpdateRows(ctx, kPosition, values, " WHERE id = ?", {id});
    int64_t department = PositionDepartment(ctx, id);
    ctx.RequireScope(department);
    std::string name;
    ctx.tx.Query("SELECT position_name FROM positions WHERE id = ?", {id},
                 [&](const SqlRow& row) { name = std::string(row.Text(0)); });
    if (name.empty()) {
      throw RequestError(kBadValue, "position " + std::to_string(id) + ": " +
                                        AttributeOf(element, "positionName") +
                                        " is empty; a position needs a name");
    }
    RequireUniquePosition(ctx, department, name, id);
  }
}

void DelPosition(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "position")) {
    int64_t id = FindPosition(ctx, element);
    ctx.RequireScope(PositionDepartment(ctx, id));
    ctx.tx.Execute("DELETE FROM positions WHERE id = ?", {id});
  }
}

// QueryPosition: the positions matching the condition; with "isWithSubPositions" true each comes
// with the positions below it, which are those of the departments below its department.
void QueryPosition(Context& ctx) {
  pugi::xml_node condition = ctx.document.child("position");
  std::string where;
  SqlParams params;
  AppendConditions(kPosition, condition, &where, &params);
  int department_column = kPosition.ColumnIndex("department_id");
  bool nested = FlagSet(condition, "isWithSubPositions");
  ctx.tx.Query(kPosition.SelectSql() + where + " ORDER BY id", params, [&](const SqlRow& row) {
    int64_t department = row.Int(department_column);
    if (!ctx.InScope(department)) return;
    OpenRowElement(ctx, ctx.out, kPosition, row);
    if (nested) {
      SqlParams sub_params;
      std::string sub = SubtreeClause("department_id", department, 0, &sub_params);
      sub_params.push_back(department);
      WriteRows(ctx, kPosition, sub + " AND department_id <> ?", sub_params);
    }
    ctx.out.Close();
  });
}

void QueryUserAccession(Context& ctx) {
  std::string id = RequireText(RequireChild(ctx.document, "user"), "id");
  RequireRead(ctx, id, RequireUser(ctx, id));
  ctx.tx.Query(kUser.SelectSql() + " WHERE id = ?", {id},
               [&](const SqlRow& row) { OpenRowElement(ctx, ctx.out, kUser, row); });
  WriteRows(ctx, kPosition, " WHERE id IN (SELECT position_id FROM appointments WHERE user_id = ?)",
            {id});
  ctx.out.Close();
}

void QueryPositionAppointment(Context& ctx) {
  int64_t id = FindPosition(ctx, RequireChild(ctx.document, "position"));
  ctx.RequireScope(PositionDepartment(ctx, id));
  ctx.tx.Query(kPosition.SelectSql() + " WHERE id = ?", {id},
               [&](const SqlRow& row) { OpenRowElement(ctx, ctx.out, kPosition, row); });
  // The holders outside the caller's departments stay unnamed, as everywhere else.
  WriteRows(ctx, kUser, " WHERE id IN (SELECT user_id FROM appointments WHERE position_id = ?)",
            {id}, VisibleUser(ctx));
  ctx.out.Close();
}

// Replacing appointments touches only those the caller can see: appointments to positions (or of
// users) outside its departments stay as they are.
void SetUserAccession(Context& ctx) {
  pugi::xml_node element = RequireChild(ctx.document, "user");
  std::string id = RequireText(element, "id");
  RequireManage(ctx, RequireUser(ctx, id));
  std::vector<int64_t> keep;
  for (pugi::xml_node position : element.children("position")) {
    int64_t position_id = FindPosition(ctx, position);
    ctx.RequireScope(PositionDepartment(ctx, position_id));
    keep.push_back(position_id);
  }
  std::vector<int64_t> current;
  ctx.tx.Query(
      "SELECT a.position_id, p.department_id FROM appointments a"
      " JOIN positions p ON p.id = a.position_id WHERE a.user_id = ?",
      {id}, [&](const SqlRow& row) {
        if (ctx.InScope(row.Int(1))) current.push_back(row.Int(0));
      });
  for (int64_t position_id : current) {
    ctx.tx.Execute("DELETE FROM appointments WHERE user_id = ? AND position_id = ?",
                   {id, position_id});
  }
  for (int64_t position_id : keep) {
    ctx.tx.Execute("INSERT INTO appointments VALUES(?, ?) ON CONFLICT DO NOTHING",
                   {id, position_id});
  }
}

void SetPositionAppointment(Context& ctx) {
  pugi::xml_node element = RequireChild(ctx.document, "position");
  int64_t position_id = FindPosition(ctx, element);
  ctx.RequireScope(PositionDepartment(ctx, position_id));
  std::vector<std::string> keep;
  for (pugi::xml_node user : element.children("user")) {
    std::string id = RequireText(user, "id");
    ctx.RequireScope(RequireUser(ctx, id).department_id);
    keep.push_back(id);
  }
  std::vector<std::string> current;
  ctx.tx.Query(
      "SELECT a.user_id, u.department_id FROM appointments a"
      " JOIN users u ON u.id = a.user_id WHERE a.position_id = ?",
      {position_id}, [&](const SqlRow& row) {
        if (ctx.InScope(row.Int(1))) current.emplace_back(row.Text(0));
      });
  for (const std::string& id : current) {
    ctx.tx.Execute("DELETE FROM appointments WHERE user_id = ? AND position_id = ?",
                   {id, position_id});
  }
  for (const std::string& id : keep) {
    ctx.tx.Execute("INSERT INTO appointments VALUES(?, ?) ON CONFLICT DO NOTHING",
                   {id, position_id});
  }
}

}  // namespace

void PreparePasswords(const Operation& operation, pugi::xml_node root, Storage& storage,
                      const ServerOptions& options, LoginLimiter& limiter,
                      const std::string& source, PasswordWork* work) {
  const int iterations = options.password_iterations;
  for (pugi::xml_node user : root.children("user")) {
    if (operation.sets != nullptr) {
      std::string password(AttrText(user, operation.sets));
      if (!password.empty() && work->new_hashes.count(password) == 0) {
        work->new_hashes[password] = HashPassword(password, iterations);
      }
    }
    std::string id(AttrText(user, "id"));
    if (operation.verifies != nullptr && !id.empty() && work->verified.count(id) == 0 &&
        limiter.Allowed(id, source)) {
      std::string password(AttrText(user, operation.verifies));
      std::string stored;
      storage.Run(Storage::Access::kRead, Storage::Clock::now() + options.request_timeout,
                  [&](Transaction& tx) {
                    tx.Query("SELECT password_hash FROM users WHERE id = ?", {id},
                             [&](const SqlRow& row) { stored = std::string(row.Text(0)); });
                  });
      if (stored.empty()) {
        BurnPasswordTime(password, iterations);  // an unknown account costs what a known one does
      } else if (VerifyPassword(password, stored)) {
        work->verified[id] = stored;
        if (PasswordNeedsRehash(stored, iterations)) {
          work->new_hashes[password] = HashPassword(password, iterations);
          work->needs_write = true;
        }
      }
    }
    if (!operation.needs_session) break;
  }
}

void AddUserOperations(std::vector<Operation>* operations) {
  using A = Storage::Access;
  operations->insert(
      operations->end(),
      {{"AddUser", AddUser, A::kWrite, true, nullptr, "password"},
       {"UpdateUser", UpdateUser, A::kWrite, true, nullptr, "password"},
       {"DelUser", DelUser, A::kWrite},
       {"QueryUser", QueryUser, A::kRead},
       // A login writes only to store a stronger hash (PasswordWork::needs_write).
       {"Login", Login, A::kRead, false, "password"},
       {"Logout", Logout, A::kRead},
       {"AgentOfflineLogin", AgentOfflineLogin, A::kRead, false, "password"},
       {"UpdateUserPassword", UpdateUserPassword, A::kWrite, true, "password", "newPassword"},
       {"UpdateUserPassword1", UpdateUserPassword1, A::kWrite, true, nullptr, "newPassword"},
       {"GetUserAuthorization", GetUserAuthorization, A::kRead},
       {"GetDepartmentPermission", GetDepartmentPermission, A::kRead},
       {"AddPosition", AddPosition, A::kWrite},
       {"UpdatePosition", UpdatePosition, A::kWrite},
       {"DelPosition", DelPosition, A::kWrite},
       {"QueryPosition", QueryPosition, A::kRead},
       {"QueryUserAccession", QueryUserAccession, A::kRead},
       {"SetUserAccession", SetUserAccession, A::kWrite},
       {"QueryPositionAppointment", QueryPositionAppointment, A::kRead},
       {"SetPositionAppointment", SetPositionAppointment, A::kWrite}});
}

}  // namespace docsec::server
