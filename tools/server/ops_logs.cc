// Operation logs, scan logs, automatic-scan settings, system commands and the catalogue of
// operation names.
#include <algorithm>

#include "tools/server/entity.h"
#include "tools/server/operations.h"
#include "tools/server/password_hash.h"

namespace docsec::server {
namespace {

constexpr FieldType kText = FieldType::kText;
constexpr FieldType kDate = FieldType::kDate;
// Records per page when a search names none, and the most it may ask for.
constexpr int64_t kMaxPageSize = 1000;

}  // namespace

const Entity kLogEntity = {"Log",
                           "log",
                           "logs",
                           {{"userId", "user_id", kText, 0},
                            {"userName", "user_name", kText, 0},
                            {"operationTime", "operation_time", kDate, 0},
                            {"operationType", "operation_type", kText, 0},
                            {"operation", "operation", kText, 0},
                            {"userDepartment", "user_department", kText, 0},
                            {"dstCompName", "dst_comp_name", kText, 0},
                            {"dstCompIp", "dst_comp_ip", kText, 0},
                            {"dstCompDeptPath", "dst_comp_dept_path", kText, 0},
                            {"usedCompName", "used_comp_name", kText, 0},
                            {"usedCompIp", "used_comp_ip", kText, 0},
                            {"usedCompDeptPath", "used_comp_dept_path", kText, 0},
                            {"dstFile", "dst_file", kText, 0},
                            {"dstFileSecLvl", "dst_file_sec_lvl", kText, 0},
                            {"srcFile", "src_file", kText, 0},
                            {"srcFileSecLvl", "src_file_sec_lvl", kText, 0},
                            {"fileType", "file_type", kText, 0},
                            {"createTime", "create_time", kDate, 0},
                            {"fileUUID", "file_uuid", kText, 0},
                            // The account whose session uploaded the entry: an entry names
                            // who acted, and this who vouched for it.
                            {"uploadedBy", "uploaded_by", kText, kServerSet}},
                           "id",
                           "department_id",
                           nullptr,
                           true};

const Entity kScanLogEntity = {"ScanLog",
                               "scanLog",
                               "scan_logs",
                               {{"id", "id", FieldType::kInt, kKey},
                                {"computerIp", "computer_ip", kText, 0},
                                {"computerName", "computer_name", kText, 0},
                                {"startTime", "start_time", kDate, 0},
                                {"endTime", "end_time", kDate, 0},
                                {"createTime", "create_time", kDate, 0},
                                {"status", "status", kText, 0},
                                {"description", "description", kText, 0},
                                {"interrupt", "interrupt", kText, 0}},
                               "id",
                               "department_id",
                               nullptr,
                               true};

namespace {

// How a search attribute filters: equal to a column, containing text, or bounding a time.
enum class Match { kEqual, kContains, kFrom, kTo };
struct SearchTerm {
  const char* attribute;
  const char* column;
  Match match;
};

// A paged search: the conditions and ordering of a condition element, turned into SQL.
struct PagedSearch {
  std::string where = " WHERE 1 = 1";
  SqlParams params;
  std::string order;
  int64_t limit = kMaxPageSize;
  int64_t offset = 0;
};

void AddTerms(pugi::xml_node condition, const std::vector<SearchTerm>& terms, PagedSearch* search) {
  for (const SearchTerm& term : terms) {
    std::string_view text = AttrText(condition, term.attribute);
    if (text.empty()) continue;
    switch (term.match) {
      case Match::kEqual:
        search->where += std::string(" AND ") + term.column + " = ?";
        search->params.push_back(text);
        break;
      case Match::kContains:
        search->where += std::string(" AND lower(") + term.column + ") LIKE ? ESCAPE '\\'";
        search->params.push_back(LikeContaining(text));
        break;
      default: {
        std::optional<std::string> date = CanonicalDate(text);
        if (!date) {
          throw RequestError(kBadValue, std::string(term.attribute) + " is not a date");
        }
        search->where +=
            std::string(" AND ") + term.column + (term.match == Match::kFrom ? " >= ?" : " <= ?");
        search->params.push_back(*date);
      }
    }
  }
}

// "orderBy" names an attribute of `entity` (default `default_column`), "order" is "asc" or
// "desc" (default descending, newest first); ties are broken by id so that pages never overlap.
// "pageNum" counts from 1; "pageSum" is at most kMaxPageSize.
void AddOrderAndPage(pugi::xml_node condition, const Entity& entity, const char* default_column,
                     PagedSearch* search) {
  std::string_view order_by = AttrText(condition, "orderBy");
  std::string column = default_column;
  if (!order_by.empty()) {
    const Field* field = entity.FindField(order_by);
    if (field == nullptr || field->column == nullptr) {
      throw RequestError(kBadValue, "cannot order by " + std::string(order_by));
    }
    column = field->column;
  }
  std::string direction = AsciiLower(AttrText(condition, "order"));
  if (direction.empty()) direction = "desc";
  if (direction != "asc" && direction != "desc") {
    throw RequestError(kBadValue, "order must be asc or desc");
  }
  search->order = " ORDER BY " + column + " " + direction + ", id " + direction;
  int64_t page = OptionalInt(condition, "pageNum").value_or(1);
  int64_t size = OptionalInt(condition, "pageSum").value_or(kMaxPageSize);
  if (page < 1) page = 1;
  if (size < 1 || size > kMaxPageSize) size = kMaxPageSize;
  search->limit = size;
  search->offset = std::min<int64_t>((page - 1), int64_t{1} << 40) * size;
}

// Logs whose department the caller does not administer (or that name no known computer) are
// shown to supervisors only.
void AddScope(Context& ctx, PagedSearch* search) {
  if (ctx.caller->supervisor) return;
  SqlParams params;
  std::string clause = SubtreeClause("department_id", ctx.caller->admin_root, 0, &params);
  search->where += " AND" + clause.substr(6);  // " WHERE x IN (...)" becomes " AND x IN (...)"
  search->params.insert(search->params.end(), params.begin(), params.end());
}

void WritePage(Context& ctx, const Entity& entity, const PagedSearch& search) {
  int64_t count = ctx.tx.QueryInt(
      std::string("SELECT COUNT(*) FROM ") + entity.table + search.where, search.params, 0);
  SqlParams params = search.params;
  params.push_back(search.limit);
  params.push_back(search.offset);
  ctx.tx.Query(entity.SelectSql() + search.where + search.order + " LIMIT ? OFFSET ?", params,
               [&](const SqlRow& row) {
                 OpenRowElement(ctx, ctx.out, entity, row);
                 ctx.out.Close();
               });
  ctx.out.Open("count").Attr("value", count).Close();
}

// Keyset paging of the operation log, stable while entries arrive. "afterId" (with
// "afterOperationTime", the cursor's text as answered, absent or empty for an entry without a
// time) asks for the entries after that one in the order (operationTime, id) asked; "maxId" leaves
// out entries stored after a walk began (ids only grow). Every answer ends with <cursor>: its
// last entry's operationTime and id (the request's cursor when the page is empty), the maxId it
// covered and whether entries follow, so that the next request can copy it.
struct LogCursor {
  std::optional<int64_t> after_id;
  std::optional<std::string> after_time;  // none: the entry has no time
  int64_t max_id = 0;
  // The condition that starts the page after the cursor; the count leaves it out, so that it
  // stays the total of the whole walk.
  std::string clause;
  SqlParams params;
};

LogCursor AddLogCursor(Context& ctx, pugi::xml_node condition, PagedSearch* search) {
  LogCursor cursor;
  std::optional<int64_t> max_id = OptionalInt(condition, "maxId");
  if (max_id) {
    search->where += " AND id <= ?";
    search->params.push_back(*max_id);
  }
  // Read in the page's own transaction, so that the bound and the page agree.
  cursor.max_id =
      max_id ? *max_id : ctx.tx.QueryInt("SELECT COALESCE(MAX(id), 0) FROM logs", {}, 0);
  cursor.after_id = OptionalInt(condition, "afterId");
  if (!cursor.after_id) return cursor;
  std::string_view order_by = AttrText(condition, "orderBy");
  if (!order_by.empty() && order_by != "operationTime") {
    throw RequestError(kBadValue,
                       "a cursor pages in operationTime order, not by " + std::string(order_by));
  }
  if (std::string_view time = AttrText(condition, "afterOperationTime"); !time.empty()) {
    cursor.after_time = std::string(time);
  } else {
    // An empty time is either none or an empty text that an older writer stored; they sort
    // apart, and the entry itself tells which (gone: taken as none).
    ctx.tx.Query("SELECT operation_time FROM logs WHERE id = ?", {*cursor.after_id},
                 [&](const SqlRow& row) {
                   if (std::optional<std::string_view> stored = row.TextIfSet(0)) {
                     cursor.after_time = std::string(*stored);
                   }
                 });
  }
  const bool ascending = AsciiLower(AttrText(condition, "order")) == "asc";
  // SQLite sorts entries without a time before every time; the row-value comparison never
  // matches them, so they are placed by hand.
  if (!cursor.after_time) {
    cursor.clause = ascending ? " AND ((operation_time IS NULL AND id > ?) OR"
                                " operation_time IS NOT NULL)"
                              : " AND operation_time IS NULL AND id < ?";
    cursor.params.push_back(*cursor.after_id);
  } else {
    cursor.clause = ascending ? " AND (operation_time, id) > (?, ?)"
                              : " AND ((operation_time, id) < (?, ?) OR operation_time IS NULL)";
    cursor.params.push_back(*cursor.after_time);
    cursor.params.push_back(*cursor.after_id);
  }
  search->offset = 0;  // the cursor says where the page starts
  return cursor;
}

// WritePage for the operation log, with the <cursor> after the entries.
void WriteLogPage(Context& ctx, const PagedSearch& search, const LogCursor& cursor) {
  int64_t count = ctx.tx.QueryInt("SELECT COUNT(*) FROM logs" + search.where, search.params, 0);
  SqlParams params = search.params;
  params.insert(params.end(), cursor.params.begin(), cursor.params.end());
  params.push_back(search.limit + 1);  // one more tells whether entries follow
  params.push_back(search.offset);
  std::string select = kLogEntity.SelectSql();
  select.insert(select.find(" FROM "), ", id, operation_time");
  const int id_column =
      static_cast<int>(std::count_if(kLogEntity.fields.begin(), kLogEntity.fields.end(),
                                     [](const Field& field) { return field.column != nullptr; }));
  int64_t written = 0;
  bool more = false;
  std::optional<int64_t> last_id = cursor.after_id;
  std::optional<std::string> last_time = cursor.after_time;
  ctx.tx.Query(select + search.where + cursor.clause + search.order + " LIMIT ? OFFSET ?", params,
               [&](const SqlRow& row) {
                 if (written == search.limit) {
                   more = true;
                   return;
                 }
                 ++written;
                 OpenRowElement(ctx, ctx.out, kLogEntity, row);
                 ctx.out.Close();
                 last_id = row.Int(id_column);
                 last_time.reset();
                 if (std::optional<std::string_view> time = row.TextIfSet(id_column + 1)) {
                   last_time = std::string(*time);
                 }
               });
  ctx.out.Open("count").Attr("value", count).Close();
  ctx.out.Open("cursor");
  if (last_time) ctx.out.Attr("operationTime", *last_time);
  if (last_id) ctx.out.Attr("id", *last_id);
  ctx.out.Attr("maxId", cursor.max_id).BoolAttr("more", more).Close();
}

void UploadLogs(Context& ctx) {
  pugi::xml_node computer = RequireChild(ctx.document, "computer");
  std::string uuid = AsciiLower(AttrText(computer, "uuid"));
  int64_t department =
      ctx.tx.QueryInt("SELECT department_id FROM computers WHERE uuid = ?", {uuid}, 0);
  if (department != 0) ctx.RequireScope(department);
  std::vector<pugi::xml_node> logs;
  for (pugi::xml_node log : computer.children("log")) {
    // A console session uploads what its own user did: an entry naming anyone else would put
    // an action in another person's name.
    const std::string user(AttrText(log, "userId"));
    if (AsciiLower(user) != AsciiLower(ctx.caller->account)) {
      throw RequestError(kPermissionDenied, "an entry names user \"" + user + "\"; a session of " +
                                                ctx.caller->account +
                                                " uploads only its own entries");
    }
    logs.push_back(log);
  }
  if (logs.empty()) throw RequestError(kMissingElement, "missing element log");
  // Columns the server adds to each entry: where it was filed, about which computer, by whom.
  static const Field kExtra[] = {{"", "db_index", FieldType::kInt, 0},
                                 {"", "computer_uuid", kText, 0},
                                 {"", "computer_name", kText, 0},
                                 {"", "department_id", FieldType::kInt, 0},
                                 {"", "entry_id", kText, 0}};
  const Field* uploaded_by = kLogEntity.FindField("uploadedBy");
  for (pugi::xml_node log : logs) {
    // An entry sent again after its acceptance was lost is already here: keep the first.
    const std::string entry_id(AttrText(log, "entryId"));
    if (!entry_id.empty() &&
        ctx.tx.Exists("SELECT 1 FROM logs WHERE entry_id = ?", {SqlValue(entry_id)})) {
      continue;
    }
    FieldValues values = WritableValues(kLogEntity, log, true);
    values.emplace_back(&kExtra[0], SqlValue(0));
    values.emplace_back(&kExtra[1], SqlValue(uuid));
    values.emplace_back(&kExtra[2], SqlValue(AttrText(computer, "name")));
    values.emplace_back(&kExtra[3], department == 0 ? SqlValue() : SqlValue(department));
    values.emplace_back(uploaded_by, SqlValue(ctx.caller->account));
    values.emplace_back(&kExtra[4], entry_id.empty() ? SqlValue() : SqlValue(entry_id));
    InsertRow(ctx, kLogEntity, values);
  }
}

void QueryLog(Context& ctx) {
  int64_t database = RequireInt(RequireChild(ctx.document, "databaseIndex"), "value");
  if (!ctx.tx.Exists("SELECT 1 FROM log_databases WHERE db_index = ?", {database})) {
    throw RequestError(kNotFound, "no log database " + std::to_string(database));
  }
  pugi::xml_node condition = ctx.document.child("log");
  PagedSearch search;
  search.where += " AND db_index = ?";
  search.params.push_back(database);
  static const std::vector<SearchTerm> kTerms = {
      {"userId", "user_id", Match::kEqual},
      {"userName", "user_name", Match::kContains},
      {"operationTimeFrom", "operation_time", Match::kFrom},
      {"operationTimeTo", "operation_time", Match::kTo},
      {"operation", "operation", Match::kEqual},
      {"operationType", "operation_type", Match::kEqual},
      {"userDepartment", "user_department", Match::kContains},
      {"dstCompName", "dst_comp_name", Match::kContains},
      {"dstCompIp", "dst_comp_ip", Match::kEqual},
      {"dstCompDeptPath", "dst_comp_dept_path", Match::kContains},
      {"usedCompName", "used_comp_name", Match::kContains},
      {"usedCompIp", "used_comp_ip", Match::kEqual},
      {"usedCompDeptPath", "used_comp_dept_path", Match::kContains},
      {"dstFile", "dst_file", Match::kContains},
      {"dstFileSecLvl", "dst_file_sec_lvl", Match::kEqual},
      {"srcFile", "src_file", Match::kContains},
      {"srcFileSecLvl", "src_file_sec_lvl", Match::kEqual},
      {"fileType", "file_type", Match::kEqual},
      {"createTimeFrom", "create_time", Match::kFrom},
      {"createTimeTo", "create_time", Match::kTo}};
  AddTerms(condition, kTerms, &search);
  AddScope(ctx, &search);
  AddOrderAndPage(condition, kLogEntity, "operation_time", &search);
  const LogCursor cursor = AddLogCursor(ctx, condition, &search);
  WriteLogPage(ctx, search, cursor);
}

// QueryScanLog. "appName" and "fileName" find runs with an application or a file containing the
// text; "totalEncrypted" and "totalFailed" find runs whose totals over all applications reach
// the number given.
void QueryScanLog(Context& ctx) {
  pugi::xml_node condition = ctx.document.child("scanLog");
  PagedSearch search;
  static const std::vector<SearchTerm> kTerms = {
      {"computerIp", "computer_ip", Match::kEqual},
      {"computerName", "computer_name", Match::kContains},
      {"startTimeFrom", "start_time", Match::kFrom},
      {"startTimeTo", "start_time", Match::kTo},
      {"endTimeFrom", "end_time", Match::kFrom},
      {"endTimeTo", "end_time", Match::kTo},
      {"logTimeFrom", "create_time", Match::kFrom},
      {"logTimeTo", "create_time", Match::kTo},
      {"status", "status", Match::kEqual}};
  AddTerms(condition, kTerms, &search);
  if (std::string_view app = AttrText(condition, "appName"); !app.empty()) {
    search.where +=
        " AND id IN (SELECT scan_log_id FROM scan_log_apps WHERE lower(app_name) LIKE ?"
        " ESCAPE '\\')";
    search.params.push_back(LikeContaining(app));
  }
  if (std::string_view file = AttrText(condition, "fileName"); !file.empty()) {
    search.where +=
        " AND id IN (SELECT scan_log_id FROM scan_log_files WHERE lower(file_full_path) LIKE ?"
        " ESCAPE '\\')";
    search.params.push_back(LikeContaining(file));
  }
  for (const char* total : {"totalEncrypted", "totalFailed"}) {
    if (std::optional<int64_t> at_least = OptionalInt(condition, total)) {
      std::string column =
          std::string(total) == "totalEncrypted" ? "total_encrypted" : "total_failed";
      search.where += " AND (SELECT COALESCE(SUM(" + column +
                      "), 0) FROM scan_log_apps WHERE scan_log_id = scan_logs.id) >= ?";
      search.params.push_back(*at_least);
    }
  }
  AddScope(ctx, &search);
  AddOrderAndPage(condition, kScanLogEntity, "create_time", &search);
  WritePage(ctx, kScanLogEntity, search);
}

int64_t RequireScanLogInScope(Context& ctx, pugi::xml_node condition) {
  int64_t id = RequireInt(condition, "scanLogId");
  bool found = false;
  int64_t department = 0;
  ctx.tx.Query("SELECT department_id FROM scan_logs WHERE id = ?", {id}, [&](const SqlRow& row) {
    found = true;
    department = row.IsNull(0) ? 0 : row.Int(0);
  });
  if (!found) throw RequestError(kNotFound, "no scan log " + std::to_string(id));
  if (department == 0) {
    ctx.RequireSupervisor();
  } else {
    ctx.RequireScope(department);
  }
  return id;
}

void QueryScanLogApp(Context& ctx) {
  int64_t id = RequireScanLogInScope(ctx, RequireChild(ctx.document, "scanLogApp"));
  ctx.tx.Query(
      "SELECT app_name, total_encrypted, total_failed FROM scan_log_apps WHERE scan_log_id = ?"
      " ORDER BY app_name",
      {id}, [&](const SqlRow& row) {
        ctx.out.Open("scanLogApp").Attr("scanLogId", id).Attr("appName", row.Text(0));
        ctx.out.Attr("totalEncrypted", row.Int(1)).Attr("totalFailed", row.Int(2)).Close();
      });
}

void QueryScanLogFile(Context& ctx) {
  pugi::xml_node condition = RequireChild(ctx.document, "scanLogFile");
  int64_t id = RequireScanLogInScope(ctx, condition);
  std::string app = RequireText(condition, "appName");
  ctx.tx.Query(
      "SELECT file_full_path FROM scan_log_files WHERE scan_log_id = ? AND app_name = ?"
      " ORDER BY file_full_path",
      {id, app}, [&](const SqlRow& row) {
        ctx.out.Open("scanLogFile").Attr("scanLogId", id).Attr("appName", app);
        ctx.out.Attr("fileFullPath", row.Text(0)).Close();
      });
}

void GetScanFileTypeAtConsole(Context& ctx) {
  ctx.out.Open("appExes");
  ctx.tx.Query("SELECT app_name, scan_type, exe_name FROM scan_app_types ORDER BY ord", {},
               [&](const SqlRow& row) {
                 ctx.out.Open("appExe").Attr("appName", row.Text(0)).Attr("scanType", row.Text(1));
                 ctx.out.Attr("exeName", row.Text(2)).Close();
               });
  ctx.out.Close().Open("extends");
  ctx.tx.Query("SELECT name, secret_level_id, secret_level_name FROM scan_extensions ORDER BY ord",
               {}, [&](const SqlRow& row) {
                 ctx.out.Open("extend").Attr("name", row.Text(0));
                 if (!row.IsNull(1)) ctx.out.Attr("secretLevelId", row.Int(1));
                 ctx.out.Attr("secretLevelName", row.Text(2)).Close();
               });
  ctx.out.Close();
}

// SetScanFileTypeAtConsole replaces the extension list; extensions differing only in case are
// one extension (the later entry wins). A level's name is taken from the level itself.
void SetScanFileTypeAtConsole(Context& ctx) {
  ctx.RequireSupervisor();
  pugi::xml_node extends = RequireChild(ctx.document, "extends");
  ctx.tx.Execute("DELETE FROM scan_extensions");
  int64_t order = 0;
  for (pugi::xml_node extend : extends.children("extend")) {
    std::string name = RequireText(extend, "name");
    std::optional<int64_t> level = OptionalInt(extend, "secretLevelId");
    std::string level_name;
    if (level) {
      bool found = false;
      ctx.tx.Query("SELECT name FROM secret_levels WHERE id = ?", {*level}, [&](const SqlRow& row) {
        found = true;
        level_name = std::string(row.Text(0));
      });
      if (!found) throw RequestError(kNotFound, "no secret level " + std::to_string(*level));
    }
    ctx.tx.Execute(
        "INSERT INTO scan_extensions VALUES(?, ?, ?, ?, ?) ON CONFLICT(name_key) DO UPDATE SET"
        " name = excluded.name, secret_level_id = excluded.secret_level_id,"
        " secret_level_name = excluded.secret_level_name, ord = excluded.ord",
        {AsciiLower(name), name, level ? SqlValue(*level) : SqlValue(), level_name, ++order});
  }
}

void ManualSynchronizeLDAP(Context&) {
  throw RequestError(kDirectoryNotConfigured, "no directory server is configured");
}

// AutoUpdate: every computer allowed to update whose agent is not at the current version is
// marked "update pending".
void AutoUpdate(Context& ctx) {
  ctx.RequireSupervisor();
  ctx.tx.Execute(
      "UPDATE computers SET update_status = 2 WHERE allow_update = 1 AND COALESCE(agent_version,"
      " '') <> (SELECT value FROM settings WHERE name = 'current_agent_version')");
}

// SetUninstallPwd keeps only a hash of the password; an empty password removes the protection.
void SetUninstallPwd(Context& ctx) {
  ctx.RequireSupervisor();
  pugi::xml_node parameter = RequireChild(ctx.document, "parameter");
  if (!parameter.attribute("pwd")) throw RequestError(kMissingAttribute, "missing attribute pwd");
  std::string_view password = AttrText(parameter, "pwd");
  std::string stored =
      password.empty() ? std::string() : HashPassword(password, ctx.options.password_iterations);
  if (!password.empty() && stored.empty()) {
    throw RequestError(kInternalError, "cannot hash the password");
  }
  ctx.tx.Execute(
      "INSERT INTO settings VALUES('uninstall_password', ?) ON CONFLICT(name) DO UPDATE SET"
      " value = excluded.value",
      {stored});
}

void QueryOperations(Context& ctx) {
  std::vector<std::pair<std::string, std::string>> operations;
  ctx.tx.Query("SELECT id, value FROM operations ORDER BY ord", {},
               [&](const SqlRow& row) { operations.emplace_back(row.Text(0), row.Text(1)); });
  for (const auto& [id, value] : operations) {
    ctx.out.Open("operation").Attr("id", id).Attr("value", value);
    ctx.tx.Query("SELECT id, value FROM operation_names WHERE operation_id = ? ORDER BY ord", {id},
                 [&](const SqlRow& row) {
                   ctx.out.Open("name").Attr("id", row.Text(0)).Attr("value", row.Text(1)).Close();
                 });
    ctx.out.Close();
  }
}

}  // namespace

void AddLogOperations(std::vector<Operation>* operations) {
  using A = Storage::Access;
  operations->insert(operations->end(),
                     {{"UploadLogs", UploadLogs, A::kWrite},
                      {"QueryLog", QueryLog, A::kRead},
                      {"QueryScanLog", QueryScanLog, A::kRead},
                      {"QueryScanLogApp", QueryScanLogApp, A::kRead},
                      {"QueryScanLogFile", QueryScanLogFile, A::kRead},
                      {"GetScanFileTypeAtConsole", GetScanFileTypeAtConsole, A::kRead},
                      {"SetScanFileTypeAtConsole", SetScanFileTypeAtConsole, A::kWrite},
                      {"ManualSynchronizeLDAP", ManualSynchronizeLDAP, A::kRead},
                      {"AutoUpdate", AutoUpdate, A::kWrite},
                      {"SetUninstallPwd", SetUninstallPwd, A::kWrite},
                      {"QueryOperations", QueryOperations, A::kRead}});
}

}  // namespace docsec::server
