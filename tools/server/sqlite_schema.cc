#include "tools/server/sqlite_schema.h"

#include <vector>

namespace docsec::server {
namespace {

// Version 1: the whole data model. Times are kept as "yyyy-MM-dd HH:mm:ss" text, which sorts in
// time order; flags as 0/1; secret levels in use cannot be deleted (no cascade on them).
const std::vector<const char*> kVersion1 = {
    "CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE departments("
    " id INTEGER PRIMARY KEY, name TEXT NOT NULL, super_id INTEGER REFERENCES departments(id),"
    " description TEXT, office TEXT, telephone TEXT, fax TEXT, inner_permission INTEGER,"
    " author_permission INTEGER, current_version TEXT,"
    " is_system_default INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX departments_super ON departments(super_id)",
    "CREATE TABLE users("
    " id TEXT PRIMARY KEY, name TEXT, is_console_manager INTEGER NOT NULL DEFAULT 0,"
    " is_supervisor INTEGER NOT NULL DEFAULT 0, password_hash TEXT, tel TEXT, mail TEXT,"
    " description TEXT, department_id INTEGER NOT NULL REFERENCES departments(id),"
    " console_permission TEXT, encrypt_mode INTEGER, admin_dept INTEGER REFERENCES departments(id),"
    " is_lock INTEGER NOT NULL DEFAULT 0, is_system_default INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX users_department ON users(department_id)",
    "CREATE INDEX users_admin_dept ON users(admin_dept)",
    "CREATE TABLE positions("
    " id INTEGER PRIMARY KEY,"
    " department_id INTEGER NOT NULL REFERENCES departments(id) ON DELETE CASCADE,"
    " position_name TEXT NOT NULL, description TEXT, is_sys_create INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(department_id, position_name))",
    "CREATE TABLE appointments("
    " user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE ON UPDATE CASCADE,"
    " position_id INTEGER NOT NULL REFERENCES positions(id) ON DELETE CASCADE,"
    " PRIMARY KEY(user_id, position_id))",
    "CREATE INDEX appointments_position ON appointments(position_id)",
    "CREATE TABLE computers("
    " uuid TEXT PRIMARY KEY, ip TEXT, name TEXT, is_approved INTEGER NOT NULL DEFAULT 0,"
    " status TEXT, agent_version TEXT, update_status INTEGER, is_manual_encrypt INTEGER,"
    " update_time TEXT, department_id INTEGER NOT NULL REFERENCES departments(id),"
    " allow_update INTEGER, ext_permission INTEGER, is_encrypt INTEGER, last_login_time TEXT,"
    " scan_pending INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX computers_department ON computers(department_id)",
    "CREATE TABLE ip_segments("
    " department_id INTEGER NOT NULL REFERENCES departments(id) ON DELETE CASCADE,"
    " ip_from TEXT NOT NULL, ip_to TEXT NOT NULL, from_num INTEGER NOT NULL,"
    " to_num INTEGER NOT NULL, PRIMARY KEY(department_id, ip_from, ip_to))",
    "CREATE INDEX ip_segments_range ON ip_segments(from_num, to_num)",
    "CREATE TABLE secret_levels("
    " id INTEGER PRIMARY KEY, name TEXT NOT NULL, description TEXT,"
    " is_system_default INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE policies("
    " department_id INTEGER NOT NULL REFERENCES departments(id) ON DELETE CASCADE,"
    " secret_level_id INTEGER NOT NULL REFERENCES secret_levels(id),"
    " PRIMARY KEY(department_id, secret_level_id))",
    "CREATE TABLE policy_user_auths("
    " department_id INTEGER NOT NULL, secret_level_id INTEGER NOT NULL,"
    " user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE ON UPDATE CASCADE,"
    " permission INTEGER NOT NULL, PRIMARY KEY(department_id, secret_level_id, user_id),"
    " FOREIGN KEY(department_id, secret_level_id) REFERENCES policies ON DELETE CASCADE)",
    "CREATE INDEX policy_user_auths_user ON policy_user_auths(user_id)",
    "CREATE TABLE policy_position_auths("
    " department_id INTEGER NOT NULL, secret_level_id INTEGER NOT NULL,"
    " position_id INTEGER NOT NULL REFERENCES positions(id) ON DELETE CASCADE,"
    " permission INTEGER NOT NULL, PRIMARY KEY(department_id, secret_level_id, position_id),"
    " FOREIGN KEY(department_id, secret_level_id) REFERENCES policies ON DELETE CASCADE)",
    "CREATE INDEX policy_position_auths_position ON policy_position_auths(position_id)",
    "CREATE TABLE applications(name TEXT PRIMARY KEY, description TEXT)",
    "CREATE TABLE default_levels("
    " department_id INTEGER NOT NULL REFERENCES departments(id) ON DELETE CASCADE,"
    " application_name TEXT NOT NULL REFERENCES applications(name)"
    "   ON DELETE CASCADE ON UPDATE CASCADE,"
    " secret_level_id INTEGER REFERENCES secret_levels(id), is_only_decrypt INTEGER,"
    " PRIMARY KEY(department_id, application_name))",
    "CREATE TABLE files("
    " guid TEXT PRIMARY KEY, department_id INTEGER REFERENCES departments(id) ON DELETE SET NULL,"
    " path TEXT, computer_uuid TEXT)",
    "CREATE TABLE file_user_auths("
    " file_guid TEXT NOT NULL REFERENCES files(guid) ON DELETE CASCADE,"
    " user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE ON UPDATE CASCADE,"
    " permission INTEGER NOT NULL, PRIMARY KEY(file_guid, user_id))",
    "CREATE TABLE file_position_auths("
    " file_guid TEXT NOT NULL REFERENCES files(guid) ON DELETE CASCADE,"
    " position_id INTEGER NOT NULL REFERENCES positions(id) ON DELETE CASCADE,"
    " permission INTEGER NOT NULL, PRIMARY KEY(file_guid, position_id))",
    "CREATE TABLE log_databases(db_index INTEGER PRIMARY KEY, name TEXT NOT NULL)",
    "INSERT INTO log_databases VALUES(0, 'current'), (1, 'archive')",
    "CREATE TABLE logs("
    " id INTEGER PRIMARY KEY,"
    " db_index INTEGER NOT NULL REFERENCES log_databases(db_index),"
    " user_id TEXT, user_name TEXT, operation_time TEXT, operation_type TEXT, operation TEXT,"
    " user_department TEXT, dst_comp_name TEXT, dst_comp_ip TEXT, dst_comp_dept_path TEXT,"
    " used_comp_name TEXT, used_comp_ip TEXT, used_comp_dept_path TEXT, dst_file TEXT,"
    " dst_file_sec_lvl TEXT, src_file TEXT, src_file_sec_lvl TEXT, file_type TEXT,"
    " create_time TEXT, file_uuid TEXT, computer_uuid TEXT, computer_name TEXT,"
    " department_id INTEGER, uploaded_by TEXT)",
    "CREATE INDEX logs_operation_time ON logs(db_index, operation_time, id)",
    "CREATE TABLE scan_logs("
    " id INTEGER PRIMARY KEY, computer_uuid TEXT, computer_ip TEXT, computer_name TEXT,"
    " start_time TEXT, end_time TEXT, create_time TEXT, status TEXT, description TEXT,"
    " interrupt TEXT, department_id INTEGER)",
    "CREATE TABLE scan_log_apps("
    " scan_log_id INTEGER NOT NULL REFERENCES scan_logs(id) ON DELETE CASCADE,"
    " app_name TEXT NOT NULL, total_encrypted INTEGER NOT NULL DEFAULT 0,"
    " total_failed INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(scan_log_id, app_name))",
    "CREATE TABLE scan_log_files("
    " scan_log_id INTEGER NOT NULL, app_name TEXT NOT NULL, file_full_path TEXT NOT NULL,"
    " FOREIGN KEY(scan_log_id, app_name) REFERENCES scan_log_apps ON DELETE CASCADE)",
    "CREATE INDEX scan_log_files_app ON scan_log_files(scan_log_id, app_name)",
    "CREATE TABLE scan_app_types("
    " app_name TEXT PRIMARY KEY, scan_type TEXT NOT NULL, exe_name TEXT, ord INTEGER NOT NULL)",
    "CREATE TABLE scan_extensions("
    " name_key TEXT PRIMARY KEY, name TEXT NOT NULL,"
    " secret_level_id INTEGER REFERENCES secret_levels(id), secret_level_name TEXT,"
    " ord INTEGER NOT NULL)",
    "CREATE TABLE operations(id TEXT PRIMARY KEY, value TEXT NOT NULL, ord INTEGER NOT NULL)",
    "CREATE TABLE operation_names("
    " operation_id TEXT NOT NULL REFERENCES operations(id) ON DELETE CASCADE,"
    " id TEXT NOT NULL, value TEXT NOT NULL, ord INTEGER NOT NULL,"
    " PRIMARY KEY(operation_id, id))",
    // The operation kinds that logs carry: "operationType" is an operation id, "operation" the id
    // of one of its names.
    "INSERT INTO operations VALUES('1280', 'Login', 1), ('1536', 'File operation', 2),"
    " ('1792', 'Organization', 3), ('2048', 'Policy', 4), ('2304', 'System', 5)",
    "INSERT INTO operation_names VALUES"
    " ('1280', '1281', 'Console login', 1), ('1280', '1282', 'Offline login', 2),"
    " ('1536', '1552', 'Encrypt file', 1), ('1536', '1553', 'Decrypt file', 2),"
    " ('1536', '1554', 'Change secret level', 3),"
    " ('1792', '1793', 'Add department', 1), ('1792', '1794', 'Delete department', 2),"
    " ('1792', '1795', 'Move department', 3), ('1792', '1796', 'Approve computer', 4),"
    " ('2048', '2049', 'Apply policy', 1), ('2048', '2050', 'Apply default levels', 2),"
    " ('2304', '2305', 'Agent update', 1), ('2304', '2306', 'Uninstall password', 2)",
};

// Consoles resend a log entry whose acceptance they never saw, under the same "entryId": the
// server keeps each entry once.
const std::vector<const char*> kVersion2 = {
    "ALTER TABLE logs ADD COLUMN entry_id TEXT",
    "CREATE UNIQUE INDEX logs_entry_id ON logs(entry_id) WHERE entry_id IS NOT NULL",
};

// A session belongs to one incarnation of its account: the stamp changes with the password and
// differs between an account and a later one under the same id.
const std::vector<const char*> kVersion3 = {
    "ALTER TABLE users ADD COLUMN session_stamp INTEGER NOT NULL DEFAULT 0",
};

struct Migration {
  int version;
  const std::vector<const char*>* statements;
};
const Migration kMigrations[] = {{1, &kVersion1}, {2, &kVersion2}, {3, &kVersion3}};

}  // namespace

int CurrentSchemaVersion() { return kMigrations[std::size(kMigrations) - 1].version; }

bool MigrateSchema(Transaction& connection, std::string* error) {
  try {
    connection.Execute("BEGIN IMMEDIATE");
    connection.Execute("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
    int64_t version = connection.QueryInt("SELECT MAX(version) FROM schema_version", {}, 0);
    connection.Execute("COMMIT");
    if (version > CurrentSchemaVersion()) {
      *error = "the database has schema version " + std::to_string(version) +
               ", newer than this server's " + std::to_string(CurrentSchemaVersion());
      return false;
    }
    for (const Migration& migration : kMigrations) {
      if (migration.version <= version) continue;
      connection.Execute("BEGIN IMMEDIATE");
      try {
        for (const char* statement : *migration.statements) connection.Execute(statement);
        connection.Execute("INSERT INTO schema_version VALUES(?)", {migration.version});
        connection.Execute("COMMIT");
      } catch (...) {
        connection.Execute("ROLLBACK");
        throw;
      }
    }
    return true;
  } catch (const StorageError& e) {
    *error = std::string("cannot migrate the schema: ") + e.what();
    return false;
  }
}

}  // namespace docsec::server
