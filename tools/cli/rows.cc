#include "tools/cli/rows.h"

#include "docsec/docsec.h"

namespace docsec::cli {

std::string DepartmentPathById(Context& context, long id) {
  CDODepartment* department = context.Tree().FindDepartmentById(id);
  return department != nullptr ? PathOf(department) : "";
}

std::vector<Column> UserColumns() {
  return {{"id", "ID"},
          {"name", "NAME"},
          {"department", "DEPARTMENT"},
          {"consoleManager", "CONSOLE"},
          {"supervisor", "SUPERVISOR"},
          {"locked", "LOCKED"}};
}

Json UserRow(Context& context, CDOUser* user) {
  std::string department = TextOf(user, &CDOUser::GetDepartmentPath);
  if (department.empty()) department = DepartmentPathById(context, user->GetDepartmentId());
  if (!department.empty() && department[0] != '/') department = "/" + department;
  return {{"id", TextOf(user, &CDOUser::GetId)},
          {"name", TextOf(user, &CDOUser::GetName)},
          {"department", department},
          {"consoleManager", user->GetIsConsoleManager()},
          {"supervisor", user->GetIsSupervisor()},
          {"locked", user->GetIsUserLock()}};
}

std::vector<Column> PositionColumns() {
  return {{"id", "ID"}, {"name", "NAME"}, {"department", "DEPARTMENT"}};
}

Json PositionRow(Context& context, CDOPosition* position) {
  std::string department = TextOf(position, &CDOPosition::GetDepartmentPath);
  if (department.empty()) department = DepartmentPathById(context, position->GetDepartmentId());
  if (!department.empty() && department[0] != '/') department = "/" + department;
  return {{"id", position->GetPositionId()},
          {"name", TextOf(position, &CDOPosition::GetPositionName)},
          {"department", department}};
}

std::vector<Column> ComputerColumns() {
  return {{"name", "NAME"},         {"ip", "IP"},
          {"uuid", "UUID"},         {"department", "DEPARTMENT"},
          {"approved", "APPROVED"}, {"version", "VERSION"}};
}

Json ComputerRow(Context& context, CDOComputer* computer) {
  CDODepartment* owner = computer->GetOwnerDepartment();
  return {
      {"name", TextOf(computer, &CDOComputer::GetName)},
      {"ip", TextOf(computer, &CDOComputer::GetIp)},
      {"uuid", TextOf(computer, &CDOComputer::GetUuid)},
      {"department",
       owner != nullptr ? PathOf(owner) : DepartmentPathById(context, computer->GetDepartmentId())},
      {"approved", computer->GetIsApproved()},
      {"version", TextOf(computer, &CDOComputer::GetComputerVersion)}};
}

const char* ConnectionText(int status) {
  switch (status) {
    case ConnectionRunning: return "running";
    case ConnectionPingFailed: return "no-ping";
    case ConnectionAgentNotRunning: return "agent-down";
    default: return "not-probed";
  }
}

}  // namespace docsec::cli
