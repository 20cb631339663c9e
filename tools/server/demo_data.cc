#include "tools/server/demo_data.h"

#include <algorithm>
#include <cstdio>

#include "tools/server/password_hash.h"
#include "tools/server/request_context.h"

namespace docsec::server {
namespace {

constexpr const char* kDemoEnterpriseKey = "00112233445566778899AABBCCDDEEFF";
constexpr const char* kCurrentAgentVersion = "3.2.1";

struct DemoDepartment {
  int64_t id;
  int64_t super_id;
  const char* name;
};
// Four levels under the top department (id 1).
const DemoDepartment kDepartments[] = {
    {2, 1, "Headquarters"}, {3, 1, "Engineering"},  {4, 1, "Sales"},
    {5, 3, "Platform"},     {6, 3, "Applications"}, {7, 4, "North"},
    {8, 4, "South"},        {9, 5, "Storage"},      {10, 5, "Network"}};

struct DemoUser {
  const char* id;
  const char* name;
  int64_t department;
  bool console_manager;
  bool supervisor;
  int64_t admin_dept;  // 0: none
  bool locked;
  const char* password;
  const char* role;
};
const DemoUser kUsers[] = {
    {"admin", "Administrator", 1, true, true, 0, false, "demo-admin", "supervisor, everything"},
    {"eng.admin", "Erik Engel", 3, true, false, 3, false, "demo-eng",
     "console manager of Engineering and below"},
    {"sales.admin", "Sara Salo", 4, true, false, 4, false, "demo-sales",
     "console manager of Sales and below"},
    {"bob", "Bob Berg", 5, false, false, 0, false, "demo-bob", "user in Platform (no console)"},
    {"carol", "Carol Chen", 9, false, false, 0, false, "demo-carol", "user in Storage"},
    {"dave", "Dave Dahl", 7, false, false, 0, false, "demo-dave", "user in North"},
    {"erin", "Erin Eck", 6, true, false, 6, true, "demo-erin", "locked console manager"},
    {"frank", "Frank Falk", 8, false, false, 0, false, "demo-frank", "user in South"},
    {"grace", "Grace Gray", 2, false, false, 0, false, "demo-grace", "user in Headquarters"}};

struct DemoPosition {
  int64_t id;
  int64_t department;
  const char* name;
};
const DemoPosition kPositions[] = {{1, 2, "Chief Executive"}, {2, 3, "Head of Engineering"},
                                   {3, 5, "Platform Lead"},   {4, 5, "Engineer"},
                                   {5, 4, "Sales Director"},  {6, 7, "Account Manager"}};
const std::pair<const char*, int64_t> kAppointments[] = {
    {"grace", 1}, {"eng.admin", 2}, {"bob", 3}, {"carol", 4}, {"sales.admin", 5}, {"dave", 6}};

// Where the demo computers go, in turn.
const int64_t kComputerDepartments[] = {5, 9, 10, 6, 7, 8};

void Seed(Transaction& tx, const DemoOptions& options, int iterations, DemoSummary* summary) {
  tx.Execute(
      "UPDATE departments SET name = 'Demo Corp', inner_permission = 15,"
      " author_permission = 3 WHERE id = 1");
  for (const DemoDepartment& d : kDepartments) {
    tx.Execute(
        "INSERT INTO departments(id, name, super_id, description, inner_permission,"
        " author_permission) VALUES(?, ?, ?, ?, ?, ?)",
        {d.id, d.name, d.super_id, std::string("The ") + d.name + " department", d.id, 1});
  }
  summary->departments = 1 + static_cast<int>(std::size(kDepartments));
  for (const DemoUser& u : kUsers) {
    std::string hash = HashPassword(u.password, iterations);
    if (hash.empty()) throw StorageError(StorageError::kOther, "cannot hash a password");
    SqlParams params = {u.id,         u.name,     u.console_manager,
                        u.supervisor, hash,       std::string(u.id) + "@demo.local",
                        u.department, SqlValue(), u.locked};
    if (u.admin_dept != 0) params[7] = SqlValue(u.admin_dept);
    tx.Execute(
        "INSERT INTO users(id, name, is_console_manager, is_supervisor, password_hash, mail,"
        " department_id, admin_dept, is_lock, encrypt_mode, console_permission)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, 1, '-1') ON CONFLICT(id) DO UPDATE SET"
        " password_hash = excluded.password_hash, mail = excluded.mail,"
        " encrypt_mode = excluded.encrypt_mode",
        params);
    summary->accounts.push_back({u.id, u.password, u.role});
  }
  summary->users = static_cast<int>(std::size(kUsers));
  for (const DemoPosition& p : kPositions) {
    tx.Execute("INSERT INTO positions(id, department_id, position_name) VALUES(?, ?, ?)",
               {p.id, p.department, p.name});
  }
  for (const auto& [user, position] : kAppointments) {
    tx.Execute("INSERT INTO appointments VALUES(?, ?)", {user, position});
  }

  std::vector<DemoComputer> computers =
      options.computers.empty() ? DefaultDemoComputers() : options.computers;
  for (size_t i = 0; i < computers.size(); ++i) {
    const DemoComputer& c = computers[i];
    if (!ParseIpv4(c.ip)) throw StorageError(StorageError::kOther, "not an address: " + c.ip);
    int64_t department = kComputerDepartments[i % std::size(kComputerDepartments)];
    tx.Execute(
        "INSERT INTO computers(uuid, ip, name, is_approved, status, agent_version, update_status,"
        " is_manual_encrypt, update_time, department_id, allow_update, ext_permission,"
        " is_encrypt, last_login_time) VALUES(?, ?, ?, ?, ?, ?, ?, ?, '2024-03-01 09:00:00', ?,"
        " 1, 0, 0, '2024-03-02 08:30:00')",
        {AsciiLower(c.uuid), c.ip, c.name.empty() ? "demo-pc-" + std::to_string(i + 1) : c.name,
         i % 5 != 4, std::to_string(i % 3), i % 2 == 0 ? kCurrentAgentVersion : "3.1.0",
         int64_t{i % 2 == 0 ? 1 : 0}, i % 2 == 1, department});
  }
  summary->computers = static_cast<int>(computers.size());

  static const char* const kLevels[] = {"Top secret", "Secret", "Confidential", "Internal",
                                        "Public"};
  for (int level = 1; level <= 5; ++level) {
    tx.Execute(
        "INSERT INTO secret_levels(id, name, description, is_system_default) VALUES(?, ?, ?, 1)",
        {level, kLevels[level - 1],
         level == 5 ? "The default level" : std::string("Level ") + std::to_string(level)});
  }
  static const char* const kApps[][2] = {{"winword.exe", "Word processor"},
                                         {"excel.exe", "Spreadsheet"},
                                         {"powerpnt.exe", "Presentations"},
                                         {"acrord32.exe", "PDF reader"},
                                         {"notepad.exe", "Text editor"}};
  for (const auto& app : kApps) {
    tx.Execute("INSERT INTO applications VALUES(?, ?)", {app[0], app[1]});
  }
  tx.Execute("INSERT INTO policies VALUES(3, 3), (4, 4), (5, 2)");
  tx.Execute("INSERT INTO policy_position_auths VALUES(3, 3, 2, 15), (5, 2, 3, 7)");
  tx.Execute(
      "INSERT INTO policy_user_auths VALUES(3, 3, 'bob', 3), (4, 4, 'dave', 1),"
      " (5, 2, 'carol', 1)");
  tx.Execute(
      "INSERT INTO default_levels VALUES(3, 'winword.exe', 4, 0), (3, 'excel.exe', 3, 1),"
      " (4, 'excel.exe', 3, 0)");
  tx.Execute(
      "INSERT INTO ip_segments VALUES(3, '127.0.0.10', '127.0.0.19', 2130706442, 2130706451),"
      " (5, '127.0.0.11', '127.0.0.13', 2130706443, 2130706445),"
      " (4, '127.0.0.20', '127.0.0.29', 2130706452, 2130706461)");

  // Logs: a fixed pattern over March 2024, so searches in tests and demos give stable pages.
  static const char* const kOperations[] = {"1552", "1553", "1554"};
  static const char* const kLogUsers[][3] = {{"eng.admin", "Erik Engel", "Demo Corp/Engineering"},
                                             {"sales.admin", "Sara Salo", "Demo Corp/Sales"},
                                             {"admin", "Administrator", "Demo Corp"}};
  int archived = options.log_count / 10;
  for (int i = 0; i < options.log_count + archived; ++i) {
    const DemoComputer& c = computers[static_cast<size_t>(i) % computers.size()];
    int64_t department = kComputerDepartments[static_cast<size_t>(i) % computers.size() %
                                              std::size(kComputerDepartments)];
    const auto& user = kLogUsers[i % 3];
    int minutes = i * 37;
    char when[32];
    std::snprintf(when, sizeof when, "2024-03-%02d %02d:%02d:%02d", 1 + minutes / 1440 % 28,
                  minutes / 60 % 24, minutes % 60, i % 60);
    std::string file = "C:\\Projects\\report-" + std::to_string(i) + ".docx";
    tx.Execute(
        "INSERT INTO logs(db_index, user_id, user_name, operation_time, operation_type, operation,"
        " user_department, dst_comp_name, dst_comp_ip, dst_comp_dept_path, used_comp_name,"
        " used_comp_ip, used_comp_dept_path, dst_file, dst_file_sec_lvl, src_file,"
        " src_file_sec_lvl, file_type, create_time, file_uuid, computer_uuid, computer_name,"
        " department_id, uploaded_by) VALUES(?, ?, ?, ?, '1536', ?, ?, ?, ?, '', 'console-1',"
        " '127.0.0.1', 'Demo Corp', ?, ?, ?, ?, 'docx', ?, ?, ?, ?, ?, ?)",
        {i < options.log_count ? 0 : 1, user[0], user[1], when, kOperations[i % 3], user[2],
         c.name.empty() ? "demo-pc" : c.name, c.ip, file, std::to_string(1 + i % 5), file,
         std::to_string(1 + (i + 1) % 5), when, "file-" + std::to_string(i), AsciiLower(c.uuid),
         c.name, department, user[0]});
  }
  summary->logs = options.log_count + archived;

  for (int run = 1; run <= 12; ++run) {
    const DemoComputer& c = computers[static_cast<size_t>(run) % computers.size()];
    char start[32], end[32];
    std::snprintf(start, sizeof start, "2024-03-%02d 10:00:00", run);
    std::snprintf(end, sizeof end, "2024-03-%02d 10:%02d:00", run, 10 + run);
    tx.Execute("INSERT INTO scan_logs VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, '', ?)",
               {run, AsciiLower(c.uuid), c.ip, c.name, start, end, end, std::to_string(run % 3),
                run % 3 == 2 ? "access denied on 2 files" : "",
                kComputerDepartments[static_cast<size_t>(run) % computers.size() %
                                     std::size(kComputerDepartments)]});
    tx.Execute("INSERT INTO scan_log_apps VALUES(?, 'winword.exe', ?, ?), (?, 'excel.exe', ?, 0)",
               {run, run * 3, run % 2, run, run});
    for (int f = 0; f < 3; ++f) {
      tx.Execute("INSERT INTO scan_log_files VALUES(?, 'winword.exe', ?)",
                 {run, "D:\\Docs\\scan-" + std::to_string(run) + "-" + std::to_string(f) + ".doc"});
    }
  }
  tx.Execute(
      "INSERT INTO scan_app_types VALUES('Word', '10', 'winword.exe', 1),"
      " ('Excel', '10', 'excel.exe', 2), ('Acrobat', '20', 'acrord32.exe', 3)");
  tx.Execute(
      "INSERT INTO scan_extensions VALUES('doc', 'doc', 3, 'Confidential', 1),"
      " ('xls', 'xls', 3, 'Confidential', 2), ('pdf', 'pdf', 4, 'Internal', 3)");
  std::string key = options.enterprise_key.empty() ? kDemoEnterpriseKey : options.enterprise_key;
  tx.Execute(
      "INSERT INTO settings VALUES('enterprise_key', ?), ('current_agent_version', ?)"
      " ON CONFLICT(name) DO UPDATE SET value = excluded.value",
      {key, kCurrentAgentVersion});
  summary->enterprise_key = key;
}

}  // namespace

std::vector<DemoComputer> DefaultDemoComputers() {
  std::vector<DemoComputer> computers;
  for (int i = 1; i <= 6; ++i) {
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e%02d", 50 + i);
    computers.push_back(
        {uuid, "127.0.0." + std::to_string(10 + i), "demo-pc-" + std::to_string(i)});
  }
  return computers;
}

bool SeedDemo(Server& server, const DemoOptions& options, DemoSummary* summary,
              std::string* error) {
  if (!options.enterprise_key.empty()) {
    bool hex =
        options.enterprise_key.size() == 32 &&
        options.enterprise_key.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!hex) {
      *error = "the enterprise key must be 32 hexadecimal digits";
      return false;
    }
  }
  DemoSummary result;
  try {
    server.storage().Run(
        Storage::Access::kWrite, Storage::Clock::time_point::max(), [&](Transaction& tx) {
          if (tx.Exists("SELECT 1 FROM departments WHERE id <> 1", {}) ||
              tx.Exists("SELECT 1 FROM users WHERE id <> 'admin'", {})) {
            throw StorageError(StorageError::kOther, "the database already holds data");
          }
          Seed(tx, options, server.options().password_iterations, &result);
        });
  } catch (const StorageError& e) {
    *error = std::string("cannot seed the demo: ") + e.what();
    return false;
  }
  if (summary != nullptr) *summary = std::move(result);
  return true;
}

bool SeedLargeOrganisation(Server& server, int objects, std::string* error) {
  // Per department: about 26 objects (1 department, 7 positions, 8 users, 10 computers).
  int departments = std::max(1, objects / 26);
  try {
    server.storage().Run(
        Storage::Access::kWrite, Storage::Clock::time_point::max(), [&](Transaction& tx) {
          int64_t first = tx.QueryInt("SELECT COALESCE(MAX(id), 0) + 1 FROM departments", {}, 2);
          for (int d = 0; d < departments; ++d) {
            int64_t id = first + d;
            // A tree of fan-out 12: the first 12 under the top, the next under those, and so on.
            int64_t parent = d < 12 ? 1 : first + (d / 12 - 1);
            tx.Execute(
                "INSERT INTO departments(id, name, super_id, description, inner_permission,"
                " author_permission) VALUES(?, ?, ?, 'generated', 7, 1)",
                {id, "Dept " + std::to_string(id), parent});
            for (int p = 0; p < 7; ++p) {
              tx.Execute("INSERT INTO positions(department_id, position_name) VALUES(?, ?)",
                         {id, "Position " + std::to_string(p)});
            }
            for (int u = 0; u < 8; ++u) {
              std::string user = "u" + std::to_string(id) + "-" + std::to_string(u);
              tx.Execute(
                  "INSERT INTO users(id, name, department_id, mail, tel, is_console_manager)"
                  " VALUES(?, ?, ?, ?, '555-0100', 0)",
                  {user, "User " + user, id, user + "@example.local"});
            }
            for (int c = 0; c < 10; ++c) {
              char uuid[40];
              std::snprintf(uuid, sizeof uuid, "%08x-0000-4000-8000-%012x",
                            static_cast<unsigned>(id), static_cast<unsigned>(c));
              tx.Execute(
                  "INSERT INTO computers(uuid, ip, name, is_approved, status, agent_version,"
                  " update_status, department_id, allow_update, update_time)"
                  " VALUES(?, ?, ?, 1, '1', '3.2.1', 1, ?, 1, '2024-03-01 09:00:00')",
                  {std::string(uuid),
                   "10." + std::to_string(id / 256 % 256) + "." + std::to_string(id % 256) + "." +
                       std::to_string(c + 1),
                   "pc-" + std::to_string(id) + "-" + std::to_string(c), id});
            }
          }
        });
  } catch (const StorageError& e) {
    *error = std::string("cannot seed the organisation: ") + e.what();
    return false;
  }
  return true;
}

}  // namespace docsec::server
