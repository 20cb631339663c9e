// Explain: which secret levels and file rights a user holds in a department or on one remote file,
// and why: every authorization that applies, granted to the user directly or to a position the
// user holds, with the policy (department and level) or the file list it comes from.
//
// A department's rights come from its own policies only. A policy binds one department to one
// secret level, and the server stores and applies each department's policies by themselves: a
// policy of a department above does not reach the departments below it. Those grants are still
// reported, apart, as not applying, because "Engineering grants bob level 3, so why can bob not
// open a level-3 file in Platform?" is the question an administrator asks.
//
// Permission words are combined with a bitwise OR: holding a right through any one authorization
// is holding it. A word of 0 grants nothing and is never reported.
//
// The engine works on a tree the caller loaded (CDOUser::GetAdminedRootDeptpartment) and asks the
// server for what the tree does not carry: the department's policies, the user's appointments,
// the file's own authorizations. Thread safety: one thread at a time, like the tree.
#ifndef DOCSEC_TOOLS_CLI_EXPLAIN_H_
#define DOCSEC_TOOLS_CLI_EXPLAIN_H_

#include <string>
#include <vector>

namespace docsec {
class CDOAgentFile;
class CDOComputer;
class CDODepartment;
class CDOUser;
}  // namespace docsec

namespace docsec::cli {

// One authorization naming the user or one of the user's positions.
struct Grant {
  enum class Through { kUser, kPosition };
  enum class From { kPolicy, kFile };
  Through through = Through::kUser;
  From from = From::kPolicy;
  // The policy's department (a file grant: the department governing the file).
  long department_id = -1;
  std::string department_path;
  // The policy's secret level; a file grant carries the file's level (-1: none).
  long level_id = -1;
  std::string level_name;
  // Through a position: its name and the path of its department.
  std::string position_name;
  std::string position_department_path;
  long permission = 0;
};

// The rights at one secret level: the OR of the grants' words, and the grants.
struct LevelRights {
  long level_id = -1;
  std::string level_name;
  long permission = 0;
  std::vector<Grant> grants;
};

struct HeldPosition {
  std::string name;
  std::string department_path;
};

struct FileRights {
  std::string computer;  // the name of the computer holding the file
  std::string path;
  bool encrypted = false;
  long level_id = -1;  // -1: the file carries no level
  std::string level_name;
  // The department whose policies govern the file.
  long department_id = -1;
  std::string department_path;
  // The file's own authorizations that name the user or a position of the user.
  std::vector<Grant> file_grants;
  // OR of the department's grants at the file's level and the file's own grants.
  long permission = 0;
};

struct Explanation {
  std::string user_id;
  std::string user_name;
  std::string user_department_path;
  std::vector<HeldPosition> positions;
  long department_id = -1;
  std::string department_path;
  // The department's own policies, one entry per level that grants the user something, in the
  // order of the level catalogue.
  std::vector<LevelRights> levels;
  // Grants to the user in the policies of departments above, which do not apply here; nearest
  // department first. Departments whose policies the login may not read are left out.
  std::vector<Grant> not_inherited;
  bool has_file = false;
  FileRights file;
};

// Explains `user`'s rights in `department` (both from the caller's tree; `department` may also be
// a detached object with an id). False with a one-line reason in *error when the server does not
// give the policies, the level catalogue or the user's appointments.
bool ExplainDepartment(CDOUser* user, CDODepartment* department, Explanation* out,
                       std::string* error);

// Explains `user`'s rights on `file` (listed through its computer's agent): the department that
// governs the file (its computer's for a plain file, the one recorded in an encrypted file), that
// department's grants at the file's level, and the file's own authorizations. `tree` is searched
// first for the department so that paths read as in the tree. False with a reason in *error.
bool ExplainFile(CDOUser* user, CDOAgentFile* file, CDODepartment* tree, Explanation* out,
                 std::string* error);

// The user with account `id` in the loaded tree, or null.
CDOUser* FindUserInTree(CDODepartment* tree, const std::string& id);

// The file at `path` ("C:\dir\name", "\" or "/" separated) on the computer's agent, or null with
// a reason in *error. The file stays owned by the computer's cached remote tree.
CDOAgentFile* FindRemoteFile(CDOComputer* computer, const std::string& path, std::string* error);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_EXPLAIN_H_
