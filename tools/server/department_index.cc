#include "tools/server/department_index.h"

#include <algorithm>

#include "tools/server/xml_writer.h"

namespace docsec::server {

void DepartmentIndex::Load(Transaction& tx) {
  nodes_.clear();
  last_escaped_ = nullptr;
  tx.Query("SELECT id, super_id, name FROM departments ORDER BY id", {}, [&](const SqlRow& row) {
    Node& node = nodes_[row.Int(0)];
    node.parent = row.IsNull(1) ? 0 : row.Int(1);
    node.name = std::string(row.Text(2));
  });
  for (auto& [id, node] : nodes_) {
    auto parent = nodes_.find(node.parent);
    if (parent != nodes_.end()) parent->second.children.push_back(id);
  }
  for (auto& entry : nodes_) {
    std::vector<int64_t>& children = entry.second.children;
    std::sort(children.begin(), children.end());
  }
}

int64_t DepartmentIndex::Parent(int64_t id) const {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? 0 : it->second.parent;
}

bool DepartmentIndex::IsWithin(int64_t id, int64_t root) const {
  // The walk is bounded by the number of departments, so a cycle in stored data cannot hang it.
  for (size_t steps = 0; steps <= nodes_.size(); ++steps) {
    if (id == root) return true;
    auto it = nodes_.find(id);
    if (it == nodes_.end() || it->second.parent == 0) return false;
    id = it->second.parent;
  }
  return false;
}

const std::string& DepartmentIndex::Path(int64_t id) {
  static const std::string kEmpty;
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return kEmpty;
  if (it->second.path_known) return it->second.path;
  // Collect the chain upwards, then fill the paths downwards, so deep trees need no recursion.
  std::vector<int64_t> chain;
  for (int64_t at = id; chain.size() <= nodes_.size();) {
    chain.push_back(at);
    auto node = nodes_.find(at);
    int64_t parent = node->second.parent;
    auto up = nodes_.find(parent);
    if (parent == 0 || up == nodes_.end() || up->second.path_known) break;
    at = parent;
  }
  for (auto step = chain.rbegin(); step != chain.rend(); ++step) {
    Node& node = nodes_[*step];
    auto up = nodes_.find(node.parent);
    node.path =
        up != nodes_.end() && up->second.path_known ? up->second.path + "/" + node.name : node.name;
    node.path_known = true;
  }
  return it->second.path;
}

const std::string& DepartmentIndex::EscapedPath(int64_t id) {
  static const std::string kEmpty;
  if (last_escaped_ != nullptr && id == last_escaped_id_) return *last_escaped_;
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return kEmpty;
  Node& node = it->second;
  if (!node.escaped_known) {
    node.escaped_path = XmlWriter::Escaped(Path(id));
    node.escaped_known = true;
  }
  last_escaped_id_ = id;
  last_escaped_ = &node.escaped_path;  // nodes stay where they are until the next Load
  return node.escaped_path;
}

std::string DepartmentIndex::SuperPath(int64_t id) {
  int64_t parent = Parent(id);
  return parent == 0 ? std::string() : Path(parent);
}

int DepartmentIndex::Depth(int64_t id) const {
  int depth = 0;
  // Bounded by the number of departments, so a cycle in stored data cannot hang it.
  for (auto it = nodes_.find(id); it != nodes_.end() && static_cast<size_t>(depth) <= nodes_.size();
       it = nodes_.find(it->second.parent)) {
    ++depth;
  }
  return depth;
}

int DepartmentIndex::Height(int64_t id) const {
  int height = 0;
  std::vector<int64_t> level = {id};
  while (!level.empty() && static_cast<size_t>(height) <= nodes_.size()) {
    ++height;
    std::vector<int64_t> next;
    for (int64_t at : level) {
      const std::vector<int64_t>& children = Children(at);
      next.insert(next.end(), children.begin(), children.end());
    }
    level.swap(next);
  }
  return height;
}

const std::vector<int64_t>& DepartmentIndex::Children(int64_t id) const {
  static const std::vector<int64_t> kNone;
  auto it = nodes_.find(id);
  return it == nodes_.end() ? kNone : it->second.children;
}

std::vector<int64_t> DepartmentIndex::Subtree(int64_t root, int levels) const {
  std::vector<int64_t> result;
  if (!Exists(root)) return result;
  result.push_back(root);
  size_t level_begin = 0;
  for (int level = 1; levels <= 0 || level <= levels; ++level) {
    size_t level_end = result.size();
    for (size_t i = level_begin; i < level_end; ++i) {
      for (int64_t child : Children(result[i])) result.push_back(child);
    }
    if (result.size() == level_end) break;
    level_begin = level_end;
  }
  return result;
}

}  // namespace docsec::server
