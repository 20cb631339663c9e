#include "tools/server/operations.h"

#include <algorithm>
#include <unordered_map>

namespace docsec::server {

namespace {

const std::unordered_map<std::string_view, const Operation*>& OperationsByName() {
  static const auto* const kByName = [] {
    static std::vector<Operation> all;
    AddOrgOperations(&all);
    AddComputerOperations(&all);
    AddUserOperations(&all);
    AddPolicyOperations(&all);
    AddLogOperations(&all);
    auto* by_name = new std::unordered_map<std::string_view, const Operation*>();
    for (const Operation& operation : all) by_name->emplace(operation.name, &operation);
    return by_name;
  }();
  return *kByName;
}

}  // namespace

const Operation* FindOperation(std::string_view name) {
  const auto& by_name = OperationsByName();
  auto it = by_name.find(name);
  return it == by_name.end() ? nullptr : it->second;
}

std::vector<std::string_view> OperationNames() {
  std::vector<std::string_view> names;
  for (const auto& [name, operation] : OperationsByName()) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<pugi::xml_node> RequireChildren(Context& ctx, const char* tag) {
  std::vector<pugi::xml_node> children;
  for (pugi::xml_node child : ctx.document.children(tag)) children.push_back(child);
  if (children.empty()) {
    throw RequestError(kMissingElement, std::string("missing element <") + tag + "> in <" +
                                            ctx.document.name() + ">");
  }
  return children;
}

std::string SubtreeClause(const char* column, int64_t root, int levels, SqlParams* params) {
  params->push_back(root);
  params->push_back(levels);
  params->push_back(levels);
  return std::string(" WHERE ") + column +
         " IN (WITH RECURSIVE sub(id, level) AS (SELECT ?, 0 UNION ALL"
         " SELECT d.id, sub.level + 1 FROM departments d JOIN sub ON d.super_id = sub.id"
         " WHERE ? <= 0 OR sub.level < ?) SELECT id FROM sub)";
}

}  // namespace docsec::server
