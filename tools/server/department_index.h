// DepartmentIndex: the department tree of one request in memory (id, superior, name), for full
// paths, sub-tree walks and the scope check "is this department at or below that one". It is read
// in one query the first time a request needs it; a request that changes departments reloads it.
//
// Thread safety: one index per request; not shared.
#ifndef DOCSEC_TOOLS_SERVER_DEPARTMENT_INDEX_H_
#define DOCSEC_TOOLS_SERVER_DEPARTMENT_INDEX_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/server/storage.h"

namespace docsec::server {

class DepartmentIndex {
 public:
  void Load(Transaction& tx);

  bool Exists(int64_t id) const { return nodes_.count(id) != 0; }
  // The superior's id, or 0 for a root or an unknown department.
  int64_t Parent(int64_t id) const;
  // True when `id` is `root` or lies below it.
  bool IsWithin(int64_t id, int64_t root) const;
  // The names from the top down to `id`, joined by "/"; "" for an unknown department.
  const std::string& Path(int64_t id);
  // Path(id) escaped for an attribute value, made once per department: every object of a
  // department carries its path in a tree view.
  const std::string& EscapedPath(int64_t id);
  // The path of the superior; "" for a root.
  std::string SuperPath(int64_t id);
  // The levels from the top down to `id` (1 for a top department); 0 for an unknown one.
  int Depth(int64_t id) const;
  // The levels of the sub-tree below `id`, `id` itself counted (1 for a leaf).
  int Height(int64_t id) const;
  // Direct sub-departments in id order.
  const std::vector<int64_t>& Children(int64_t id) const;
  // `root` and the departments below it down to `levels` levels (any depth when levels <= 0),
  // parents before children.
  std::vector<int64_t> Subtree(int64_t root, int levels) const;

 private:
  struct Node {
    int64_t parent = 0;
    std::string name;
    std::vector<int64_t> children;
    std::string path;
    bool path_known = false;
    std::string escaped_path;
    bool escaped_known = false;
  };
  std::unordered_map<int64_t, Node> nodes_;
  // The last EscapedPath asked for: the objects of one department mostly come one after another.
  int64_t last_escaped_id_ = 0;
  const std::string* last_escaped_ = nullptr;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_DEPARTMENT_INDEX_H_
