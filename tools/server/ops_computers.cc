// Computers: the generic verbs and the status queries and settings by department.
//
// Scan state ("status"): 0 never scanned, 1 scanned, 2 scanned with errors (abnormal).
// Update state ("updateStatus"): 0 not updated, 1 up to date, 2 update pending.
#include "tools/server/entity.h"
#include "tools/server/operations.h"

namespace docsec::server {
namespace {

const Entity& kComputer = kComputerEntity;

// The stored department of the computer `uuid` (already lower case), checked against the scope.
int64_t RequireComputerInScope(Context& ctx, const std::string& uuid) {
  int64_t department =
      ctx.tx.QueryInt("SELECT department_id FROM computers WHERE uuid = ?", {uuid}, 0);
  if (department == 0) throw RequestError(kNotFound, "no computer " + uuid);
  ctx.RequireScope(department);
  return department;
}

std::string RequireUuid(pugi::xml_node element, const char* name) {
  return AsciiLower(RequireText(element, name));
}

void CheckAddress(pugi::xml_node element) {
  std::string_view ip = AttrText(element, "ip");
  if (!ip.empty() && !ParseIpv4(ip)) {
    throw RequestError(kBadValue,
                       AttributeOf(element, "ip") + " is not an IPv4 address: " + Quoted(ip));
  }
}

void AddComputer(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "computer")) {
    std::string uuid = RequireUuid(element, "uuid");
    ctx.RequireScope(RequireInt(element, "departmentId"));
    CheckAddress(element);
    if (ctx.tx.Exists("SELECT 1 FROM computers WHERE uuid = ?", {uuid})) {
      throw RequestError(kAlreadyExists, "computer " + uuid + " already exists");
    }
    InsertRow(ctx, kComputer, WritableValues(kComputer, element, true));
    WriteRows(ctx, kComputer, " WHERE uuid = ?", {uuid});
  }
}

void UpdateComputer(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "computer")) {
    std::string uuid = RequireUuid(element, "uuid");
    RequireComputerInScope(ctx, uuid);
    if (element.attribute("departmentId")) ctx.RequireScope(RequireInt(element, "departmentId"));
    CheckAddress(element);
    UpdateRows(ctx, kComputer, WritableValues(kComputer, element, false), " WHERE uuid = ?",
               {uuid});
  }
}

void DelComputer(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "computer")) {
    std::string uuid = RequireUuid(element, "uuid");
    RequireComputerInScope(ctx, uuid);
    ctx.tx.Execute("DELETE FROM computers WHERE uuid = ?", {uuid});
  }
}

void QueryComputer(Context& ctx) {
  std::string where;
  SqlParams params;
  AppendConditions(kComputer, ctx.document.child("computer"), &where, &params);
  int column = kComputer.ColumnIndex("department_id");
  WriteRows(ctx, kComputer, where, params,
            [&](const SqlRow& row) { return ctx.InScope(row.Int(column)); });
}

// Calls `each` with the stored columns `columns` of every listed computer the caller may see;
// computers that are unknown or outside the scope are passed over, as if not managed here.
void ForListedComputers(Context& ctx, const char* tag, const char* uuid_attribute,
                        const std::string& columns,
                        const std::function<void(const std::string&, const SqlRow&)>& each) {
  for (pugi::xml_node element : ctx.document.children(tag)) {
    std::string uuid = AsciiLower(AttrText(element, uuid_attribute));
    if (uuid.empty())
      throw RequestError(kMissingAttribute, "missing " + AttributeOf(element, uuid_attribute));
    ctx.tx.Query("SELECT department_id, " + columns + " FROM computers WHERE uuid = ?", {uuid},
                 [&](const SqlRow& row) {
                   if (ctx.InScope(row.Int(0))) each(uuid, row);
                 });
  }
}

void RptComputerScanStatus(Context& ctx) {
  int64_t total = 0, scanned = 0, abnormal = 0;
  ForListedComputers(ctx, "scanLog", "computerUUID", "status",
                     [&](const std::string& uuid, const SqlRow& row) {
                       std::string status(row.IsNull(1) ? "0" : row.Text(1));
                       ++total;
                       if (status == "1" || status == "2") ++scanned;
                       if (status == "2") ++abnormal;
                       ctx.out.Open("scanLog").Attr("computerUUID", uuid).Attr("status", status);
                       ctx.out.Close();
                     });
  ctx.out.Open("summary").Attr("total", total).Attr("scaned", scanned).Attr("abnormal", abnormal);
  ctx.out.Close();
}

void WriteVersion(Context& ctx, const std::string& uuid, const SqlRow& row) {
  ctx.out.Open("computer").Attr("computerUUID", uuid).Attr("agentVersion", row.Text(1));
  ctx.out.Attr("updateStatus", row.IsNull(2) ? int64_t{0} : row.Int(2)).Close();
}

void WriteCurrentVersion(Context& ctx) {
  std::string version;
  ctx.tx.Query("SELECT value FROM settings WHERE name = 'current_agent_version'", {},
               [&](const SqlRow& row) { version = std::string(row.Text(0)); });
  ctx.out.Open("service").Attr("currentVersion", version).Close();
}

void GetComputerVersionStatus(Context& ctx) {
  ForListedComputers(
      ctx, "computer", "computerUUID", "agent_version, update_status",
      [&](const std::string& uuid, const SqlRow& row) { WriteVersion(ctx, uuid, row); });
  WriteCurrentVersion(ctx);
}

// Calls `each` for every computer in the sub-tree of the department `department_id`.
void ForSubtreeComputers(Context& ctx, int64_t department_id, const std::string& columns,
                         const std::function<void(const std::string&, const SqlRow&)>& each) {
  ctx.RequireScope(department_id);
  SqlParams params;
  std::string where = SubtreeClause("department_id", department_id, 0, &params);
  ctx.tx.Query("SELECT uuid, " + columns + " FROM computers" + where + " ORDER BY uuid", params,
               [&](const SqlRow& row) { each(std::string(row.Text(0)), row); });
}

void GetComputerVersionStatusEx(Context& ctx) {
  int64_t department = RequireInt(RequireChild(ctx.document, "department"), "id");
  ForSubtreeComputers(
      ctx, department, "agent_version, update_status",
      [&](const std::string& uuid, const SqlRow& row) { WriteVersion(ctx, uuid, row); });
  WriteCurrentVersion(ctx);
}

void GetAutoEncrypt(Context& ctx) {
  int64_t department = RequireInt(RequireChild(ctx.document, "computer"), "departmentId");
  ForSubtreeComputers(ctx, department, "is_manual_encrypt",
                      [&](const std::string& uuid, const SqlRow& row) {
                        ctx.out.Open("computer").Attr("uuid", uuid);
                        ctx.out.BoolAttr("isManualEncrypt", !row.IsNull(1) && row.Int(1) != 0);
                        ctx.out.Close();
                      });
}

// Stores the listed attributes of every listed computer; each must exist and be in scope.
void SetComputerColumns(Context& ctx, pugi::xml_node parent, const char* const* attributes,
                        size_t count, const char* extra_set) {
  std::vector<pugi::xml_node> computers;
  for (pugi::xml_node element : parent.children("computer")) computers.push_back(element);
  if (computers.empty()) {
    throw RequestError(kMissingElement,
                       std::string("missing element <computer> in <") + parent.name() + ">");
  }
  for (pugi::xml_node element : computers) {
    std::string uuid = RequireUuid(element, "uuid");
    RequireComputerInScope(ctx, uuid);
    FieldValues values;
    for (size_t i = 0; i < count; ++i) {
      const Field* field = kComputer.FindField(attributes[i]);
      if (element.attribute(attributes[i])) {
        values.emplace_back(field, StoredValue(*field, AttrText(element, attributes[i])));
      }
    }
    UpdateRows(ctx, kComputer, values, " WHERE uuid = ?", {uuid});
    if (extra_set != nullptr) {
      ctx.tx.Execute(std::string("UPDATE computers SET ") + extra_set + " WHERE uuid = ?", {uuid});
    }
  }
}

void SetAutoEncrypt(Context& ctx) {
  static const char* const kColumns[] = {"isManualEncrypt"};
  SetComputerColumns(ctx, ctx.document, kColumns, 1, nullptr);
}

void SetComputerUpdateStatus(Context& ctx) {
  static const char* const kColumns[] = {"allowUpdate", "updateStatus", "updateTime"};
  SetComputerColumns(ctx, ctx.document, kColumns, 3, nullptr);
}

// SetScanComputer: the listed computers are marked for a scan, with or without encryption.
void SetScanComputer(Context& ctx) {
  static const char* const kColumns[] = {"isEncrypt"};
  SetComputerColumns(ctx, RequireChild(ctx.document, "computers"), kColumns, 1, "scan_pending = 1");
}

}  // namespace

void AddComputerOperations(std::vector<Operation>* operations) {
  using A = Storage::Access;
  operations->insert(operations->end(),
                     {{"AddComputer", AddComputer, A::kWrite},
                      {"UpdateComputer", UpdateComputer, A::kWrite},
                      {"DelComputer", DelComputer, A::kWrite},
                      {"QueryComputer", QueryComputer, A::kRead},
                      {"RptComputerScanStatus", RptComputerScanStatus, A::kRead},
                      {"GetComputerVersionStatus", GetComputerVersionStatus, A::kRead},
                      {"GetComputerVersionStatusEx", GetComputerVersionStatusEx, A::kRead},
                      {"GetAutoEncrypt", GetAutoEncrypt, A::kRead},
                      {"SetAutoEncrypt", SetAutoEncrypt, A::kWrite},
                      {"SetComputerUpdateStatus", SetComputerUpdateStatus, A::kWrite},
                      {"SetScanComputer", SetScanComputer, A::kWrite}});
}

}  // namespace docsec::server
