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

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_ROWS_H_
