// logs, scanlogs, scan-settings, sysop, outbox: the operation log, the scan runs, the automatic
// scan's file types, server-wide maintenance and the local outbox of operation logs not yet sent.
#include <arpa/inet.h>
#include <strings.h>

#include <memory>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/rows.h"

namespace docsec::cli {

namespace {

struct LogArgs {
  std::string account, user_name, from, to, operation, type, department, computer, computer_ip,
      file, level, order = "desc", order_by;
  int database = 0;
  int page = 1;
  int per_page = 50;
  bool all = false;
  std::string status, app;           // scan logs
  std::string extension;             // scan settings
  std::string outbox_server, entry;  // outbox flush / retry / discard
  bool every = false;
};

// A search date: "YYYY-MM-DD[ HH:MM:SS]", or an invalid date (which sends no bound) when empty.
OleDateTime SearchDate(const std::string& text, const char* option) {
  if (text.empty()) return OleDateTime(0, 0, 0, 0, 0, 0);
  double value = 0;
  const std::string full = text.size() == 10 ? text + " 00:00:00" : text;
  if (!OleDateTime::ParseDateTime(full.c_str(), nullptr, &value)) {
    Fail(kExitUsage, std::string(option) + " wants \"YYYY-MM-DD[ HH:MM:SS]\", not " + text);
  }
  return OleDateTime(value);
}

// A search address with the first number in the most significant byte; 0 (no condition) when
// empty.
unsigned long SearchAddress(const std::string& text) {
  if (text.empty()) return 0;
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1)
    Fail(kExitUsage, "not an IPv4 address: " + text);
  return ntohl(address.s_addr);
}

// Lists what `next_page(&count, &more)` gives: one page, or with --all every page until the
// server says none follows; then prints the rows with the total.
template <class NextPage, class Row>
void PagedListing(Context& context, const LogArgs& a, const std::vector<Column>& columns,
                  const char* what, NextPage next_page, Row row) {
  if (a.page < 1 || a.per_page < 1) Fail(kExitUsage, "--page and --per-page start at 1");
  Table table(columns);
  int total = 0;
  for (;;) {
    int count = 0;
    bool more = false;
    ResultList found(ServerResults(next_page(&count, &more)));
    if (!found) context.Refused(std::string("searching ") + what);
    total = count;
    for (CDataObject* object : *found) table.Add(row(object));
    if (!a.all || !more) break;
  }
  Output& output = context.output();
  if (output.json()) {
    output.PrintRecord({{"total", total},
                        {"page", a.all ? 1 : a.page},
                        {"perPage", a.per_page},
                        {"items", table.rows()}});
  } else {
    output.PrintTable(table);
    const int pages = (total + a.per_page - 1) / a.per_page;
    output.Say(a.all ? std::to_string(table.size()) + " of " + std::to_string(total) + " " + what
                     : "page " + std::to_string(a.page) + " of " + std::to_string(pages) + " (" +
                           std::to_string(total) + " " + what + ")");
  }
  // "Every record" that is not every record must not look like success.
  if (a.all && static_cast<long>(table.size()) < total) {
    Fail(kExitPartial, "listed " + std::to_string(table.size()) + " of " + std::to_string(total) +
                           " " + what + "; the server ended the listing early");
  }
}

// Pages by number from --page, for searches without a cursor: `search(page, &count)`. The pages
// end where the rows do, not where the page size says, since the server may cap a page.
template <class Search>
auto NumberedPages(const LogArgs& a, Search search) {
  return [page = a.page, listed = 0L, search](int* count, bool* more) mutable {
    DataObjectList* found = search(page++, count);
    if (found != nullptr) {
      listed += static_cast<long>(found->size());
      *more = !found->empty() && listed < *count;
    }
    return found;
  };
}

// The server's operation catalogue: operation types ("1536" File operation), each with its
// operations ("1552" Encrypt file). Log records carry both codes.
struct Operations {
  struct Entry {
    std::string code, name;
    const Entry* type = nullptr;  // an operation's type; null for a type
  };
  bool loaded = false;
  std::vector<std::unique_ptr<Entry>> types, operations;

  const Entry* Find(const std::vector<std::unique_ptr<Entry>>& list,
                    const std::string& code) const {
    for (const auto& entry : list) {
      if (entry->code == code) return entry.get();
    }
    return nullptr;
  }
};

// The catalogue; `loaded` false when the server would not give it (codes print bare then).
Operations LoadOperations() {
  Operations catalogue;
  CDOperation receiver;
  ResultList operations(ServerResults(receiver.GetAllInstance()));
  if (!operations) return catalogue;
  catalogue.loaded = true;
  for (CDOperation* operation : Members<CDOperation>(operations.get())) {
    auto type = std::make_unique<Operations::Entry>();
    type->code = TextOf(operation, &CDOperation::GetOperationId);
    type->name = TextOf(operation, &CDOperation::GetOperationValue);
    for (CNameOfOper* name : Members<CNameOfOper>(operation->GetNameList())) {
      auto entry = std::make_unique<Operations::Entry>();
      entry->code = TextOf(name, &CNameOfOper::GetOperationNameID);
      entry->name = TextOf(name, &CNameOfOper::GetOperationNameVALUE);
      entry->type = type.get();
      catalogue.operations.push_back(std::move(entry));
    }
    catalogue.types.push_back(std::move(type));
  }
  return catalogue;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// A code as JSON: a number when it is one (as every catalogue code is), else its text.
Json CodeJson(const std::string& code) {
  return IsNumber(code) ? Json(std::stoll(code)) : Json(code);
}

// {"id": 1552, "name": "Encrypt file"}, the name "" when the catalogue does not list the code;
// null for no code.
Json NamedCode(const Operations& catalogue,
               const std::vector<std::unique_ptr<Operations::Entry>>& list,
               const std::string& code) {
  if (code.empty()) return nullptr;
  const Operations::Entry* entry = catalogue.Find(list, code);
  return {{"id", CodeJson(code)}, {"name", entry != nullptr ? entry->name : ""}};
}

// What --operation or --type names: a code as given, or a catalogue name (any case) as its code;
// usage error with the catalogue's names otherwise.
std::string SearchCode(Context& context, const Operations& catalogue,
                       const std::vector<std::unique_ptr<Operations::Entry>>& list,
                       const std::string& text, const char* option) {
  if (text.empty() || IsNumber(text)) return text;
  if (!catalogue.loaded)
    context.Refused(std::string("reading the operation catalogue for ") + option);
  std::string names;
  for (const auto& entry : list) {
    if (strcasecmp(entry->name.c_str(), text.c_str()) == 0) return entry->code;
    names += (names.empty() ? "" : ", ") + entry->name + " (" + entry->code + ")";
  }
  Fail(kExitUsage, std::string(option) + ": no \"" + text +
                       "\" in the server's catalogue; it has " + names +
                       " (docsec logs operations lists them)");
}

void ListOperations(Context& context) {
  context.User();
  const Operations catalogue = LoadOperations();
  if (!catalogue.loaded) context.Refused("reading the operation catalogue");
  Table table({{"id", "ID"}, {"name", "OPERATION"}, {"type", "TYPE"}});
  for (const auto& entry : catalogue.operations) {
    table.Add({{"id", CodeJson(entry->code)},
               {"name", entry->name},
               {"type", {{"id", CodeJson(entry->type->code)}, {"name", entry->type->name}}}});
  }
  context.output().PrintTable(table);
}

void Logs(Context& context, LogArgs a) {
  context.User();
  const Operations catalogue = LoadOperations();
  a.operation = SearchCode(context, catalogue, catalogue.operations, a.operation, "--operation");
  a.type = SearchCode(context, catalogue, catalogue.types, a.type, "--type");
  // Records carry the level's id; a name would match none of them.
  if (!a.level.empty() && !IsNumber(a.level))
    a.level = std::to_string(context.FindLevel(a.level).GetId());
  const OleDateTime from = SearchDate(a.from, "--from");
  const OleDateTime to = SearchDate(a.to, "--to");
  const unsigned long ip = SearchAddress(a.computer_ip);
  std::string per_page = std::to_string(a.per_page);
  std::string empty;
  const OleDateTime no_date(0, 0, 0, 0, 0, 0);
  // --all walks by cursor: numbered pages shift while entries arrive, so some would be listed
  // twice and as many missed.
  if (a.all && !a.order_by.empty() && a.order_by != "operationTime") {
    Fail(kExitUsage, "--all lists in operation time order; leave out --order-by " + a.order_by);
  }
  DrmLogCursor cursor;
  auto walk = [&](int* count, bool* more) {
    std::string empty_a, empty_b, empty_c, empty_d, empty_e;
    DataObjectList* found = CDODrmLog::GetClassInstance()->SearchDBAfter(
        &a.order, &a.account, &a.user_name, from, to, &a.operation, &a.type, &a.department,
        &a.computer, ip, &empty_a, &empty_b, 0, &empty_c, &a.file, &a.level, &empty_d, &empty_e,
        &empty, no_date, no_date, &per_page, cursor, *count, a.database);
    *more = cursor.more;
    return found;
  };
  auto search = [&](int page, int* count) {
    std::string page_text = std::to_string(page);
    std::string empty_a, empty_b, empty_c, empty_d, empty_e;
    return CDODrmLog::GetClassInstance()->SerachDB(
        &a.order, &a.order_by, &a.account, &a.user_name, from, to, &a.operation, &a.type,
        &a.department, &a.computer, ip, &empty_a, &empty_b, 0, &empty_c, &a.file, &a.level,
        &empty_d, &empty_e, &empty, no_date, no_date, &page_text, &per_page, *count, a.database);
  };
  auto row = [&catalogue](CDataObject* object) {
    auto* log = static_cast<CDODrmLog*>(object);
    return Json{
        {"time", TextOf(log, &CDODrmLog::GetOperationTime)},
        {"user", TextOf(log, &CDODrmLog::GetUid)},
        {"userName", TextOf(log, &CDODrmLog::GetUserNameA)},
        {"operation",
         NamedCode(catalogue, catalogue.operations, TextOf(log, &CDODrmLog::GetOperation))},
        {"type", NamedCode(catalogue, catalogue.types, TextOf(log, &CDODrmLog::GetOperationType))},
        {"computer", TextOf(log, &CDODrmLog::GetDestCompName)},
        {"computerIp", TextOf(log, &CDODrmLog::GetDestCompIP)},
        {"file", TextOf(log, &CDODrmLog::GetDestFile)},
        {"level", LevelJson(TextOf(log, &CDODrmLog::GetDestFileSecLvl))},
        {"sourceFile", TextOf(log, &CDODrmLog::GetSrcFile)},
        {"sourceLevel", LevelJson(TextOf(log, &CDODrmLog::GetSrcFileSecLvl))},
        {"uploadedBy", TextOf(log, &CDODrmLog::GetUploadedBy)}};
  };
  const std::vector<Column> columns = {{"time", "TIME"},           {"user", "USER"},
                                       {"operation", "OPERATION"}, {"computer", "COMPUTER"},
                                       {"file", "FILE"},           {"level", "LEVEL"}};
  if (a.all) return PagedListing(context, a, columns, "records", walk, row);
  PagedListing(context, a, columns, "records", NumberedPages(a, search), row);
}

void ScanLogs(Context& context, LogArgs a) {
  context.User();
  const unsigned long ip = SearchAddress(a.computer_ip);
  const OleDateTime from = SearchDate(a.from, "--from");
  const OleDateTime to = SearchDate(a.to, "--to");
  const OleDateTime no_date(0, 0, 0, 0, 0, 0);
  std::string per_page = std::to_string(a.per_page);
  auto search = [&](int page, int* count) {
    std::string page_text = std::to_string(page);
    std::string encrypted, failed;
    return CDOScanDrmLog::GetClassInstance()->SearchDB(
        ip, &a.computer, &a.order_by, &a.order, from, to, no_date, no_date, no_date, no_date,
        &encrypted, &a.app, &a.file, &failed, &a.status, &page_text, &per_page, *count);
  };
  auto row = [](CDataObject* object) {
    auto* log = static_cast<CDOScanDrmLog*>(object);
    return Json{{"id", CodeJson(TextOf(log, &CDOScanDrmLog::GetScanLogId))},
                {"computer", TextOf(log, &CDOScanDrmLog::GetComputerNameA)},
                {"computerIp", TextOf(log, &CDOScanDrmLog::GetComputerIp)},
                {"start", TextOf(log, &CDOScanDrmLog::GetScanStartTime)},
                {"end", TextOf(log, &CDOScanDrmLog::GetScanEndTime)},
                {"status", CodeJson(TextOf(log, &CDOScanDrmLog::GetScanStatus))},
                {"exception", TextOf(log, &CDOScanDrmLog::GetExceptionInfor)}};
  };
  PagedListing(context, a,
               {{"id", "ID"},
                {"computer", "COMPUTER"},
                {"computerIp", "IP"},
                {"start", "START"},
                {"end", "END"},
                {"status", "STATUS"}},
               "scan runs", NumberedPages(a, search), row);
}

void ScanSettings(Context& context, const LogArgs& a, bool set) {
  context.User();
  CDOAutoScanAppType settings;
  if (!settings.GetAllAutoScanAppList()) context.Refused("loading the scan settings");
  if (set) {
    const size_t eq = a.extension.find('=');
    CDOScanFileExtend extension;
    extension.SetAppName(a.extension.substr(0, eq).c_str());
    if (eq == std::string::npos) {
      settings.RemoveScanFileExtend(&extension);
    } else {
      CDOSecretLevel& level = context.FindLevel(a.extension.substr(eq + 1));
      extension.SetSecretLevelId(level.GetId());
      extension.SetSecretLevelName(TextOf(&level, &CDOSecretLevel::GetName).c_str());
      // A new level for a listed extension replaces the old entry.
      settings.RemoveScanFileExtend(&extension);
      settings.AddScanFileExtend(&extension);
    }
    if (!settings.SetAllAutoScanAppList()) context.Refused("changing the scan settings");
  }
  Table apps({{"application", "APPLICATION"}, {"scanType", "SCAN TYPE"}, {"exe", "PROGRAM"}});
  for (auto* app : Members<CDOAutoScanAppType>(settings.GetScanAppsSupport())) {
    apps.Add({{"application", TextOf(app, &CDOAutoScanAppType::GetAppName)},
              {"scanType", TextOf(app, &CDOAutoScanAppType::GetScanType)},
              {"exe", TextOf(app, &CDOAutoScanAppType::GetExeType)}});
  }
  Table extensions({{"extension", "EXTENSION"}, {"level", "LEVEL"}});
  for (auto* extension : Members<CDOScanFileExtend>(settings.GetScanFileExtends())) {
    // The setting keeps the level's name as it was when set; a renamed level shows its old name.
    extensions.Add({{"extension", TextOf(extension, &CDOScanFileExtend::GetAppName)},
                    {"level",
                     {{"id", extension->GetSecretLevelId()},
                      {"name", TextOf(extension, &CDOScanFileExtend::GetSecretLevelName)}}}});
  }
  Output& output = context.output();
  if (output.json()) {
    return output.PrintRecord({{"applications", apps.rows()}, {"extensions", extensions.rows()}});
  }
  output.PrintTable(apps);
  output.Say("");
  output.PrintTable(extensions);
}

void Sysop(Context& context, const std::string& verb) {
  context.User();
  CSystemOperation operation;
  int ok = 0;
  if (verb == "sync-directory") {
    ok = operation.SOManualRefreshAD();
  } else if (verb == "auto-update") {
    ok = operation.SOAgentFilesAutoUpdate();
  } else {
    const std::string password = context.ReadPassword("agents' uninstall password: ");
    if (password.empty()) Fail(kExitUsage, "the uninstall password is empty");
    ok = operation.SOSetAgentUninstallPassword(password.c_str());
  }
  if (!ok) context.Refused(verb);
  context.output().Report({{"operation", verb}, {"done", true}}, verb + ": done");
}

int Waiting(const LogOutboxReport& report) {
  int total = 0;
  for (const LogOutboxReport::Group& group : report.waiting) total += group.waiting;
  return total;
}

// What the outbox holds, for status and after a flush: the waiting records by server, the
// refused ones, and damage.
void PrintOutbox(Context& context, const std::string& directory, const LogOutboxReport& report,
                 const Json& extra) {
  Json waiting = Json::array(), refused = Json::array();
  for (const LogOutboxReport::Group& group : report.waiting) {
    waiting.push_back(
        {{"server", group.server}, {"account", group.account}, {"waiting", group.waiting}});
  }
  for (const LogOutboxReport::Refusal& refusal : report.refused) {
    refused.push_back({{"entryId", refusal.entry_id},
                       {"server", refusal.server},
                       {"account", refusal.account},
                       {"code", refusal.code},
                       {"message", refusal.message}});
  }
  Output& output = context.output();
  if (output.json()) {
    // "waiting" stays the total it always was; the servers' shares come beside it.
    Json record = {{"directory", directory},
                   {"waiting", Waiting(report)},
                   {"servers", waiting},
                   {"refused", refused},
                   {"damaged", report.damage}};
    for (const auto& [key, value] : extra.items()) record[key] = value;
    return output.PrintRecord(record);
  }
  output.Say(std::to_string(Waiting(report)) + " operation log record(s) waiting in " + directory);
  for (const LogOutboxReport::Group& group : report.waiting) {
    output.Say("  " + std::to_string(group.waiting) + " for " +
               (group.server.empty() ? std::string("a server not recorded (written by an earlier "
                                                   "version; send with outbox flush --server URL)")
                                     : group.server) +
               (group.account.empty() ? "" : " as " + group.account));
  }
  if (!refused.empty()) {
    output.Say(std::to_string(refused.size()) +
               " refused for good (outbox retry or outbox discard acts on them):");
    for (const LogOutboxReport::Refusal& refusal : report.refused) {
      output.Say("  " + refusal.entry_id + " for " + refusal.server + ": code " + refusal.code +
                 (refusal.message.empty() ? "" : " (" + refusal.message + ")"));
    }
  }
  for (const std::string& damage : report.damage) output.Say("damaged: " + damage);
}

// Damage, reported after the listing: exit 4 with the first sentence.
void FailOnDamage(const LogOutboxReport& report) {
  if (report.damage.empty()) return;
  Fail(kExitPartial, std::to_string(report.damage.size()) +
                         " damaged outbox file(s); records were lost: " + report.damage[0]);
}

void OutboxStatus(Context& context) {
  LogOutboxReport report;
  std::string error;
  if (!InspectLogOutbox(&report, &error)) Fail(kExitRefused, error);
  PrintOutbox(context, GetLogOutboxDirectory(), report, Json::object());
  FailOnDamage(report);
}

void OutboxFlush(Context& context, const std::string& server) {
  // A server named here is the one the waiting records are for; it is the connection too, so
  // that they can go nowhere else.
  if (!server.empty()) {
    if (server.rfind(kEmbeddedPrefix, 0) == 0) {
      context.options().embedded = server.substr(std::string(kEmbeddedPrefix).size());
    } else {
      context.options().server = server;
    }
  }
  context.User();
  LogOutboxReport report;
  std::string error;
  if (!FlushLogOutboxNow(!server.empty(), &report, &error)) Fail(kExitRefused, error);
  PrintOutbox(
      context, GetLogOutboxDirectory(), report,
      {{"server", context.target()}, {"sent", report.sent}, {"refusedNow", report.refused_now}});
  FailOnDamage(report);
  if (!report.stopped.empty()) {
    Fail(report.stopped_code.empty() ? kExitUnreachable : kExitRefused,
         "sending stopped: " + report.stopped + "; the records stay in the outbox");
  }
  if (report.refused_now > 0) {
    Fail(kExitPartial, std::to_string(report.refused_now) +
                           " record(s) refused for good and set aside (see outbox status)");
  }
}

void OutboxRefused(Context& context, const std::string& entry, bool all, bool retry) {
  if (entry.empty() == !all) Fail(kExitUsage, "name one ENTRY_ID or give --all");
  std::string error;
  const int count =
      retry ? RetryRefusedLogOutbox(entry, &error) : DiscardRefusedLogOutbox(entry, &error);
  if (count < 0) Fail(kExitRefused, error);
  context.output().Report(
      {{"directory", GetLogOutboxDirectory()}, {retry ? "retried" : "discarded", count}},
      std::to_string(count) + " refused record(s) " +
          (retry ? "moved back to the waiting ones; outbox flush sends them" : "deleted"));
}

}  // namespace

void RegisterLogCommands(CLI::App& app, Context& context) {
  auto args = std::make_shared<LogArgs>();
  LogArgs& a = *args;
  auto add_paging = [&a](CLI::App* command) {
    command->add_option("--page", a.page, "the page, from 1");
    command->add_option("--per-page", a.per_page, "records a page (the server allows up to 1000)");
    command->add_flag("--all", a.all, "every page");
    command->add_option("--order", a.order, "asc or desc")->check(CLI::IsMember({"asc", "desc"}));
    command->add_option("--order-by", a.order_by, "the field to sort by");
    command->add_option("--from", a.from, "at or after YYYY-MM-DD[ HH:MM:SS]");
    command->add_option("--to", a.to, "at or before YYYY-MM-DD[ HH:MM:SS]");
    command->add_option("--computer", a.computer, "computer name");
    command->add_option("--computer-ip", a.computer_ip, "computer address");
    command->add_option("--file", a.file, "file path");
  };

  auto* logs = app.add_subcommand("logs", "search the operation log");
  add_paging(logs);
  logs->add_option("--account", a.account, "the acting user's account id");
  logs->add_option("--user-name", a.user_name, "the acting user's name contains this");
  logs->add_option("--operation", a.operation,
                   "the operation, by name (\"Encrypt file\") or code (1552); see logs operations");
  logs->add_option("--type", a.type,
                   "the operation type, by name (\"File operation\") or code (1536)");
  logs->add_option("--department", a.department, "the acting user's department contains this");
  logs->add_option("--level", a.level, "the resulting file's secret level, by name or id");
  logs->add_option("--database", a.database, "the log database (0: current)");
  auto* operations =
      logs->add_subcommand("operations", "the server's catalogue of operations and their types");
  operations->callback([&context] { ListOperations(context); });
  // The search runs after the catalogue listing's callback when both parse; it is one or the other.
  logs->callback([&context, args, operations] {
    if (operations->parsed() == 0) Logs(context, *args);
  });

  auto* scanlogs = app.add_subcommand("scanlogs", "search the automatic scan runs");
  add_paging(scanlogs);
  scanlogs->add_option("--status", a.status, "the run's status");
  scanlogs->add_option("--app", a.app, "runs that handled this application");
  scanlogs->callback([&context, args] { ScanLogs(context, *args); });

  auto* scan =
      app.add_subcommand("scan-settings", "the automatic scan's file types")->require_subcommand(1);
  scan->add_subcommand("show", "the applications and extensions")->callback([&context, args] {
    ScanSettings(context, *args, false);
  });
  auto* scan_set = scan->add_subcommand("set", "EXT=LEVEL adds or changes, EXT alone removes");
  scan_set->add_option("EXTENSION", a.extension, "e.g. docx=Confidential, or docx")->required();
  scan_set->callback([&context, args] { ScanSettings(context, *args, true); });

  auto* sysop = app.add_subcommand("sysop", "server-wide maintenance")->require_subcommand(1);
  for (const char* verb : {"sync-directory", "auto-update", "uninstall-password"}) {
    const std::string v = verb;
    const char* help = v == "sync-directory" ? "synchronise the organisation with the directory"
                       : v == "auto-update"  ? "let agents update their files"
                                             : "set the agents' uninstall password (read like a "
                                               "login password)";
    sysop->add_subcommand(verb, help)->callback([&context, v] { Sysop(context, v); });
  }

  auto* outbox = app.add_subcommand("outbox", "operation logs waiting to reach the server")
                     ->require_subcommand(1);
  outbox->add_subcommand("status", "what waits, by server; what was refused or damaged")
      ->callback([&context] { OutboxStatus(context); });
  auto* flush = outbox->add_subcommand("flush", "send the records waiting for a server");
  flush->add_option("--server", a.outbox_server,
                    "the server whose records to send (and to connect to); also sends records "
                    "that name no server");
  flush->callback([&context, args] { OutboxFlush(context, args->outbox_server); });
  for (const bool retry : {true, false}) {
    auto* refused = outbox->add_subcommand(
        retry ? "retry" : "discard",
        retry ? "move refused records back to the waiting ones" : "delete refused records");
    refused->add_option("ENTRY_ID", a.entry, "the refused record's entry id");
    refused->add_flag("--all", a.every, "every refused record");
    refused->callback(
        [&context, args, retry] { OutboxRefused(context, args->entry, args->every, retry); });
  }
}

}  // namespace docsec::cli
