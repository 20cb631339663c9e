// Secret levels, applications, department policies, default application levels and the
// authorizations of single files.
#include "tools/server/entity.h"
#include "tools/server/operations.h"

namespace docsec::server {
namespace {

const Entity& kLevel = kSecretLevelEntity;
const Entity& kApp = kApplicationEntity;

void QueryAll(Context& ctx, const Entity& entity) {
  std::string where;
  SqlParams params;
  AppendConditions(entity, ctx.document.child(entity.tag), &where, &params);
  WriteRows(ctx, entity, where, params);
}

void RequireLevel(Context& ctx, int64_t id) {
  if (!ctx.tx.Exists("SELECT 1 FROM secret_levels WHERE id = ?", {id})) {
    throw RequestError(kNotFound, "no secret level " + std::to_string(id));
  }
}

// The catalogues of secret levels and applications are shared by every department, so only a
// supervisor changes them.
void AddSecretLevel(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "secretLevel")) {
    RequireText(element, "name");
    std::optional<int64_t> id = OptionalInt(element, "id");
    if (!id) id = ctx.tx.QueryInt("SELECT COALESCE(MAX(id), 0) + 1 FROM secret_levels", {}, 1);
    if (*id <= 0) {
      throw RequestError(kBadValue, AttributeOf(element, "id") + " is " + std::to_string(*id) +
                                        "; a secret level id must be positive");
    }
    if (ctx.tx.Exists("SELECT 1 FROM secret_levels WHERE id = ?", {*id})) {
      throw RequestError(kAlreadyExists, "secret level " + std::to_string(*id) + " already exists");
    }
    FieldValues values = WritableValues(kLevel, element, false);
    values.emplace_back(kLevel.FindField("id"), SqlValue(*id));
    InsertRow(ctx, kLevel, values);
    WriteRows(ctx, kLevel, " WHERE id = ?", {*id});
  }
}

void UpdateSecretLevel(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "secretLevel")) {
    int64_t id = RequireInt(element, "id");
    RequireLevel(ctx, id);
    UpdateRows(ctx, kLevel, WritableValues(kLevel, element, false), " WHERE id = ?", {id});
  }
}

void DelSecretLevel(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "secretLevel")) {
    int64_t id = RequireInt(element, "id");
    RequireLevel(ctx, id);
    if (ctx.tx.Exists("SELECT 1 FROM secret_levels WHERE id = ? AND is_system_default <> 0",
                      {id})) {
      throw RequestError(kSystemDefault, "secret level " + std::to_string(id) + " is built in");
    }
    static const char* const kUses[][2] = {{"policies", "department policies"},
                                           {"default_levels", "default application levels"},
                                           {"scan_extensions", "scan settings"}};
    std::string uses;
    for (const auto& [table, what] : kUses) {
      if (ctx.tx.Exists(std::string("SELECT 1 FROM ") + table + " WHERE secret_level_id = ?",
                        {id})) {
        uses += (uses.empty() ? "" : ", ") + std::string(what);
      }
    }
    if (!uses.empty()) {
      throw RequestError(kConflict,
                         "secret level " + std::to_string(id) + " is still used by " + uses);
    }
    ctx.tx.Execute("DELETE FROM secret_levels WHERE id = ?", {id});
  }
}

void QuerySecretLevel(Context& ctx) { QueryAll(ctx, kLevel); }

void AddApplication(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "application")) {
    std::string name = RequireText(element, "name");
    if (ctx.tx.Exists("SELECT 1 FROM applications WHERE name = ?", {name})) {
      throw RequestError(kAlreadyExists, "application " + Quoted(name) + " already exists");
    }
    InsertRow(ctx, kApp, WritableValues(kApp, element, true));
    WriteRows(ctx, kApp, " WHERE name = ?", {name});
  }
}

void UpdateApplication(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "application")) {
    std::string name = RequireText(element, "name");
    if (UpdateRows(ctx, kApp, WritableValues(kApp, element, false), " WHERE name = ?", {name}) ==
            0 &&
        !ctx.tx.Exists("SELECT 1 FROM applications WHERE name = ?", {name})) {
      throw RequestError(kNotFound, "no application " + Quoted(name));
    }
  }
}

void DelApplication(Context& ctx) {
  ctx.RequireSupervisor();
  for (pugi::xml_node element : RequireChildren(ctx, "application")) {
    std::string name = RequireText(element, "name");
    if (ctx.tx.Execute("DELETE FROM applications WHERE name = ?", {name}) == 0) {
      throw RequestError(kNotFound, "no application " + Quoted(name));
    }
  }
}

void QueryApplication(Context& ctx) { QueryAll(ctx, kApp); }

// QueryPolicy: the policies of the departments in the caller's scope that match "ownerDeptId"
// and "secretLevelId", each with its authorizations.
void QueryPolicy(Context& ctx) {
  pugi::xml_node condition = ctx.document.child("policy");
  std::string where = " WHERE 1 = 1";
  SqlParams params;
  if (std::optional<int64_t> department = OptionalInt(condition, "ownerDeptId")) {
    ctx.RequireScope(*department);
    where += " AND department_id = ?";
    params.push_back(*department);
  }
  if (std::optional<int64_t> level = OptionalInt(condition, "secretLevelId")) {
    where += " AND secret_level_id = ?";
    params.push_back(*level);
  }
  std::vector<std::pair<int64_t, int64_t>> policies;
  ctx.tx.Query("SELECT department_id, secret_level_id FROM policies" + where +
                   " ORDER BY department_id, secret_level_id",
               params, [&](const SqlRow& row) {
                 if (ctx.InScope(row.Int(0))) policies.emplace_back(row.Int(0), row.Int(1));
               });
  for (const auto& [department, level] : policies) {
    const std::string& path = ctx.departments().Path(department);
    ctx.out.Open("policy").Attr("ownerDeptId", department).Attr("secretLevelId", level);
    ctx.tx.Query(
        "SELECT a.position_id, p.department_id, p.position_name, a.permission"
        " FROM policy_position_auths a JOIN positions p ON p.id = a.position_id"
        " WHERE a.department_id = ? AND a.secret_level_id = ? ORDER BY a.position_id",
        {department, level}, [&](const SqlRow& row) {
          ctx.out.Open("positionAuthorization").Attr("ownerDeptId", department);
          ctx.out.Attr("secretLevelId", level).Attr("positionId", row.Int(0));
          ctx.out.Attr("authorizeDeptId", row.Int(1)).Attr("positionName", row.Text(2));
          ctx.out.Attr("permission", row.Int(3));
          ctx.out.Attr("authorizeDeptPath", ctx.departments().Path(row.Int(1))).Close();
        });
    ctx.tx.Query(
        "SELECT a.user_id, a.permission, u.name, u.department_id"
        " FROM policy_user_auths a JOIN users u ON u.id = a.user_id"
        " WHERE a.department_id = ? AND a.secret_level_id = ? ORDER BY a.user_id",
        {department, level}, [&](const SqlRow& row) {
          ctx.out.Open("userAuthorization").Attr("authorizeDeptId", department);
          ctx.out.Attr("secretLevelId", level).Attr("userId", row.Text(0));
          ctx.out.Attr("permission", row.Int(1)).Attr("authorizeDeptPath", path);
          ctx.out.Attr("userDeptPath", ctx.departments().Path(row.Int(3)));
          ctx.out.Attr("userName", row.Text(2)).Attr("userDeptId", row.Int(3)).Close();
        });
    ctx.out.Close();
  }
}

// The position an authorization names: "positionId" when it names a stored position, else its
// department ("authorizeDeptId" or `department_attribute`) and "positionName".
int64_t AuthorizedPosition(Context& ctx, pugi::xml_node element, const char* department_attribute) {
  if (std::optional<int64_t> id = OptionalInt(element, "positionId")) {
    if (ctx.tx.Exists("SELECT 1 FROM positions WHERE id = ?", {*id})) return *id;
  }
  int64_t found = ctx.tx.QueryInt(
      "SELECT id FROM positions WHERE department_id = ? AND position_name = ?",
      {RequireInt(element, department_attribute), RequireText(element, "positionName")}, 0);
  if (found == 0) {
    throw RequestError(kNotFound,
                       "no position named " + Quoted(AttrText(element, "positionName")) + " in " +
                           ctx.DepartmentName(RequireInt(element, department_attribute)));
  }
  return found;
}

std::string AuthorizedUser(Context& ctx, pugi::xml_node element) {
  std::string id = RequireText(element, "userId");
  if (!ctx.tx.Exists("SELECT 1 FROM users WHERE id = ?", {id})) {
    throw RequestError(kNotFound, "no user " + id);
  }
  return id;
}

// SetPolicy replaces every policy of the department: a policy that no longer grants anything is
// not sent, so one missing from the request is one to remove.
void SetPolicy(Context& ctx) {
  pugi::xml_node department_element = RequireChild(ctx.document, "department");
  int64_t department = RequireInt(department_element, "id");
  ctx.RequireScope(department);
  ctx.tx.Execute("DELETE FROM policies WHERE department_id = ?", {department});
  for (pugi::xml_node policy : department_element.children("policy")) {
    int64_t level = RequireInt(policy, "secretLevelId");
    RequireLevel(ctx, level);
    if (OptionalInt(policy, "ownerDeptId").value_or(department) != department) {
      throw RequestError(kBadValue, AttributeOf(policy, "ownerDeptId") + " names department " +
                                        std::string(AttrText(policy, "ownerDeptId")) +
                                        ", but the policies are set for " +
                                        ctx.DepartmentName(department));
    }
    ctx.tx.Execute("INSERT INTO policies VALUES(?, ?) ON CONFLICT DO NOTHING", {department, level});
    for (pugi::xml_node entry : policy.children("positionAuthorization")) {
      int64_t permission = RequireInt(entry, "permission");
      int64_t position = AuthorizedPosition(ctx, entry, "authorizeDeptId");
      if (permission == 0) continue;
      ctx.tx.Execute(
          "INSERT INTO policy_position_auths VALUES(?, ?, ?, ?) ON CONFLICT(department_id,"
          " secret_level_id, position_id) DO UPDATE SET permission = excluded.permission",
          {department, level, position, permission});
    }
    for (pugi::xml_node entry : policy.children("userAuthorization")) {
      int64_t permission = RequireInt(entry, "permission");
      std::string user = AuthorizedUser(ctx, entry);
      if (permission == 0) continue;
      ctx.tx.Execute(
          "INSERT INTO policy_user_auths VALUES(?, ?, ?, ?) ON CONFLICT(department_id,"
          " secret_level_id, user_id) DO UPDATE SET permission = excluded.permission",
          {department, level, user, permission});
    }
  }
}

// SetDefAppSecretLevel replaces the department's default levels with the list sent.
void SetDefAppSecretLevel(Context& ctx) {
  pugi::xml_node department_element = RequireChild(ctx.document, "department");
  int64_t department = RequireInt(department_element, "id");
  ctx.RequireScope(department);
  ctx.tx.Execute("DELETE FROM default_levels WHERE department_id = ?", {department});
  for (pugi::xml_node entry : department_element.children("defAppSecretLevel")) {
    std::string application = RequireText(entry, "applicationName");
    if (!ctx.tx.Exists("SELECT 1 FROM applications WHERE name = ?", {application})) {
      throw RequestError(kNotFound, "no application " + Quoted(application));
    }
    int64_t level = RequireInt(entry, "secretLevelId");
    RequireLevel(ctx, level);
    if (OptionalInt(entry, "departmentId").value_or(department) != department) {
      throw RequestError(kBadValue, AttributeOf(entry, "departmentId") + " names department " +
                                        std::string(AttrText(entry, "departmentId")) +
                                        ", but the default levels are set for " +
                                        ctx.DepartmentName(department));
    }
    std::optional<bool> only_decrypt = OptionalBool(entry, "isOnlyDecrypt");
    ctx.tx.Execute(
        "INSERT INTO default_levels VALUES(?, ?, ?, ?)"
        " ON CONFLICT(department_id, application_name) DO UPDATE SET"
        " secret_level_id = excluded.secret_level_id, is_only_decrypt = excluded.is_only_decrypt",
        {department, application, level, only_decrypt ? SqlValue(*only_decrypt) : SqlValue()});
  }
}

void QueryDefAppSecretLevel(Context& ctx) {
  std::string where;
  SqlParams params;
  AppendConditions(kDefaultLevelEntity, ctx.document.child("defAppSecretLevel"), &where, &params);
  WriteRows(ctx, kDefaultLevelEntity, where, params,
            [&](const SqlRow& row) { return ctx.InScope(row.Int(0)); });
}

// The department that governs a file: the one stored with its authorizations, else the one of
// its computer, else the one the key names ("departmentId" of an encrypted file). The caller must
// reach the stored department and the computer's: a department named in the request cannot
// stand in for the computer the file lies on.
int64_t FileDepartment(Context& ctx, pugi::xml_node file, const std::string& guid) {
  int64_t stored = ctx.tx.QueryInt("SELECT department_id FROM files WHERE guid = ?", {guid}, 0);
  int64_t computer = ctx.tx.QueryInt("SELECT department_id FROM computers WHERE uuid = ?",
                                     {AsciiLower(AttrText(file, "computerUuid"))}, 0);
  for (int64_t known : {stored, computer}) {
    if (known > 0) ctx.RequireScope(known);
  }
  int64_t department = stored > 0 ? stored : computer;
  if (department <= 0) department = OptionalInt(file, "departmentId").value_or(0);
  if (department <= 0) {
    ctx.RequireSupervisor("act on the authorizations of file " + guid +
                          ", which no department governs");
    return 0;
  }
  ctx.RequireScope(department);
  return department;
}

void QueryFileAuthorization(Context& ctx) {
  pugi::xml_node file = RequireChild(ctx.document, "file");
  std::string guid = RequireText(file, "GUID");
  FileDepartment(ctx, file, guid);
  ctx.out.Open("file").Attr("GUID", guid);
  ctx.tx.Query("SELECT path, department_id FROM files WHERE guid = ?", {guid},
               [&](const SqlRow& row) {
                 if (!row.IsNull(0)) ctx.out.Attr("path", row.Text(0));
                 if (!row.IsNull(1)) ctx.out.Attr("departmentId", row.Int(1));
               });
  ctx.tx.Query(
      "SELECT a.user_id, a.permission, u.name, u.department_id FROM file_user_auths a"
      " JOIN users u ON u.id = a.user_id WHERE a.file_guid = ? ORDER BY a.user_id",
      {guid}, [&](const SqlRow& row) {
        ctx.out.Open("fileUserAuthorization").Attr("fileGUID", guid).Attr("userId", row.Text(0));
        ctx.out.Attr("permission", row.Int(1)).Attr("userName", row.Text(2));
        ctx.out.Attr("departmentPath", ctx.departments().Path(row.Int(3))).Close();
      });
  ctx.tx.Query(
      "SELECT a.position_id, p.department_id, p.position_name, a.permission"
      " FROM file_position_auths a JOIN positions p ON p.id = a.position_id"
      " WHERE a.file_guid = ? ORDER BY a.position_id",
      {guid}, [&](const SqlRow& row) {
        ctx.out.Open("filePositionAuthorization").Attr("fileGUID", guid);
        ctx.out.Attr("positionId", row.Int(0)).Attr("departmentId", row.Int(1));
        ctx.out.Attr("positionName", row.Text(2)).Attr("permission", row.Int(3));
        ctx.out.Attr("departmentPath", ctx.departments().Path(row.Int(1))).Close();
      });
  ctx.out.Close();
}

// Remembers the file with the department that governs it, then replaces one kind of its
// authorizations; a key element without entries leaves the file none of that kind.
void SetFileAuthorization(Context& ctx, bool users) {
  pugi::xml_node file = RequireChild(ctx.document, "file");
  std::string guid = RequireText(file, "GUID");
  int64_t department = FileDepartment(ctx, file, guid);
  ctx.tx.Execute(
      "INSERT INTO files VALUES(?, ?, ?, ?) ON CONFLICT(guid) DO UPDATE SET"
      " path = excluded.path, computer_uuid = excluded.computer_uuid",
      {guid, department == 0 ? SqlValue() : SqlValue(department), AttrText(file, "path"),
       AsciiLower(AttrText(file, "computerUuid"))});
  if (users) {
    ctx.tx.Execute("DELETE FROM file_user_auths WHERE file_guid = ?", {guid});
    for (pugi::xml_node entry : file.children("fileUserAuthorization")) {
      int64_t permission = RequireInt(entry, "permission");
      std::string user = AuthorizedUser(ctx, entry);
      if (permission == 0) continue;
      ctx.tx.Execute(
          "INSERT INTO file_user_auths VALUES(?, ?, ?)"
          " ON CONFLICT(file_guid, user_id) DO UPDATE SET permission = excluded.permission",
          {guid, user, permission});
    }
  } else {
    ctx.tx.Execute("DELETE FROM file_position_auths WHERE file_guid = ?", {guid});
    for (pugi::xml_node entry : file.children("filePositionAuthorization")) {
      int64_t permission = RequireInt(entry, "permission");
      int64_t position = AuthorizedPosition(ctx, entry, "departmentId");
      if (permission == 0) continue;
      ctx.tx.Execute(
          "INSERT INTO file_position_auths VALUES(?, ?, ?)"
          " ON CONFLICT(file_guid, position_id) DO UPDATE SET permission = excluded.permission",
          {guid, position, permission});
    }
  }
}

void SetFileUserAuthorization(Context& ctx) { SetFileAuthorization(ctx, true); }
void SetFilePositionAuthorization(Context& ctx) { SetFileAuthorization(ctx, false); }

}  // namespace

void AddPolicyOperations(std::vector<Operation>* operations) {
  using A = Storage::Access;
  operations->insert(operations->end(),
                     {{"AddSecretLevel", AddSecretLevel, A::kWrite},
                      {"UpdateSecretLevel", UpdateSecretLevel, A::kWrite},
                      {"DelSecretLevel", DelSecretLevel, A::kWrite},
                      {"QuerySecretLevel", QuerySecretLevel, A::kRead},
                      {"AddApplication", AddApplication, A::kWrite},
                      {"UpdateApplication", UpdateApplication, A::kWrite},
                      {"DelApplication", DelApplication, A::kWrite},
                      {"QueryApplication", QueryApplication, A::kRead},
                      {"QueryPolicy", QueryPolicy, A::kRead},
                      {"SetPolicy", SetPolicy, A::kWrite},
                      {"SetDefAppSecretLevel", SetDefAppSecretLevel, A::kWrite},
                      {"QueryDefAppSecretLevel", QueryDefAppSecretLevel, A::kRead},
                      {"QueryFileAuthorization", QueryFileAuthorization, A::kRead},
                      {"SetFileUserAuthorization", SetFileUserAuthorization, A::kWrite},
                      {"SetFilePositionAuthorization", SetFilePositionAuthorization, A::kWrite}});
}

}  // namespace docsec::server
