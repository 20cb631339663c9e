#include "tools/cli/rows.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

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

Json LevelJson(long id) {
  if (id < 0) return nullptr;
  CDOSecretLevel* level = CDOSecretLevel::GetInstanceById(id);
  return {{"id", id}, {"name", level->IsNull() ? "" : TextOf(level, &CDOSecretLevel::GetName)}};
}

Json LevelJson(const std::string& id_text) {
  if (id_text.empty()) return nullptr;
  char* end = nullptr;
  errno = 0;
  const long id = std::strtol(id_text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return nullptr;
  return LevelJson(id);
}

Json LevelJson(CDOSecretLevel* level) {
  if (level == nullptr || level->IsNull()) return nullptr;
  return {{"id", level->GetId()}, {"name", TextOf(level, &CDOSecretLevel::GetName)}};
}

long LevelIdOf(const Json& level) {
  if (level.is_number_integer()) return level.get<long>();
  if (level.is_object()) {
    auto id = level.find("id");
    if (id != level.end() && id->is_number_integer()) return id->get<long>();
  }
  Fail(kExitUsage, "\"level\" is {\"id\": N, \"name\": ...} or a number, not " + level.dump());
}

const std::vector<PermissionBit>& PermissionBits() {
  static const std::vector<PermissionBit> kBits = {
      {"read", 0x01, "open and read the document"},
      {"print", 0x02, "print it"},
      {"edit", 0x04, "change and save it"},
      {"copy", 0x08, "copy its content out (clipboard, save as)"},
      {"decrypt", 0x10, "turn it back into a plain file"},
      {"authorize", 0x20, "grant others rights on it"},
  };
  return kBits;
}

long AllPermissionBits() {
  long all = 0;
  for (const PermissionBit& bit : PermissionBits()) all |= bit.bit;
  return all;
}

namespace {

std::string PermissionNames() {
  std::string names;
  for (const PermissionBit& bit : PermissionBits()) {
    names +=
        (names.empty() ? "" : ", ") + std::string(bit.name) + " (" + std::to_string(bit.bit) + ")";
  }
  return names;
}

[[noreturn]] void BadPermission(const std::string& text) {
  Fail(kExitUsage, "not a permission: \"" + text +
                       "\"; give names joined by commas or a number from 1 to " +
                       std::to_string(AllPermissionBits()) + ": " + PermissionNames());
}

}  // namespace

long ParsePermission(const std::string& text) {
  if (text.empty()) BadPermission(text);
  if (std::isdigit(static_cast<unsigned char>(text[0]))) {
    char* end = nullptr;
    errno = 0;
    // Decimal, or hexadecimal with 0x; never octal, where "010" would silently mean 8.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long word = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || word <= 0 || (word & ~AllPermissionBits()) != 0) {
      BadPermission(text);
    }
    return word;
  }
  long word = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string name = text.substr(start, comma - start);
    const size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? ""
                                      : name.substr(first, name.find_last_not_of(' ') - first + 1);
    long bit = 0;
    for (const PermissionBit& defined : PermissionBits()) {
      if (strcasecmp(defined.name, name.c_str()) == 0) bit = defined.bit;
    }
    if (bit == 0) BadPermission(text);
    word |= bit;
    start = comma + 1;
  }
  return word;
}

std::string PermissionText(long word) {
  if (word <= 0 || (word & ~AllPermissionBits()) != 0) return std::to_string(word);
  std::string names;
  for (const PermissionBit& bit : PermissionBits()) {
    if ((word & bit.bit) != 0) names += (names.empty() ? "" : ",") + std::string(bit.name);
  }
  return std::to_string(word) + " (" + names + ")";
}

std::string PermissionCell(const Json& word) {
  return word.is_number_integer() ? PermissionText(word.get<long>()) : word.dump();
}

std::string PermissionHelp() {
  std::string help;
  for (const PermissionBit& bit : PermissionBits()) {
    help +=
        "  " + std::string(bit.name) + " (" + std::to_string(bit.bit) + "): " + bit.meaning + "\n";
  }
  return help;
}

}  // namespace docsec::cli
