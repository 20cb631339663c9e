// explain USER (DEPT | COMPUTER PATH): which secret levels and file rights a user holds there, and
// every authorization that gives them (see explain.h for the rules).
//
// JSON (--json): {"user": {"id", "name", "department"}, "positions": [{"name", "department"}],
// "department": {"id", "path"}, "levels": [{"level", "rights", "grants": [GRANT]}],
// "notInherited": [GRANT], and with a file "file": {"computer", "path", "encrypted", "level",
// "department", "rights", "grants": [GRANT]}}. GRANT is {"from": "policy"|"file",
// "through": "user"|"position", "position", "positionDepartment", "department", "level",
// "rights"}. A level is {"id", "name"} (null for none); rights are the permission words (numbers),
// combined with OR.
#include <memory>

#include "docsec/computers/computer.h"
#include "docsec/files/agent_file.h"
#include "tools/cli/commands.h"
#include "tools/cli/explain.h"
#include "tools/cli/rows.h"

namespace docsec::cli {
namespace {

std::string Slashed(const std::string& path) {
  return path.empty() || path[0] == '/' ? path : "/" + path;
}

std::string LevelText(long id, const std::string& name) {
  if (id == -1) return "none";
  return std::to_string(id) + (name.empty() ? "" : " " + name);
}

Json LevelOf(long id, const std::string& name) {
  if (id == -1) return nullptr;
  return {{"id", id}, {"name", name}};
}

std::string Through(const Grant& grant, const std::string& user_id) {
  if (grant.through == Grant::Through::kUser) return "user " + user_id;
  return "position " + grant.position_name + " (" + Slashed(grant.position_department_path) + ")";
}

Json GrantJson(const Grant& grant) {
  Json json = {{"from", grant.from == Grant::From::kPolicy ? "policy" : "file"},
               {"through", grant.through == Grant::Through::kUser ? "user" : "position"}};
  if (grant.through == Grant::Through::kPosition) {
    json["position"] = grant.position_name;
    json["positionDepartment"] = Slashed(grant.position_department_path);
  }
  json["department"] = Slashed(grant.department_path);
  json["level"] = LevelOf(grant.level_id, grant.level_name);
  json["rights"] = grant.permission;
  return json;
}

Json ExplanationJson(const Explanation& e) {
  Json json = {{"user",
                {{"id", e.user_id},
                 {"name", e.user_name},
                 {"department", Slashed(e.user_department_path)}}}};
  json["positions"] = Json::array();
  for (const HeldPosition& p : e.positions) {
    json["positions"].push_back({{"name", p.name}, {"department", Slashed(p.department_path)}});
  }
  json["department"] = {{"id", e.department_id}, {"path", Slashed(e.department_path)}};
  json["levels"] = Json::array();
  for (const LevelRights& level : e.levels) {
    Json grants = Json::array();
    for (const Grant& grant : level.grants) grants.push_back(GrantJson(grant));
    json["levels"].push_back({{"level", LevelOf(level.level_id, level.level_name)},
                              {"rights", level.permission},
                              {"grants", grants}});
  }
  json["notInherited"] = Json::array();
  for (const Grant& grant : e.not_inherited) json["notInherited"].push_back(GrantJson(grant));
  if (e.has_file) {
    Json grants = Json::array();
    for (const Grant& grant : e.file.file_grants) grants.push_back(GrantJson(grant));
    json["file"] = {{"computer", e.file.computer},
                    {"path", e.file.path},
                    {"encrypted", e.file.encrypted},
                    {"level", LevelOf(e.file.level_id, e.file.level_name)},
                    {"department", Slashed(e.file.department_path)},
                    {"rights", e.file.permission},
                    {"grants", grants}};
  }
  return json;
}

void PrintExplanation(Output& output, const Explanation& e) {
  std::ostream& out = output.out();
  const std::string where = Slashed(e.department_path);
  out << e.user_id << " (" << e.user_name << ", of " << Slashed(e.user_department_path) << ")";
  if (e.has_file) {
    out << " on " << e.file.computer << " " << e.file.path << ": "
        << (e.file.encrypted ? "encrypted at level " + LevelText(e.file.level_id, e.file.level_name)
                             : std::string("not encrypted"))
        << ", governed by the policies of " << where << "\n";
  } else {
    out << " in " << where << "\n";
  }
  out << "positions held: ";
  if (e.positions.empty()) out << "none";
  for (size_t i = 0; i < e.positions.size(); ++i) {
    out << (i ? ", " : "") << e.positions[i].name << " (" << Slashed(e.positions[i].department_path)
        << ")";
  }
  out << "\n\n";

  Table table(
      {{"level", "LEVEL"}, {"rights", "RIGHTS"}, {"through", "GRANTED TO"}, {"source", "BY"}});
  for (const LevelRights& level : e.levels) {
    for (const Grant& grant : level.grants) {
      table.Add({{"level", LevelText(level.level_id, level.level_name)},
                 {"rights", PermissionText(grant.permission)},
                 {"through", Through(grant, e.user_id)},
                 {"source", "policy of " + where}});
    }
  }
  if (e.has_file) {
    for (const Grant& grant : e.file.file_grants) {
      table.Add({{"level", LevelText(e.file.level_id, e.file.level_name)},
                 {"rights", PermissionText(grant.permission)},
                 {"through", Through(grant, e.user_id)},
                 {"source", "the file's own authorizations"}});
    }
  }
  if (table.size() == 0) {
    out << "no policy of " << where << (e.has_file ? " and no authorization of the file" : "")
        << " names " << e.user_id << " or a position " << e.user_id << " holds\n";
  } else {
    output.PrintTable(table);
  }
  out << "\n";
  if (e.has_file) {
    out << "rights on the file: " << PermissionText(e.file.permission);
    if (!e.file.encrypted) out << " (a plain file carries no level for a policy to govern)";
    out << "\n";
  } else {
    out << "rights by level:";
    if (e.levels.empty()) out << " none";
    for (const LevelRights& level : e.levels) {
      out << " " << LevelText(level.level_id, level.level_name) << " = "
          << PermissionText(level.permission) << ";";
    }
    out << "\n";
  }
  if (!e.not_inherited.empty()) {
    out << "not applying here (a policy covers its own department, not the ones below it):\n";
    for (const Grant& grant : e.not_inherited) {
      out << "  " << Slashed(grant.department_path) << ", level "
          << LevelText(grant.level_id, grant.level_name) << ": " << Through(grant, e.user_id)
          << ", rights " << PermissionText(grant.permission) << "\n";
    }
  }
}

void RunExplain(Context& context, const std::string& account, const std::string& target,
                const std::string& path) {
  CDOUser& user = context.FindUser(account);
  Explanation explanation;
  std::string error;
  bool done;
  if (path.empty()) {
    done = ExplainDepartment(&user, &context.FindDepartment(target), &explanation, &error);
  } else {
    CDOComputer& computer = context.ReachComputer(target);
    CDOAgentFile* file = FindRemoteFile(&computer, path, &error);
    if (file == nullptr) Fail(kExitUsage, "explain: " + error);
    done = ExplainFile(&user, file, &context.Tree(), &explanation, &error);
  }
  if (!done) context.Refused("explain: " + error);
  if (context.output().json()) {
    context.output().PrintJsonOnly(ExplanationJson(explanation));
  } else {
    PrintExplanation(context.output(), explanation);
  }
}

}  // namespace

void RegisterExplainCommand(CLI::App& app, Context& context) {
  auto* explain = app.add_subcommand(
      "explain",
      "which secret levels and file rights a user holds in a department or on a file, "
      "and every authorization that gives them");
  auto account = std::make_shared<std::string>();
  auto target = std::make_shared<std::string>();
  auto path = std::make_shared<std::string>();
  explain->add_option("USER", *account, "the account")->required();
  explain->add_option("TARGET", *target, "a department (id, path or name), or a computer")
      ->required();
  explain->add_option("PATH", *path, "with a computer: the file, e.g. 'C:\\docs\\plan.txt'");
  explain->callback(
      [&context, account, target, path] { RunExplain(context, *account, *target, *path); });
}

}  // namespace docsec::cli
