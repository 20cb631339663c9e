// The rows docsec prints for the objects of the organisation, with their column sets. The JSON
// field names here are the console's documented interface for scripts (README "Using the
// console"): change them only by adding fields.
//
// Thread safety: the functions read the objects they are given; one thread per object.
#ifndef DOCSEC_TOOLS_CLI_ROWS_H_
#define DOCSEC_TOOLS_CLI_ROWS_H_

#include <string>
#include <vector>

#include "tools/cli/context.h"
#include "tools/cli/output.h"

namespace docsec::cli {

// id, name, department, consoleManager, supervisor, locked.
std::vector<Column> UserColumns();
Json UserRow(Context& context, CDOUser* user);
// id, name, department.
std::vector<Column> PositionColumns();
Json PositionRow(Context& context, CDOPosition* position);
// name, ip, uuid, department, approved, version.
std::vector<Column> ComputerColumns();
Json ComputerRow(Context& context, CDOComputer* computer);
// The path of the department with that id in the tree, else "" (objects a server search made
// have no owner in the tree).
std::string DepartmentPathById(Context& context, long id);
// "running", "no-ping", "agent-down" or "not-probed".
const char* ConnectionText(int status);

// A secret level as every listing prints it: {"id": 3, "name": "Confidential"}, the name from the
// server's catalogue ("" when the catalogue has no such id); null for no level (a negative id, or
// text that is empty or not a number, as in log records of unencrypted files).
Json LevelJson(long id);
Json LevelJson(const std::string& id_text);
// The level itself; null for a null pointer or the null instance.
Json LevelJson(CDOSecretLevel* level);
// The level's id from a listing's "level": the {"id", "name"} object, or a bare number (lists
// written before levels became objects); usage error otherwise.
long LevelIdOf(const Json& level);

// The named bits of an authorization's permission word. The library and the server only carry
// the word (0 is no permission); these names are the console's, and --json prints the number.
struct PermissionBit {
  const char* name;
  long bit;
  const char* meaning;
};
const std::vector<PermissionBit>& PermissionBits();
// Every defined bit together.
long AllPermissionBits();
// "read,print" (names, any order, case-insensitive) or a number using only defined bits, decimal
// or 0x-hexadecimal ("3", "0x3"); usage error naming the bits otherwise (99, "delete", "").
long ParsePermission(const std::string& text);
// The word with its bits' names, "3 (read,print)"; a word with undefined bits, or none, prints its
// number alone.
std::string PermissionText(long word);
// PermissionText of a listing's permission number, for Column::text.
std::string PermissionCell(const Json& word);
// One line per bit, "  read (1): open and read the document", for help texts.
std::string PermissionHelp();

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_ROWS_H_
