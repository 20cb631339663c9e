// tree, users, positions, computers: what the administered tree holds. The local searches walk
// the loaded tree; --server-side asks the server instead (fresh objects, the server's matching).
#include <memory>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/rows.h"

namespace docsec::cli {

namespace {

size_t CountOf(DataObjectList* list) { return list != nullptr ? list->size() : 0; }

void TreeCommand(Context& context, const std::string& department_key, int max_depth) {
  CDODepartment& top =
      department_key.empty() ? context.Tree() : context.FindDepartment(department_key);
  Table table({{"id", "ID"},
               {"name", "DEPARTMENT"},
               {"users", "USERS"},
               {"computers", "COMPUTERS"},
               {"positions", "POSITIONS"},
               {"path", "PATH"}});
  std::function<void(CDODepartment*, int)> visit = [&](CDODepartment* d, int depth) {
    const std::string name = TextOf(d, &CDODepartment::GetName);
    Json row = {{"id", d->GetId()},
                {"name", context.output().json() ? name : std::string(2 * depth, ' ') + name},
                {"path", PathOf(d)},
                {"depth", depth},
                {"users", CountOf(d->GetUsers())},
                {"computers", CountOf(d->GetComputers())},
                {"positions", CountOf(d->GetPositons())},
                {"subDepartments", CountOf(d->GetSubDepartments())}};
    table.Add(std::move(row));
    if (max_depth >= 0 && depth >= max_depth) return;
    for (CDODepartment* child : Members<CDODepartment>(d->GetSubDepartments())) {
      visit(child, depth + 1);
    }
  };
  visit(&top, 0);
  context.output().PrintTable(table);
}

// The options the three object listings share.
struct SearchOptions {
  std::string department;
  bool recursive = true;
  bool server_side = false;
};

void AddSearchOptions(CLI::App* command, SearchOptions& options) {
  command->add_option("DEPT", options.department, "the department (default: your whole tree)");
  command->add_flag("--recursive,!--no-recursive", options.recursive,
                    "include the sub-departments (default) or not");
  command->add_flag("--server-side", options.server_side,
                    "search on the server instead of in the loaded tree");
}

CDODepartment& Start(Context& context, const SearchOptions& options) {
  return options.department.empty() ? context.Tree() : context.FindDepartment(options.department);
}

// Three-valued flag of the local searches: 0 no condition, 1 must be set, 2 must be clear.
int Condition(const std::string& value) {
  if (value.empty()) return 0;
  return value == "yes" ? 1 : 2;
}

template <class T, class RowFunction>
void PrintResults(Context& context, const std::vector<Column>& columns, DataObjectList* list,
                  RowFunction row) {
  Table table(columns);
  for (T* object : Members<T>(list)) table.Add(row(context, object));
  context.output().PrintTable(table);
}

void UsersCommand(Context& context, const SearchOptions& options, const std::string& id,
                  const std::string& name, const std::string& console_manager,
                  const std::string& supervisor) {
  CDODepartment& start = Start(context, options);
  if (options.server_side) {
    CDOUser sample;
    if (!id.empty()) sample.SetId(id.c_str());
    if (!name.empty()) sample.SetName(name.c_str());
    if (!console_manager.empty()) sample.SetIsConsoleManager(console_manager == "yes");
    if (!supervisor.empty()) sample.SetIsSupervisor(supervisor == "yes");
    ResultList found(ServerResults(start.SearchObjectFromServer(options.recursive, &sample)));
    if (!found) context.Refused("searching users");
    return PrintResults<CDOUser>(context, UserColumns(), found.get(), UserRow);
  }
  ResultList found(TreeResults(
      start.SearchUsers(id.empty() ? nullptr : id.c_str(), name.empty() ? nullptr : name.c_str(),
                        Condition(console_manager), Condition(supervisor), options.recursive)));
  PrintResults<CDOUser>(context, UserColumns(), found.get(), UserRow);
}

void PositionsCommand(Context& context, const SearchOptions& options, const std::string& name) {
  CDODepartment& start = Start(context, options);
  const char* pattern = name.empty() ? nullptr : name.c_str();
  ResultList found =
      options.server_side
          ? ServerResults(start.SearchPositionsFromServer(pattern, options.recursive))
          : TreeResults(start.SearchPositions(pattern, options.recursive));
  if (!found) context.Refused("searching positions");
  PrintResults<CDOPosition>(context, PositionColumns(), found.get(), PositionRow);
}

void ComputersCommand(Context& context, const SearchOptions& options, const std::string& name,
                      const std::string& ip, const std::string& approved) {
  CDODepartment& start = Start(context, options);
  if (options.server_side) {
    CDOComputer sample;
    if (!name.empty()) sample.SetName(name.c_str());
    if (!ip.empty()) sample.SetIp(ip.c_str());
    if (!approved.empty()) sample.SetIsApproved(approved == "yes");
    ResultList found(ServerResults(start.SearchObjectFromServer(options.recursive, &sample)));
    if (!found) context.Refused("searching computers");
    return PrintResults<CDOComputer>(context, ComputerColumns(), found.get(), ComputerRow);
  }
  // The local search's approval argument: 0 unapproved only, 1 approved only, 2 either.
  const int approval = approved.empty() ? 2 : approved == "yes" ? 1 : 0;
  ResultList found(TreeResults(start.SearchComputers(name.empty() ? nullptr : name.c_str(),
                                                     ip.empty() ? nullptr : ip.c_str(), approval,
                                                     options.recursive)));
  PrintResults<CDOComputer>(context, ComputerColumns(), found.get(), ComputerRow);
}

}  // namespace

void RegisterListingCommands(CLI::App& app, Context& context) {
  auto* tree = app.add_subcommand("tree", "the administered departments with their counts");
  auto tree_department = std::make_shared<std::string>();
  auto depth = std::make_shared<int>(-1);
  tree->add_option("DEPT", *tree_department, "start here (id, path or name)");
  tree->add_option("--depth", *depth, "levels below DEPT to show")->check(CLI::NonNegativeNumber);
  tree->callback(
      [&context, tree_department, depth] { TreeCommand(context, *tree_department, *depth); });

  const std::vector<std::string> kYesNo = {"yes", "no"};
  auto users = app.add_subcommand("users", "users of a department (local search by default)");
  auto user_options = std::make_shared<SearchOptions>();
  auto user_texts = std::make_shared<std::array<std::string, 4>>();
  AddSearchOptions(users, *user_options);
  users->add_option("--id", (*user_texts)[0], "account ids containing this text");
  users->add_option("--name", (*user_texts)[1], "names containing this text");
  users->add_option("--console-manager", (*user_texts)[2], "yes or no")
      ->check(CLI::IsMember(kYesNo));
  users->add_option("--supervisor", (*user_texts)[3], "yes or no")->check(CLI::IsMember(kYesNo));
  users->callback([&context, user_options, user_texts] {
    const auto& t = *user_texts;
    UsersCommand(context, *user_options, t[0], t[1], t[2], t[3]);
  });

  auto* positions = app.add_subcommand("positions", "positions of a department");
  auto position_options = std::make_shared<SearchOptions>();
  auto position_name = std::make_shared<std::string>();
  AddSearchOptions(positions, *position_options);
  positions->add_option("--name", *position_name, "position names containing this text");
  positions->callback([&context, position_options, position_name] {
    PositionsCommand(context, *position_options, *position_name);
  });

  auto* computers = app.add_subcommand("computers", "managed computers of a department");
  auto computer_options = std::make_shared<SearchOptions>();
  auto computer_texts = std::make_shared<std::array<std::string, 3>>();
  AddSearchOptions(computers, *computer_options);
  computers->add_option("--name", (*computer_texts)[0], "names containing this text");
  computers->add_option("--ip", (*computer_texts)[1], "addresses containing this text");
  computers->add_option("--approved", (*computer_texts)[2], "yes or no")
      ->check(CLI::IsMember(kYesNo));
  computers->callback([&context, computer_options, computer_texts] {
    const auto& t = *computer_texts;
    ComputersCommand(context, *computer_options, t[0], t[1], t[2]);
  });
}

}  // namespace docsec::cli
