// levels, apps, policy, default-levels, file-auth: secret levels, applications and who may use
// what. The library edits authorizations in memory and sends a whole list at once, and each docsec
// run is a process of its own, so grant and refuse send the changed list at once; apply replaces
// the list with one read from a JSON file in the form `show --json` prints.
#include <fstream>
#include <iostream>
#include <memory>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/confirm.h"
#include "tools/cli/rows.h"

namespace docsec::cli {

namespace {

struct PolicyArgs {
  std::string department, level, user, position, app, computer, path, file, permission;
  bool only_decrypt = false;
  Safety safety;  // policy apply
};

void Levels(Context& context) {
  context.User();
  DataObjectList* levels = CDOSecretLevel::GetAllInstance();
  if (levels == nullptr) context.Refused("loading the secret levels");
  Table table({{"id", "ID"}, {"name", "NAME"}, {"description", "DESCRIPTION"}});
  for (CDOSecretLevel* level : Members<CDOSecretLevel>(levels)) {
    table.Add({{"id", level->GetId()},
               {"name", TextOf(level, &CDOSecretLevel::GetName)},
               {"description", TextOf(level, &CDOSecretLevel::GetDescription)}});
  }
  context.output().PrintTable(table);
}

void Applications(Context& context) {
  context.User();
  DataObjectList* apps = CDOApplication::GetAllInstance();
  if (apps == nullptr) context.Refused("loading the applications");
  Table table({{"name", "NAME"}, {"description", "DESCRIPTION"}});
  for (CDOApplication* app : Members<CDOApplication>(apps)) {
    table.Add({{"name", TextOf(app, &CDOApplication::GetName)},
               {"description", TextOf(app, &CDOApplication::GetDescription)}});
  }
  context.output().PrintTable(table);
}

Json ReadJsonFile(const std::string& path) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path);
    if (!file) Fail(kExitUsage, "cannot read " + path);
    in = &file;
  }
  try {
    Json value = Json::parse(*in);
    if (!value.is_array()) Fail(kExitUsage, path + ": want a JSON array (as show --json prints)");
    return value;
  } catch (const Json::exception& error) {
    Fail(kExitUsage, path + ": " + error.what());
  }
}

template <class T>
T Field(const Json& entry, const char* name) {
  auto found = entry.find(name);
  if (found == entry.end()) Fail(kExitUsage, std::string("an entry has no \"") + name + "\"");
  try {
    return found->get<T>();
  } catch (const Json::exception&) {
    Fail(kExitUsage, std::string("\"") + name + "\" has the wrong type");
  }
}

// "DEPTID:NAME", the form FindPosition reads back.
std::string PositionKey(long department_id, const std::string& name) {
  return std::to_string(department_id) + ":" + name;
}

// ---- department policies ----

Table PolicyTable(CDODepartment& department) {
  Table table({{"level", "LEVEL"},
               {"kind", "KIND"},
               {"who", "WHO"},
               {"name", "NAME"},
               {"permission", "PERMISSION", PermissionCell}});
  for (CDOSecretLevel* level : Members<CDOSecretLevel>(CDOSecretLevel::GetAllInstance())) {
    CDOPolicy* policy = department.GetPolicy(level);
    if (policy == nullptr) continue;
    const long id = level->GetId();
    for (auto* entry : Members<CDOAuthLevelByUser>(policy->GetAuthByUser())) {
      table.Add({{"level", LevelJson(id)},
                 {"kind", "user"},
                 {"who", TextOf(entry, &CDOAuthLevelByUser::GetUserId)},
                 {"name", TextOf(entry, &CDOAuthLevelByUser::GetUserNameA)},
                 {"permission", entry->GetPermission()}});
    }
    for (auto* entry : Members<CDOAuthLevelByPosition>(policy->GetAuthByPosition())) {
      const std::string name = TextOf(entry, &CDOAuthLevelByPosition::GetPositionName);
      table.Add({{"level", LevelJson(id)},
                 {"kind", "position"},
                 {"who", PositionKey(entry->GetPositionDeptId(), name)},
                 {"name", name},
                 {"permission", entry->GetPermission()}});
    }
  }
  return table;
}

CDODepartment& LoadPolicies(Context& context, const std::string& name) {
  CDODepartment& department = context.FindDepartment(name);
  if (!department.RefreshPolicies() || CDOSecretLevel::GetAllInstance() == nullptr) {
    context.Refused("loading the policies of " + name);
  }
  return department;
}

// Removes every entry of `policy` matching the user or position (all of them when both are null).
void RefuseFromPolicy(CDOPolicy* policy, CDOUser* user, CDOPosition* position) {
  const bool all = user == nullptr && position == nullptr;
  for (auto* entry : Members<CDOAuthLevelByUser>(policy->GetAuthByUser())) {
    if ((all || (user != nullptr && entry->IsAuthorizedTo(user))) && policy->RefuseUser(entry)) {
      delete entry;  // a refused entry is the caller's
    }
  }
  for (auto* entry : Members<CDOAuthLevelByPosition>(policy->GetAuthByPosition())) {
    if ((all || (position != nullptr && entry->IsAuthorizedTo(position))) &&
        policy->RefusePosition(entry)) {
      delete entry;
    }
  }
}

void Grantee(Context& context, const PolicyArgs& a, CDOUser** user, CDOPosition** position) {
  if (a.user.empty() == a.position.empty())
    Fail(kExitUsage, "name one --account or one --position");
  *user = a.user.empty() ? nullptr : &context.FindUser(a.user);
  *position = a.position.empty() ? nullptr : &context.FindPosition(a.position);
}

// Grants one entry of an applied list ({"kind": "user" or "position", "who", "permission"}) on
// a policy or a file: both take grants the same way.
template <typename Target>
void GrantListed(Context& context, Target& target, const Json& entry) {
  const std::string kind = Field<std::string>(entry, "kind");
  const std::string who = Field<std::string>(entry, "who");
  const long permission = Field<long>(entry, "permission");
  if (kind == "user") {
    target.GrantUser(&context.FindUser(who), permission);
  } else if (kind == "position") {
    target.GrantPosition(&context.FindPosition(who), permission);
  } else {
    Fail(kExitUsage, "\"kind\" is user or position, not " + kind);
  }
}

void PolicyCommand(Context& context, const PolicyArgs& a, const std::string& verb) {
  CDODepartment& department = LoadPolicies(context, a.department);
  if (verb == "show") return context.output().PrintTable(PolicyTable(department));
  if (verb == "apply") {
    const Json entries = ReadJsonFile(a.file);
    if (!Confirm(context, a.safety,
                 "replace every authorization of the policies of " + PathOf(&department) +
                     " with the " + std::to_string(entries.size()) + " of " + a.file,
                 "SetPolicy")) {
      return;
    }
    for (CDOSecretLevel* level : Members<CDOSecretLevel>(CDOSecretLevel::GetAllInstance())) {
      RefuseFromPolicy(department.GetPolicy(level), nullptr, nullptr);
    }
    for (const Json& entry : entries) {
      CDOPolicy* policy = department.GetPolicy(
          &context.FindLevel(std::to_string(LevelIdOf(Field<Json>(entry, "level")))));
      GrantListed(context, *policy, entry);
    }
  } else {
    CDOUser* user = nullptr;
    CDOPosition* position = nullptr;
    Grantee(context, a, &user, &position);
    CDOPolicy* policy = department.GetPolicy(&context.FindLevel(a.level));
    if (verb == "grant") {
      const long permission = ParsePermission(a.permission);
      // A new grant replaces the one the user or position had on this level.
      RefuseFromPolicy(policy, user, position);
      user != nullptr ? (void)policy->GrantUser(user, permission)
                      : (void)policy->GrantPosition(position, permission);
    } else {
      RefuseFromPolicy(policy, user, position);
    }
  }
  if (!department.ApplyPolicy()) context.Refused("applying the policies of " + a.department);
  context.output().Report({{"department", PathOf(&department)}, {"operation", verb}},
                          "policies of " + PathOf(&department) + ": " + verb + " applied");
}

// ---- default application levels ----

DataObjectList* LoadDefaults(Context& context, CDODepartment& department) {
  if (CDOSecretLevel::GetAllInstance() == nullptr) context.Refused("loading the secret levels");
  DataObjectList* defaults = department.GetDefaultAppSecretLevel();
  if (defaults == nullptr) context.Refused("loading the default levels");
  return defaults;
}

CDOApplication& FindApplication(Context& context, const std::string& name) {
  CDOApplication* app = CDOApplication::GetInstanceByName(name.c_str());
  if (app == nullptr) {
    if (CDOApplication::GetAllInstance() == nullptr) context.Refused("loading the applications");
    Fail(kExitUsage, "no application " + name + " (see docsec apps)");
  }
  return *app;
}

void DefaultsCommand(Context& context, const PolicyArgs& a, const std::string& verb) {
  CDODepartment& department = context.FindDepartment(a.department);
  DataObjectList* defaults = LoadDefaults(context, department);
  auto refuse = [&](const std::string& app_name) {
    for (auto* entry : Members<CDODeptDefAppSecretLevel>(defaults)) {
      if (app_name.empty() ||
          TextOf(entry, &CDODeptDefAppSecretLevel::GetApplicationName) == app_name) {
        department.RefuseApplication(entry);
      }
    }
  };
  auto grant = [&](const std::string& app_name, const std::string& level, bool only_decrypt) {
    refuse(app_name);
    CDODeptDefAppSecretLevel* entry =
        department.GrantApplication(&FindApplication(context, app_name), &context.FindLevel(level));
    if (entry != nullptr) entry->SetIsManualEncryptByApplication(only_decrypt);
  };
  if (verb == "show") {
    Table table(
        {{"application", "APPLICATION"}, {"level", "LEVEL"}, {"onlyDecrypt", "ONLY DECRYPT"}});
    for (auto* entry : Members<CDODeptDefAppSecretLevel>(defaults)) {
      table.Add({{"application", TextOf(entry, &CDODeptDefAppSecretLevel::GetApplicationName)},
                 {"level", LevelJson(entry->GetSecretLevelId())},
                 {"onlyDecrypt", entry->GetIsManualEncryptByApplication()}});
    }
    return context.output().PrintTable(table);
  }
  if (verb == "grant") grant(a.app, a.level, a.only_decrypt);
  if (verb == "refuse") refuse(a.app);
  if (verb == "apply") {
    const Json entries = ReadJsonFile(a.file);
    refuse("");
    for (const Json& entry : entries) {
      grant(Field<std::string>(entry, "application"),
            std::to_string(LevelIdOf(Field<Json>(entry, "level"))),
            entry.value("onlyDecrypt", false));
    }
  }
  if (!department.ApplyApplicationSecretLevel()) context.Refused("applying the default levels");
  context.output().Report({{"department", PathOf(&department)}, {"operation", verb}},
                          "default levels of " + PathOf(&department) + ": " + verb + " applied");
}

// ---- file authorizations ----

void RefuseFromFile(CDOAgentFile& file, CDOUser* user, CDOPosition* position) {
  const bool all = user == nullptr && position == nullptr;
  for (auto* entry : Members<CDOAuthFileByUser>(file.GetAuthByUser())) {
    if (all || (user != nullptr && entry->IsAuthorizedTo(user))) file.RefuseUser(entry);
  }
  for (auto* entry : Members<CDOAuthFileByPosition>(file.GetAuthByPosition())) {
    if (all || (position != nullptr && entry->IsAuthorizedTo(position))) file.RefusePosition(entry);
  }
}

void FileAuthCommand(Context& context, const PolicyArgs& a, const std::string& verb) {
  context.User();
  CDOAgentFile& file = FindItem(context.ReachComputer(a.computer), a.path);
  if (!file.QueryAuthorization()) context.Refused("loading the authorizations of " + a.path);
  if (verb == "show") {
    Table table({{"kind", "KIND"},
                 {"who", "WHO"},
                 {"name", "NAME"},
                 {"permission", "PERMISSION", PermissionCell}});
    for (auto* entry : Members<CDOAuthFileByUser>(file.GetAuthByUser())) {
      table.Add({{"kind", "user"},
                 {"who", TextOf(entry, &CDOAuthFileByUser::GetUserId)},
                 {"name", TextOf(entry, &CDOAuthFileByUser::GetUserNameA)},
                 {"permission", entry->GetPermission()}});
    }
    for (auto* entry : Members<CDOAuthFileByPosition>(file.GetAuthByPosition())) {
      const std::string name = TextOf(entry, &CDOAuthFileByPosition::GetPositionName);
      table.Add({{"kind", "position"},
                 {"who", PositionKey(entry->GetPositionDeptId(), name)},
                 {"name", name},
                 {"permission", entry->GetPermission()}});
    }
    return context.output().PrintTable(table);
  }
  if (verb == "apply") {
    const Json entries = ReadJsonFile(a.file);
    RefuseFromFile(file, nullptr, nullptr);
    for (const Json& entry : entries) GrantListed(context, file, entry);
  } else {
    CDOUser* user = nullptr;
    CDOPosition* position = nullptr;
    Grantee(context, a, &user, &position);
    RefuseFromFile(file, user, position);
    if (verb == "grant") {
      const long permission = ParsePermission(a.permission);
      user != nullptr ? (void)file.GrantUser(user, permission)
                      : (void)file.GrantPosition(position, permission);
    }
  }
  if (!file.ApplyAuthorization()) context.Refused("applying the authorizations of " + a.path);
  context.output().Report(
      {{"path", TextOf(&file, &CDOAgentFile::GetFullPath)}, {"operation", verb}},
      "authorizations of " + a.path + ": " + verb + " applied");
}

}  // namespace

void RegisterPolicyCommands(CLI::App& app, Context& context) {
  app.add_subcommand("levels", "the secret levels")->callback([&context] { Levels(context); });
  app.add_subcommand("apps", "the applications")->callback([&context] { Applications(context); });

  auto args = std::make_shared<PolicyArgs>();
  PolicyArgs& a = *args;
  using Runner = void (*)(Context&, const PolicyArgs&, const std::string&);
  const struct {
    const char* name;
    const char* help;
    Runner run;
  } kFamilies[] = {
      {"policy", "who may use each secret level in a department", PolicyCommand},
      {"default-levels", "the level each application's new documents get in a department",
       DefaultsCommand},
      {"file-auth", "the authorizations of one encrypted file", FileAuthCommand}};
  for (const auto& family : kFamilies) {
    auto* command = app.add_subcommand(family.name, family.help)->require_subcommand(1);
    if (family.run != DefaultsCommand) {
      command->footer(
          "Permission bits (grant --permission takes names joined by commas, or the "
          "number of their sum):\n" +
          PermissionHelp());
    }
    const bool on_file = family.run == FileAuthCommand;
    for (const char* verb : {"show", "grant", "refuse", "apply"}) {
      auto* sub = command->add_subcommand(verb, verb);
      if (on_file) {
        sub->add_option("COMPUTER", a.computer, "name, IP address or UUID")->required();
        sub->add_option("PATH", a.path, "the file, e.g. C:/docs/a.txt")->required();
      } else {
        sub->add_option("DEPT", a.department, "the department")->required();
      }
      const std::string v = verb;
      if (v == "apply") {
        sub->add_option("FILE", a.file, "JSON as show --json prints it; - for stdin")->required();
        if (family.run == PolicyCommand) AddSafetyOptions(sub, a.safety);
      } else if (v != "show" && family.run == DefaultsCommand) {
        sub->add_option("--app", a.app, "the application")->required();
        if (v == "grant") {
          sub->add_option("--level", a.level, "the secret level, id or name")->required();
          sub->add_flag("--only-decrypt", a.only_decrypt, "the application only decrypts");
        }
      } else if (v != "show") {
        sub->add_option("--account", a.user, "the user's account id");
        sub->add_option("--position", a.position, "position id, NAME or DEPT:NAME");
        if (!on_file) sub->add_option("--level", a.level, "the secret level")->required();
        if (v == "grant") {
          sub->add_option("--permission", a.permission,
                          "rights by name (read,print) or as a number; see the list below")
              ->required();
          sub->footer("Permission bits:\n" + PermissionHelp());
        }
      }
      const Runner run = family.run;
      sub->callback([&context, args, run, v] { run(context, *args, v); });
    }
  }
}

}  // namespace docsec::cli
