// The catalogue of operations the server answers: each name with its handler, whether it writes,
// and whether it needs a session (all but the two logins). The handlers live in the ops_*.cc
// files, one per area, each adding its entries through its Add...Operations function.
//
// Thread safety: the catalogue is built once and then only read.
#ifndef DOCSEC_TOOLS_SERVER_OPERATIONS_H_
#define DOCSEC_TOOLS_SERVER_OPERATIONS_H_

#include <string_view>
#include <vector>

#include "tools/server/request_context.h"

namespace docsec::server {

using OperationHandler = void (*)(Context& ctx);

struct Operation {
  const char* name;
  OperationHandler handler;
  Storage::Access access;
  bool needs_session = true;
  // The attribute of a "user" element holding a password to check against the account's, and
  // the one holding a new password to hash: both done before the transaction (PreparePasswords).
  const char* verifies = nullptr;
  const char* sets = nullptr;
};

// The operation named `name`, or null.
const Operation* FindOperation(std::string_view name);
// The names of every operation of the catalogue, sorted.
std::vector<std::string_view> OperationNames();

void AddOrgOperations(std::vector<Operation>* operations);
void AddComputerOperations(std::vector<Operation>* operations);
void AddUserOperations(std::vector<Operation>* operations);
void AddPolicyOperations(std::vector<Operation>* operations);
void AddLogOperations(std::vector<Operation>* operations);

// The hashing `operation` needs, done with no transaction open: the passwords it checks against
// the stored hashes (each read in a short transaction of its own) and the new passwords it
// stores. A request without a session gets this for its first "user" element only, and not for
// an account the limiter holds.
void PreparePasswords(const Operation& operation, pugi::xml_node root, Storage& storage,
                      const ServerOptions& options, LoginLimiter& limiter,
                      const std::string& source, PasswordWork* work);

// Shared by the area files: the children of the request root named `tag`, at least one.
std::vector<pugi::xml_node> RequireChildren(Context& ctx, const char* tag);
// " WHERE ..." restricting `column` to `root` and the departments below it (any depth when
// `levels` <= 0, else that many levels), with its parameters appended to `params`. The clause is
// a sub-query over the departments table, so it works for every table with a department column.
std::string SubtreeClause(const char* column, int64_t root, int levels, SqlParams* params);

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_OPERATIONS_H_
