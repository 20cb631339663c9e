#include "tools/cli/explain.h"

#include <memory>

#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"
#include "docsec/org/department.h"
#include "docsec/policy/auth_file_by_position.h"
#include "docsec/policy/auth_file_by_user.h"
#include "docsec/policy/auth_level_by_position.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/policy.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec::cli {
namespace {

// Paths of remote files reach 767 characters; every other text is shorter.
template <class T>
std::string Text(T* object, int (T::*get)(char*, unsigned long)) {
  if (object == nullptr) return std::string();
  char buffer[1024] = {};
  const int size = (object->*get)(buffer, sizeof buffer);
  return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
}

// Deletes a list the caller owns without its members (they stay their owners').
struct ShallowList {
  void operator()(DataObjectList* list) const { ShallowDelete(list); }
};
using ListPtr = std::unique_ptr<DataObjectList, ShallowList>;

std::string DepartmentPath(CDODepartment* tree, long id, const std::string& fallback) {
  CDODepartment* found = tree != nullptr ? tree->FindDepartmentById(id) : nullptr;
  return found != nullptr ? Text(found, &CDODepartment::GetFullPath) : fallback;
}

std::string LevelName(long id) {
  if (id == -1) return std::string();
  return Text(CDOSecretLevel::GetInstanceById(id), &CDOSecretLevel::GetName);
}

// The user's positions, as the server lists its appointments; owned by the user.
bool LoadPositions(CDOUser* user, CDODepartment* tree, std::vector<CDOPosition*>* positions,
                   std::vector<HeldPosition>* held, std::string* error) {
  DataObjectList* appointments = user->GetAppointments();
  if (appointments == nullptr) {
    *error = "the server did not give the user's positions";
    return false;
  }
  for (CDataObject* object : *appointments) {
    auto* position = static_cast<CDOPosition*>(object);
    positions->push_back(position);
    held->push_back({Text(position, &CDOPosition::GetPositionName),
                     DepartmentPath(tree, position->GetDepartmentId(),
                                    Text(position, &CDOPosition::GetDepartmentPath))});
  }
  return true;
}

// The valid entries of `holder` (a policy or a file) that name `user` or one of `positions`, as
// copies of `base`: the user's first, then the positions', each in list order.
template <class UserEntry, class PositionEntry, class Holder>
void MatchingGrants(Holder* holder, CDOUser* user, const std::vector<CDOPosition*>& positions,
                    const Grant& base, CDODepartment* tree, std::vector<Grant>* grants) {
  if (ListPtr users{holder->GetValidAuthByUser()}) {
    for (CDataObject* object : *users) {
      auto* entry = static_cast<UserEntry*>(object);
      if (!entry->IsAuthorizedTo(user)) continue;
      Grant grant = base;
      grant.through = Grant::Through::kUser;
      grant.permission = entry->GetPermission();
      grants->push_back(grant);
    }
  }
  if (ListPtr entries{holder->GetValidAuthByPosition()}) {
    for (CDataObject* object : *entries) {
      auto* entry = static_cast<PositionEntry*>(object);
      for (CDOPosition* position : positions) {
        if (!entry->IsAuthorizedTo(position)) continue;
        Grant grant = base;
        grant.through = Grant::Through::kPosition;
        grant.position_name = Text(position, &CDOPosition::GetPositionName);
        grant.position_department_path = DepartmentPath(
            tree, position->GetDepartmentId(), Text(entry, &PositionEntry::GetPositionDeptName));
        grant.permission = entry->GetPermission();
        grants->push_back(grant);
        break;  // one entry names one position (department and name)
      }
    }
  }
}

// The grants of `policy` that name `user` or one of `positions`.
void PolicyGrants(CDOPolicy* policy, CDOUser* user, const std::vector<CDOPosition*>& positions,
                  const std::string& department_path, CDODepartment* tree,
                  std::vector<Grant>* grants) {
  Grant base;
  base.from = Grant::From::kPolicy;
  base.department_id = policy->GetOwnerDeptId();
  base.department_path = department_path;
  base.level_id = policy->GetSecretLevelId();
  base.level_name = LevelName(base.level_id);
  MatchingGrants<CDOAuthLevelByUser, CDOAuthLevelByPosition>(policy, user, positions, base, tree,
                                                             grants);
}

// Every grant to the user or the positions in `department`'s policies, level by level in
// catalogue order. False when the policies or the catalogue cannot be read.
bool DepartmentGrants(CDODepartment* department, CDOUser* user,
                      const std::vector<CDOPosition*>& positions, CDODepartment* tree,
                      std::vector<LevelRights>* levels) {
  DataObjectList* catalogue = CDOSecretLevel::GetAllInstance();
  if (catalogue == nullptr || !department->RefreshPolicies()) return false;
  const std::string path = Text(department, &CDODepartment::GetFullPath);
  for (CDataObject* object : *catalogue) {
    // GetPolicy gives an empty new policy for a level without one: it grants nothing, and the
    // department's ApplyPolicy does not send it.
    CDOPolicy* policy = department->GetPolicy(static_cast<CDOSecretLevel*>(object));
    if (policy == nullptr) continue;
    LevelRights rights;
    PolicyGrants(policy, user, positions, path, tree, &rights.grants);
    if (rights.grants.empty()) continue;
    rights.level_id = policy->GetSecretLevelId();
    rights.level_name = LevelName(rights.level_id);
    for (const Grant& grant : rights.grants) rights.permission |= grant.permission;
    levels->push_back(std::move(rights));
  }
  return true;
}

bool Begin(CDOUser* user, CDODepartment* department, CDODepartment* tree, Explanation* out,
           std::vector<CDOPosition*>* positions, std::string* error) {
  *out = Explanation();
  out->user_id = Text(user, &CDOUser::GetId);
  out->user_name = Text(user, &CDOUser::GetName);
  out->user_department_path = Text(user, &CDOUser::GetDepartmentPath);
  out->department_id = department->GetId();
  out->department_path = Text(department, &CDODepartment::GetFullPath);
  if (!LoadPositions(user, tree, positions, &out->positions, error)) return false;
  if (!DepartmentGrants(department, user, *positions, tree, &out->levels)) {
    *error = "the server did not give the policies of " + out->department_path;
    return false;
  }
  // The departments above: their grants are shown as not reaching this department.
  for (CDODepartment* above = department->GetOwnerDepartment(); above != nullptr;
       above = above->GetOwnerDepartment()) {
    std::vector<LevelRights> levels;
    if (!DepartmentGrants(above, user, *positions, tree, &levels)) continue;
    for (LevelRights& rights : levels) {
      for (Grant& grant : rights.grants) out->not_inherited.push_back(std::move(grant));
    }
  }
  return true;
}

}  // namespace

bool ExplainDepartment(CDOUser* user, CDODepartment* department, Explanation* out,
                       std::string* error) {
  std::vector<CDOPosition*> positions;
  CDODepartment* tree = department;
  while (tree->GetOwnerDepartment() != nullptr) tree = tree->GetOwnerDepartment();
  return Begin(user, department, tree, out, &positions, error);
}

bool ExplainFile(CDOUser* user, CDOAgentFile* file, CDODepartment* tree, Explanation* out,
                 std::string* error) {
  CDODepartment* governing = file->GetOwnerDepartment();
  // An encrypted file that records no department is governed by its computer's, as the server
  // files its authorizations.
  if (governing == nullptr && file->GetDepartmentId() <= 0 && file->GetOwnerComputer()) {
    governing = file->GetOwnerComputer()->GetOwnerDepartment();
  }
  if (governing == nullptr) {
    *error = "no department governs the file (its department is unknown to the server)";
    return false;
  }
  if (CDODepartment* in_tree = tree->FindDepartmentById(governing->GetId())) governing = in_tree;
  std::vector<CDOPosition*> positions;
  if (!Begin(user, governing, tree, out, &positions, error)) return false;
  out->has_file = true;
  FileRights& rights = out->file;
  rights.computer = Text(file->GetOwnerComputer(), &CDOComputer::GetName);
  rights.path = Text(file, &CDOAgentFile::GetFullPath);
  rights.encrypted = file->GetIsEncrypted();
  rights.level_id = rights.encrypted ? file->GetSecretLevelId() : -1;
  rights.level_name = LevelName(rights.level_id);
  rights.department_id = out->department_id;
  rights.department_path = out->department_path;
  for (const LevelRights& level : out->levels) {
    if (level.level_id == rights.level_id) rights.permission |= level.permission;
  }
  // Authorizations name a file by the GUID its encryption gave it: a plain file has none.
  if (!rights.encrypted) return true;
  if (!file->QueryAuthorization()) {
    *error = "the server did not give the file's authorizations";
    return false;
  }
  Grant base;
  base.from = Grant::From::kFile;
  base.department_id = rights.department_id;
  base.department_path = rights.department_path;
  base.level_id = rights.level_id;
  base.level_name = rights.level_name;
  MatchingGrants<CDOAuthFileByUser, CDOAuthFileByPosition>(file, user, positions, base, tree,
                                                           &rights.file_grants);
  for (const Grant& grant : rights.file_grants) rights.permission |= grant.permission;
  return true;
}

CDOUser* FindUserInTree(CDODepartment* tree, const std::string& id) {
  if (tree == nullptr || id.empty()) return nullptr;
  ListPtr found{tree->SearchUsers(id.c_str(), nullptr, 0, 0, 1)};
  if (!found) return nullptr;
  // The search compares texts as the searches do; take only the exact account.
  for (CDataObject* object : *found) {
    auto* user = static_cast<CDOUser*>(object);
    if (Text(user, &CDOUser::GetId) == id) return user;
  }
  return nullptr;
}

CDOAgentFile* FindRemoteFile(CDOComputer* computer, const std::string& path, std::string* error) {
  std::string normal = path;
  for (char& c : normal) {
    if (c == '/') c = '\\';
  }
  while (!normal.empty() && normal.back() == '\\') normal.pop_back();
  const size_t separator = normal.rfind('\\');
  if (separator == std::string::npos || separator + 1 >= normal.size()) {
    *error = "a file path names a drive and a file, e.g. C:\\docs\\plan.txt";
    return nullptr;
  }
  if (!computer->IsRunningStatusOk()) computer->RefreshConnectionStatus();
  if (!computer->IsRunningStatusOk()) {
    *error = "the agent of the computer does not answer";
    return nullptr;
  }
  CDOAgentFolder* folder = computer->FindFolderByPath(normal.substr(0, separator).c_str());
  if (folder == nullptr) {
    *error = "no folder " + normal.substr(0, separator) + " on the computer";
    return nullptr;
  }
  const std::string name = normal.substr(separator + 1);
  for (CDataObject* object : *folder->GetSubFolderAndFiles()) {
    auto* file = static_cast<CDOAgentFile*>(object);
    if (dynamic_cast<CDOAgentFolder*>(object) == nullptr &&
        Text(file, &CDOAgentFile::GetName) == name) {
      return file;
    }
  }
  *error = "no file " + name + " in " + normal.substr(0, separator);
  return nullptr;
}

}  // namespace docsec::cli
