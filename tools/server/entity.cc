#include "tools/server/entity.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace docsec::server {

const Field* Entity::FindField(std::string_view xml) const {
  for (const Field& field : fields) {
    if (xml == field.xml) return &field;
  }
  return nullptr;
}

int Entity::ColumnIndex(std::string_view column) const {
  int index = 0;
  for (const Field& field : fields) {
    if (field.column == nullptr) continue;
    // The first letters settle most comparisons without measuring the column's name.
    if (!column.empty() && field.column[0] == column[0] && column == field.column) return index;
    ++index;
  }
  return -1;
}

std::string Entity::SelectSql() const {
  std::string sql = "SELECT ";
  bool first = true;
  for (const Field& field : fields) {
    if (field.column == nullptr) continue;
    if (!first) sql += ", ";
    sql += field.column;
    first = false;
  }
  return sql + " FROM " + table;
}

SqlValue StoredValue(const Field& field, std::string_view text) {
  if (field.type == FieldType::kText && !(field.flags & kDigits)) {
    return SqlValue(field.flags & kLowerCase ? std::string_view(AsciiLower(text)) : text);
  }
  if (text.empty()) return SqlValue();
  switch (field.type) {
    case FieldType::kText:  // with kDigits
    case FieldType::kInt: {
      int64_t value;
      if (!ParseInt(text, &value)) {
        throw RequestError(kBadValue, "attribute \"" + std::string(field.xml) +
                                          "\" is not a number: " + Quoted(text));
      }
      return SqlValue(value);
    }
    case FieldType::kBool: {
      bool value;
      if (!ParseBool(text, &value)) {
        throw RequestError(kBadValue, "attribute \"" + std::string(field.xml) +
                                          "\" is not a flag: " + Quoted(text));
      }
      return SqlValue(value);
    }
    default: {
      std::optional<std::string> date = CanonicalDate(text);
      if (!date) {
        throw RequestError(kBadValue, "attribute \"" + std::string(field.xml) +
                                          "\" is not a date: " + Quoted(text));
      }
      return SqlValue(*date);
    }
  }
}

FieldValues WritableValues(const Entity& entity, pugi::xml_node element, bool with_keys) {
  FieldValues values;
  for (const Field& field : entity.fields) {
    if (field.column == nullptr || (field.flags & (kServerSet | kRequestOnly))) continue;
    if (!with_keys && (field.flags & (kKey | kAssigned))) continue;
    pugi::xml_attribute attribute = element.attribute(field.xml.data());
    if (!attribute) continue;
    std::string_view text = attribute.value();
    if (!entity.keeps_long_texts && text.size() > kMaxTextBytes) {
      throw RequestError(kBadValue, AttributeOf(element, field.xml.data()) + " is " +
                                        std::to_string(text.size()) + " bytes long; at most " +
                                        std::to_string(kMaxTextBytes) + " are kept");
    }
    values.emplace_back(&field, StoredValue(field, text));
  }
  return values;
}

SqlValue ElementValue(const Entity& entity, pugi::xml_node element, const char* xml) {
  const Field* field = entity.FindField(xml);
  pugi::xml_attribute attribute = element.attribute(xml);
  if (field == nullptr || !attribute) return SqlValue();
  return StoredValue(*field, attribute.value());
}

void AppendConditions(const Entity& entity, pugi::xml_node condition, std::string* where,
                      SqlParams* params) {
  for (pugi::xml_attribute attribute : condition.attributes()) {
    const Field* field = entity.FindField(attribute.name());
    if (field == nullptr || field->column == nullptr || (field->flags & kRequestOnly)) continue;
    std::string_view text = attribute.value();
    *where += where->empty() ? " WHERE " : " AND ";
    if (text.empty()) {
      *where += std::string(field->column) + " IS NOT NULL";
    } else if (field->type != FieldType::kText || (field->flags & (kKey | kDigits))) {
      *where += std::string(field->column) + " = ?";
      params->push_back(StoredValue(*field, text));
    } else {
      *where += "lower(" + std::string(field->column) + ") LIKE ? ESCAPE '\\'";
      params->push_back(LikeContaining(text));
    }
  }
}

void OpenRowElement(Context& ctx, XmlWriter& out, const Entity& entity, const SqlRow& row,
                    const std::vector<std::string_view>* omit, bool derived) {
  out.Open(entity.tag);
  int index = 0;
  for (const Field& field : entity.fields) {
    if (field.column == nullptr) continue;
    int column = index++;
    if (omit != nullptr && std::find(omit->begin(), omit->end(), field.xml) != omit->end()) {
      continue;
    }
    switch (field.flags & kDigits ? FieldType::kInt : field.type) {
      case FieldType::kInt:
        if (std::optional<int64_t> value = row.IntIfSet(column)) out.Attr(field.xml, *value);
        break;
      case FieldType::kBool:
        if (std::optional<int64_t> value = row.IntIfSet(column))
          out.BoolAttr(field.xml, *value != 0);
        break;
      default:
        if (std::optional<std::string_view> text = row.TextIfSet(column))
          out.Attr(field.xml, *text);
    }
  }
  if (derived && entity.derive != nullptr) entity.derive(ctx, out, entity, row);
}

size_t WriteRows(Context& ctx, const Entity& entity, const std::string& where,
                 const SqlParams& params, const std::function<bool(const SqlRow&)>& visible) {
  size_t written = 0;
  ctx.tx.Query(entity.SelectSql() + where + " ORDER BY " + entity.order_by, params,
               [&](const SqlRow& row) {
                 if (visible && !visible(row)) return;
                 OpenRowElement(ctx, ctx.out, entity, row);
                 ctx.out.Close();
                 ++written;
               });
  return written;
}

int64_t InsertRow(Context& ctx, const Entity& entity, const FieldValues& values) {
  std::string columns;
  std::string marks;
  SqlParams params;
  for (const auto& [field, value] : values) {
    if (!columns.empty()) {
      columns += ", ";
      marks += ", ";
    }
    columns += field->column;
    marks += "?";
    params.push_back(value);
  }
  const char* assigned = nullptr;
  for (const Field& field : entity.fields) {
    if (field.flags & kAssigned) assigned = field.column;
  }
  std::string sql =
      std::string("INSERT INTO ") + entity.table + "(" + columns + ") VALUES(" + marks + ")";
  if (assigned == nullptr) {
    ctx.tx.Execute(sql, params);
    return 0;
  }
  return ctx.tx.QueryInt(sql + " RETURNING " + assigned, params, 0);
}

int64_t UpdateRows(Context& ctx, const Entity& entity, const FieldValues& values,
                   const std::string& where, const SqlParams& where_params) {
  if (values.empty()) return 0;
  std::string sets;
  SqlParams params;
  for (const auto& [field, value] : values) {
    if (!sets.empty()) sets += ", ";
    sets += std::string(field->column) + " = ?";
    params.push_back(value);
  }
  params.insert(params.end(), where_params.begin(), where_params.end());
  return ctx.tx.Execute(std::string("UPDATE ") + entity.table + " SET " + sets + where, params);
}

const std::vector<const Entity*>& AllEntities() {
  static const std::vector<const Entity*> kAll = {
      &kDepartmentEntity,  &kUserEntity,        &kComputerEntity,  &kPositionEntity,
      &kSecretLevelEntity, &kApplicationEntity, &kIpSegmentEntity, &kDefaultLevelEntity,
      &kLogEntity,         &kScanLogEntity};
  return kAll;
}

namespace {

// The derived attributes, declared in the fields (no column) and written by the derive functions.
constexpr std::string_view kSuperDeptPath = "superDeptPath";
constexpr std::string_view kDepartmentPath = "departmentPath";

// Each path-bearing kind names the column whose department's path it answers.
void DeriveSuperPath(Context& ctx, XmlWriter& out, const Entity& entity, const SqlRow& row) {
  int64_t parent = ctx.departments().Parent(row.Int(entity.ColumnIndex("id")));
  out.EscapedAttr(kSuperDeptPath, ctx.departments().EscapedPath(parent));  // "" for a root
}

void DeriveDepartmentPath(Context& ctx, XmlWriter& out, const Entity& entity, const SqlRow& row) {
  int64_t department = row.Int(entity.ColumnIndex("department_id"));
  out.EscapedAttr(kDepartmentPath, ctx.departments().EscapedPath(department));
}

constexpr FieldType kText = FieldType::kText;
constexpr FieldType kInt = FieldType::kInt;
constexpr FieldType kBool = FieldType::kBool;
constexpr FieldType kDate = FieldType::kDate;

}  // namespace

const Entity kDepartmentEntity = {"Department",
                                  "department",
                                  "departments",
                                  {{"id", "id", kInt, kKey | kAssigned},
                                   {"name", "name", kText, 0},
                                   {"superDeptId", "super_id", kText, kDigits},
                                   {"description", "description", kText, 0},
                                   {"office", "office", kText, 0},
                                   {"telephone", "telephone", kText, 0},
                                   {"fax", "fax", kText, 0},
                                   {"innerPermission", "inner_permission", kInt, 0},
                                   {"authorPermission", "author_permission", kInt, 0},
                                   {"currentVersion", "current_version", kText, 0},
                                   {"isDelSubDeptIpSegment", nullptr, kBool, kRequestOnly},
                                   {"isSystemDefault", "is_system_default", kBool, kServerSet},
                                   {kSuperDeptPath, nullptr, kText, kServerSet}},
                                  "id",
                                  "id",
                                  DeriveSuperPath};

const Entity kUserEntity = {"User",
                            "user",
                            "users",
                            {{"id", "id", kText, kKey},
                             {"name", "name", kText, 0},
                             {"isConsoleManager", "is_console_manager", kBool, 0},
                             {"isSupervisor", "is_supervisor", kBool, 0},
                             {"password", nullptr, kText, kRequestOnly},
                             {"newPassword", nullptr, kText, kRequestOnly},
                             {"tel", "tel", kText, 0},
                             {"mail", "mail", kText, 0},
                             {"description", "description", kText, 0},
                             {"departmentId", "department_id", kInt, 0},
                             {"consolePermission", "console_permission", kText, 0},
                             {"encryptMode", "encrypt_mode", kText, kDigits},
                             {"adminDept", "admin_dept", kInt, 0},
                             {"enterpriseKey", nullptr, kText, kRequestOnly},
                             {"isLock", "is_lock", kBool, 0},
                             {"isSystemDefault", "is_system_default", kBool, kServerSet},
                             {kDepartmentPath, nullptr, kText, kServerSet}},
                            "id",
                            "department_id",
                            DeriveDepartmentPath};

const Entity kComputerEntity = {"Computer",
                                "computer",
                                "computers",
                                {{"uuid", "uuid", kText, kKey | kLowerCase},
                                 {"ip", "ip", kText, 0},
                                 {"name", "name", kText, 0},
                                 {"isApproved", "is_approved", kBool, 0},
                                 {"status", "status", kText, 0},
                                 {"agentVersion", "agent_version", kText, 0},
                                 {"updateStatus", "update_status", kInt, 0},
                                 {"isManualEncrypt", "is_manual_encrypt", kBool, 0},
                                 {"updateTime", "update_time", kDate, 0},
                                 {"departmentId", "department_id", kInt, 0},
                                 {"allowUpdate", "allow_update", kBool, 0},
                                 {"extPermission", "ext_permission", kInt, 0},
                                 {"isEncrypt", "is_encrypt", kBool, 0},
                                 {"lastLoginTiime", "last_login_time", kDate, kServerSet},
                                 {kDepartmentPath, nullptr, kText, kServerSet}},
                                "uuid",
                                "department_id",
                                DeriveDepartmentPath};

const Entity kPositionEntity = {"Position",
                                "position",
                                "positions",
                                {{"id", "id", kInt, kKey | kAssigned},
                                 {"isWithSubPositions", nullptr, kBool, kRequestOnly},
                                 {"departmentId", "department_id", kInt, kKey},
                                 {"positionName", "position_name", kText, kKey},
                                 {"description", "description", kText, 0},
                                 {"isSysCreate", "is_sys_create", kBool, 0},
                                 {kDepartmentPath, nullptr, kText, kServerSet}},
                                "id",
                                "department_id",
                                DeriveDepartmentPath};

const Entity kSecretLevelEntity = {"SecretLevel",
                                   "secretLevel",
                                   "secret_levels",
                                   {{"id", "id", kInt, kKey},
                                    {"name", "name", kText, 0},
                                    {"description", "description", kText, 0},
                                    {"isSystemDefault", "is_system_default", kBool, kServerSet}},
                                   "id",
                                   nullptr,
                                   nullptr};

const Entity kApplicationEntity = {
    "Application",  "application",
    "applications", {{"name", "name", kText, kKey}, {"description", "description", kText, 0}},
    "name",         nullptr,
    nullptr};

const Entity kIpSegmentEntity = {"IpSegment",
                                 "ip",
                                 "ip_segments",
                                 {{"ipFrom", "ip_from", kText, kKey},
                                  {"ipTo", "ip_to", kText, kKey},
                                  {"departmentId", "department_id", kInt, kServerSet},
                                  // UpdateIpSegment: the range as it was and as it becomes.
                                  {"oldIpFrom", nullptr, kText, kRequestOnly},
                                  {"oldIpTo", nullptr, kText, kRequestOnly},
                                  {"newIpFrom", nullptr, kText, kRequestOnly},
                                  {"newIpTo", nullptr, kText, kRequestOnly}},
                                 "from_num, to_num, department_id",
                                 "department_id",
                                 nullptr};

const Entity kDefaultLevelEntity = {"DefAppSecretLevel",
                                    "defAppSecretLevel",
                                    "default_levels",
                                    {{"departmentId", "department_id", kInt, kKey},
                                     {"applicationName", "application_name", kText, kKey},
                                     {"secretLevelId", "secret_level_id", kInt, 0},
                                     {"isOnlyDecrypt", "is_only_decrypt", kBool, 0}},
                                    "department_id, application_name",
                                    "department_id",
                                    nullptr};

}  // namespace docsec::server
