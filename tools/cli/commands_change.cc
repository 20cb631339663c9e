// dept, user, computer, position, appoint, revoke, ipseg: changes to the organisation. Each sends
// its request through the library's object in the loaded tree, so the tree stays in step. Every
// command names the object first and the target after it ("user move ID DEPT", "computer move
// PC... DEPT"); the destructive ones ask first (confirm.h).
#include <memory>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/confirm.h"
#include "tools/cli/rows.h"

namespace docsec::cli {

namespace {

// Every argument of the family, shared by the callbacks (CLI11 binds options to storage that must
// outlive parsing).
struct ChangeArgs {
  std::string department, target, name, description, id, position, via = "user";
  std::vector<std::string> computers;
  bool console_manager = false, supervisor = false, with_password = false, unlock = false,
       with_sub = false;
  std::string from, to, new_from, new_to;
  Safety safety;
};

CDODepartment& OwnerOf(CDODepartment* department, const std::string& what) {
  CDODepartment* owner = department->GetOwnerDepartment();
  if (owner == nullptr) Fail(kExitUsage, what + " is the top of your tree");
  return *owner;
}

void DeptAdd(Context& context, const ChangeArgs& a) {
  CDODepartment& parent = context.FindDepartment(a.department);
  auto department = std::make_unique<CDODepartment>();
  department->SetName(a.name.c_str());
  if (!a.description.empty()) department->SetDescription(a.description.c_str());
  if (!parent.AddSubDepartment(department.get())) context.Refused("adding department " + a.name);
  CDODepartment* added = department.release();  // the parent's list owns it now
  context.output().Report(
      {{"id", added->GetId()}, {"path", PathOf(added)}},
      "added " + PathOf(added) + " (id " + std::to_string(added->GetId()) + ")");
}

void DeptMove(Context& context, const ChangeArgs& a) {
  CDODepartment& department = context.FindDepartment(a.department);
  CDODepartment& parent = context.FindDepartment(a.target);
  for (CDODepartment* d = &parent; d != nullptr; d = d->GetOwnerDepartment()) {
    if (d == &department) Fail(kExitUsage, "a department cannot move below itself");
  }
  if (!department.ChangeDepartment(&parent)) context.Refused("moving " + a.department);
  context.output().Report({{"id", department.GetId()}, {"path", PathOf(&department)}},
                          "moved to " + PathOf(&department));
}

void DeptRemove(Context& context, const ChangeArgs& a) {
  CDODepartment& department = context.FindDepartment(a.department);
  const std::string path = PathOf(&department);
  const long id = department.GetId();
  CDODepartment& owner = OwnerOf(&department, path);
  if (!Confirm(context, a.safety, "remove department " + path, "DelDepartment")) return;
  if (!owner.RemoveSubDepartment(&department)) {
    context.Refused("removing " + path);
  }
  context.output().Report({{"id", id}, {"path", path}, {"removed", true}}, "removed " + path);
}

void UserAdd(Context& context, const ChangeArgs& a) {
  CDODepartment& department = context.FindDepartment(a.department);
  auto user = std::make_unique<CDOUser>();
  user->SetId(a.id.c_str());
  user->SetName((a.name.empty() ? a.id : a.name).c_str());
  user->SetIsConsoleManager(a.console_manager);
  user->SetIsSupervisor(a.supervisor);
  if (a.with_password) {
    context.User();  // a --user login reads its password first
    user->SetPassword(context.ReadPassword("password of " + a.id + ": ").c_str());
  }
  if (!department.AddUser(user.get())) context.Refused("adding user " + a.id);
  CDOUser* added = user.release();  // the department's list owns it now
  context.output().Report(UserRow(context, added),
                          "added user " + a.id + " to " + PathOf(&department));
}

void UserMove(Context& context, const ChangeArgs& a) {
  CDOUser& user = context.FindUser(a.id);
  CDODepartment& department = context.FindDepartment(a.target);
  if (!user.ChangeDepartment(&department)) context.Refused("moving user " + a.id);
  context.output().Report(UserRow(context, &user), "moved " + a.id + " to " + PathOf(&department));
}

void UserRemove(Context& context, const ChangeArgs& a) {
  CDOUser& user = context.FindUser(a.id);
  CDODepartment* owner = user.GetOwnerDepartment();
  const std::string from = owner != nullptr ? " from " + PathOf(owner) : "";
  if (!Confirm(context, a.safety, "remove user " + a.id + from, "DelUser")) return;
  if (owner == nullptr || !owner->RemoveUser(&user)) context.Refused("removing user " + a.id);
  context.output().Report({{"id", a.id}, {"removed", true}}, "removed user " + a.id);
}

void UserLock(Context& context, const ChangeArgs& a) {
  CDOUser& user = context.FindUser(a.id);
  user.SetIsUserLock(!a.unlock);
  if (!user.Update()) context.Refused((a.unlock ? "unlocking " : "locking ") + a.id);
  context.output().Report(UserRow(context, &user), (a.unlock ? "unlocked " : "locked ") + a.id);
}

void ComputerApprove(Context& context, const ChangeArgs& a, bool approve) {
  DataObjectList list;
  std::string names;
  for (const std::string& name : a.computers) {
    list.Add(&context.FindComputer(name));
    names += " " + name;
  }
  CDOComputer* first = static_cast<CDOComputer*>(list[0]);
  if (!approve &&
      !Confirm(context, a.safety, "withdraw the approval of" + names, "UpdateComputer")) {
    return;
  }
  if (!first->ApplyApprovedStatus(&list, approve)) {
    context.Refused(approve ? "approving" : "disapproving");
  }
  Table table(ComputerColumns());
  for (CDOComputer* computer : Members<CDOComputer>(&list))
    table.Add(ComputerRow(context, computer));
  if (context.output().json()) return context.output().PrintTable(table);
  context.output().Say((approve ? "approved " : "disapproved ") + std::to_string(list.size()) +
                       " computer(s)");
}

// Whether `name` names exactly one department (FindDepartment without its usage error).
bool NamesDepartment(Context& context, const std::string& name) {
  try {
    context.FindDepartment(name);
    return true;
  } catch (const CliError&) {
    return false;
  }
}

// computer move PC... DEPT. The department came first in earlier versions; that order is refused
// with the new one spelt out rather than guessed, since a computer may share a department's name.
void ComputerMove(Context& context, const ChangeArgs& a) {
  if (!NamesDepartment(context, a.target) && NamesDepartment(context, a.computers.front())) {
    std::string order;
    for (size_t i = 1; i < a.computers.size(); ++i) order += " " + a.computers[i];
    Fail(kExitUsage, "the department comes last: docsec computer move" + order + " " + a.target +
                         " " + a.computers.front());
  }
  CDODepartment& department = context.FindDepartment(a.target);
  DataObjectList list;
  for (const std::string& name : a.computers) list.Add(&context.FindComputer(name));
  CDOComputer* first = static_cast<CDOComputer*>(list[0]);
  if (!first->ChangeDepartment(&list, &department)) context.Refused("moving computers");
  context.output().Report(
      {{"moved", list.size()}, {"department", PathOf(&department)}},
      "moved " + std::to_string(list.size()) + " computer(s) to " + PathOf(&department));
}

void PositionAdd(Context& context, const ChangeArgs& a) {
  CDODepartment& department = context.FindDepartment(a.department);
  auto position = std::make_unique<CDOPosition>();
  position->SetPositionName(a.name.c_str());
  if (!a.description.empty()) position->SetDescription(a.description.c_str());
  if (!department.AddPosition(position.get())) context.Refused("adding position " + a.name);
  CDOPosition* added = position.release();  // the department's list owns it now
  context.output().Report(PositionRow(context, added),
                          "added position " + a.name + " to " + PathOf(&department) + " (id " +
                              std::to_string(added->GetPositionId()) + ")");
}

void PositionRemove(Context& context, const ChangeArgs& a) {
  CDOPosition& position = context.FindPosition(a.position);
  const Json row = PositionRow(context, &position);
  const std::string what = "position " + TextOf(&position, &CDOPosition::GetPositionName) + " of " +
                           row["department"].get<std::string>();
  CDODepartment* owner = position.GetOwnerDepartment();
  if (!Confirm(context, a.safety, "remove " + what, "DelPosition")) return;
  if (owner == nullptr || !owner->RemovePosition(&position)) context.Refused("removing " + what);
  Json removed = row;
  removed["removed"] = true;
  context.output().Report(removed, "removed " + what);
}

// Appointments change one side's list, then that side applies it; both sides reach the same
// server records, and --via picks which list is sent.
void Appoint(Context& context, const ChangeArgs& a, bool appoint) {
  CDOUser& user = context.FindUser(a.id);
  CDOPosition& position = context.FindPosition(a.position);
  const std::string what = (appoint ? "appointing " : "revoking ") + a.id;
  bool changed = false;
  if (a.via == "position") {
    if (!position.GetAppointments()) context.Refused(what);
    changed = appoint ? position.AppointUser(&user) != nullptr : position.RevokeUser(&user) != 0;
    if (changed && !position.ApplyAppointments()) context.Refused(what);
  } else {
    DataObjectList* held = user.GetAppointments();
    if (held == nullptr) context.Refused(what);
    if (appoint) {
      changed = user.AppointPosition(&position) != nullptr;
    } else {
      for (CDOPosition* member : Members<CDOPosition>(held)) {
        if (member->Equals(&position)) {
          changed = user.RevokePosition(member) != 0;
          break;
        }
      }
    }
    if (changed && !user.ApplyAppointments()) context.Refused(what);
  }
  const std::string name = TextOf(&position, &CDOPosition::GetPositionName);
  context.output().Report(
      {{"user", a.id}, {"position", name}, {"appointed", appoint}, {"changed", changed}},
      !changed ? a.id + (appoint ? " already holds " : " does not hold ") + name
               : (appoint ? "appointed " + a.id + " to " : "revoked " + a.id + " from ") + name);
}

CDOIpSegment* FindSegment(CDODepartment& department, const std::string& from,
                          const std::string& to) {
  for (CDOIpSegment* segment : Members<CDOIpSegment>(department.GetIpSegments())) {
    if (TextOf(segment, &CDOIpSegment::GetIpSegmentFrom) == from &&
        TextOf(segment, &CDOIpSegment::GetIpSegmentTo) == to) {
      return segment;
    }
  }
  Fail(kExitUsage, "no IP segment " + from + "-" + to + " in " + PathOf(&department));
}

void IpSegmentList(Context& context, const ChangeArgs& a) {
  CDODepartment& department = context.FindDepartment(a.department);
  Table table({{"from", "FROM"}, {"to", "TO"}});
  for (CDOIpSegment* segment : Members<CDOIpSegment>(department.GetIpSegments())) {
    table.Add({{"from", TextOf(segment, &CDOIpSegment::GetIpSegmentFrom)},
               {"to", TextOf(segment, &CDOIpSegment::GetIpSegmentTo)}});
  }
  context.output().PrintTable(table);
}

void IpSegmentChange(Context& context, const ChangeArgs& a, const std::string& verb) {
  CDODepartment& department = context.FindDepartment(a.department);
  const std::string range = a.from + "-" + a.to;
  bool ok = false;
  if (verb == "add") {
    CDOIpSegment segment;
    segment.SetIpSegmentFrom(a.from.c_str());
    segment.SetIpSegmentTo(a.to.c_str());
    DataObjectList list{&segment};
    ok = department.AddIpSegment(&list, a.with_sub);
  } else if (verb == "remove") {
    DataObjectList list{FindSegment(department, a.from, a.to)};
    ok = department.RemoveIpSegment(&list, a.with_sub);
  } else if (verb == "clear") {
    if (!Confirm(context, a.safety,
                 "remove every IP segment of " + PathOf(&department) +
                     (a.with_sub ? " and its sub-departments" : ""),
                 "DelIpSegment")) {
      return;
    }
    ok = department.ClearComputerIpSegment(a.with_sub);
  } else {
    CDOIpSegment replacement;
    replacement.SetIpSegmentFrom(a.new_from.c_str());
    replacement.SetIpSegmentTo(a.new_to.c_str());
    ok = FindSegment(department, a.from, a.to)->UpdateIpSegment(&replacement);
  }
  if (!ok) context.Refused(verb + " IP segment");
  context.output().Report({{"department", PathOf(&department)}, {"operation", verb}},
                          "IP segments of " + PathOf(&department) + ": " + verb + " done");
}

}  // namespace

void RegisterChangeCommands(CLI::App& app, Context& context) {
  auto args = std::make_shared<ChangeArgs>();
  ChangeArgs& a = *args;
  auto on = [&context, args](CLI::App* command, void (*run)(Context&, const ChangeArgs&)) {
    command->callback([&context, args, run] { run(context, *args); });
  };

  auto* dept = app.add_subcommand("dept", "add, move or remove departments")->require_subcommand(1);
  auto* dept_add = dept->add_subcommand("add", "add NAME below PARENT");
  dept_add->add_option("PARENT", a.department, "the parent department")->required();
  dept_add->add_option("NAME", a.name, "the new department's name")->required();
  dept_add->add_option("--description", a.description, "a description");
  on(dept_add, DeptAdd);
  auto* dept_move = dept->add_subcommand("move", "move DEPT below NEW_PARENT");
  dept_move->add_option("DEPT", a.department)->required();
  dept_move->add_option("NEW_PARENT", a.target)->required();
  on(dept_move, DeptMove);
  auto* dept_remove = dept->add_subcommand("remove", "remove DEPT");
  dept_remove->add_option("DEPT", a.department)->required();
  AddSafetyOptions(dept_remove, a.safety);
  on(dept_remove, DeptRemove);

  auto* user = app.add_subcommand("user", "add, move, remove or lock users")->require_subcommand(1);
  auto* user_add = user->add_subcommand("add", "add account ID to DEPT");
  user_add->add_option("DEPT", a.department)->required();
  user_add->add_option("ID", a.id, "the account id")->required();
  user_add->add_option("--name", a.name, "the person's name (default: the id)");
  user_add->add_flag("--console-manager", a.console_manager, "may use the console");
  user_add->add_flag("--supervisor", a.supervisor, "administers everything");
  user_add->add_flag("--with-password", a.with_password,
                     "read the account's password (after the login's, when --user is given)");
  on(user_add, UserAdd);
  auto* user_move = user->add_subcommand("move", "move user ID to DEPT");
  user_move->add_option("ID", a.id)->required();
  user_move->add_option("DEPT", a.target)->required();
  on(user_move, UserMove);
  auto* user_remove = user->add_subcommand("remove", "remove user ID");
  user_remove->add_option("ID", a.id)->required();
  AddSafetyOptions(user_remove, a.safety);
  on(user_remove, UserRemove);
  auto* user_lock = user->add_subcommand("lock", "lock (or --unlock) user ID");
  user_lock->add_option("ID", a.id)->required();
  user_lock->add_flag("--unlock", a.unlock, "unlock instead");
  on(user_lock, UserLock);

  auto* computer = app.add_subcommand("computer", "approve, disapprove or move computers")
                       ->require_subcommand(1);
  auto* approve = computer->add_subcommand("approve", "approve computers (name, IP or UUID)");
  approve->add_option("COMPUTER", a.computers)->required();
  approve->callback([&context, args] { ComputerApprove(context, *args, true); });
  auto* disapprove = computer->add_subcommand("disapprove", "withdraw the approval of computers");
  disapprove->add_option("COMPUTER", a.computers)->required();
  AddSafetyOptions(disapprove, a.safety);
  disapprove->callback([&context, args] { ComputerApprove(context, *args, false); });
  auto* computer_move = computer->add_subcommand("move", "move computers to DEPT");
  // DEPT takes the last word, the computers the ones before it.
  computer_move->positionals_at_end();
  computer_move->add_option("COMPUTER", a.computers, "name, IP address or UUID")->required();
  computer_move->add_option("DEPT", a.target, "the department they move to")->required();
  on(computer_move, ComputerMove);

  auto* position = app.add_subcommand("position", "add or remove positions")->require_subcommand(1);
  auto* position_add = position->add_subcommand("add", "add position NAME to DEPT");
  position_add->add_option("DEPT", a.department, "the department")->required();
  position_add->add_option("NAME", a.name, "the position's name")->required();
  position_add->add_option("--description", a.description, "a description");
  on(position_add, PositionAdd);
  auto* position_remove = position->add_subcommand("remove", "remove POSITION");
  position_remove->add_option("POSITION", a.position, "position id, NAME or DEPT:NAME")->required();
  AddSafetyOptions(position_remove, a.safety);
  on(position_remove, PositionRemove);

  for (bool appoint : {true, false}) {
    auto* command =
        app.add_subcommand(appoint ? "appoint" : "revoke",
                           appoint ? "appoint USER to POSITION" : "revoke USER from POSITION");
    command->add_option("USER", a.id, "the account id")->required();
    command->add_option("POSITION", a.position, "position id, NAME or DEPT:NAME")->required();
    command->add_option("--via", a.via, "change the user's list (default) or the position's")
        ->check(CLI::IsMember({"user", "position"}));
    command->callback([&context, args, appoint] { Appoint(context, *args, appoint); });
  }

  auto* ipseg = app.add_subcommand("ipseg", "IP segments of a department")->require_subcommand(1);
  auto* ip_list = ipseg->add_subcommand("list", "the segments of DEPT");
  ip_list->add_option("DEPT", a.department)->required();
  on(ip_list, IpSegmentList);
  for (const char* verb : {"add", "remove", "clear", "update"}) {
    auto* command = ipseg->add_subcommand(verb, std::string(verb) + " IP segments");
    command->add_option("DEPT", a.department)->required();
    if (std::string(verb) != "clear") {
      command->add_option("FROM", a.from, "first address")->required();
      command->add_option("TO", a.to, "last address")->required();
    }
    if (std::string(verb) == "update") {
      command->add_option("NEW_FROM", a.new_from)->required();
      command->add_option("NEW_TO", a.new_to)->required();
    } else {
      command->add_flag("--with-sub", a.with_sub, "also in the sub-departments");
    }
    if (std::string(verb) == "clear") AddSafetyOptions(command, a.safety);
    const std::string name = verb;
    command->callback([&context, args, name] { IpSegmentChange(context, *args, name); });
  }
}

}  // namespace docsec::cli
