// Departments, the department tree, the searches from a department and IP segments.
#include <algorithm>
#include <unordered_map>

#include "tools/server/entity.h"
#include "tools/server/operations.h"

namespace docsec::server {
namespace {

const Entity& kDept = kDepartmentEntity;

int64_t RequireDepartmentInScope(Context& ctx, pugi::xml_node element) {
  int64_t id = RequireInt(element, "id");
  ctx.RequireScope(id);
  return id;
}

void AddDepartment(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "department")) {
    RequireText(element, "name");
    // Only the top department, made by the system, has no superior.
    ctx.RequireScope(RequireInt(element, "superDeptId"));
    int64_t id = InsertRow(ctx, kDept, WritableValues(kDept, element, false));
    ctx.DepartmentsChanged();
    WriteRows(ctx, kDept, " WHERE id = ?", {id});
  }
}

void UpdateDepartment(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "department")) {
    int64_t id = RequireDepartmentInScope(ctx, element);
    FieldValues values = WritableValues(kDept, element, false);
    for (const auto& [field, value] : values) {
      std::string_view name = field->xml;
      if (name == "name" && (value.is_null() || value.as_text().empty())) {
        throw RequestError(kBadValue, "a department needs a name");
      }
      if (name != "superDeptId") continue;
      int64_t current = ctx.departments().Parent(id);
      if (value.is_null()) {
        if (current != 0) throw RequestError(kBadValue, "superDeptId is empty");
        continue;
      }
      if (current == 0) {
        throw RequestError(kConflict, "the top department cannot be moved");
      }
      int64_t target = value.as_int();
      ctx.RequireScope(target);
      // Below itself the department would leave the tree as a detached cycle.
      if (ctx.departments().IsWithin(target, id)) {
        throw RequestError(kConflict, "a department cannot move below itself");
      }
    }
    UpdateRows(ctx, kDept, values, " WHERE id = ?", {id});
    ctx.DepartmentsChanged();
  }
}

void DelDepartment(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "department")) {
    int64_t id = RequireDepartmentInScope(ctx, element);
    SqlParams key = {id};
    if (ctx.tx.Exists("SELECT 1 FROM departments WHERE id = ? AND is_system_default <> 0", key)) {
      throw RequestError(kSystemDefault, "the top department cannot be deleted");
    }
    if (ctx.tx.Exists("SELECT 1 FROM departments WHERE super_id = ?", key) ||
        ctx.tx.Exists("SELECT 1 FROM users WHERE department_id = ? OR admin_dept = ?", {id, id}) ||
        ctx.tx.Exists("SELECT 1 FROM computers WHERE department_id = ?", key)) {
      throw RequestError(kConflict, "department " + std::to_string(id) +
                                        " still has sub-departments, users or computers");
    }
    ctx.tx.Execute("DELETE FROM departments WHERE id = ?", key);
    ctx.DepartmentsChanged();
  }
}

void QueryDepartment(Context& ctx) {
  std::string where;
  SqlParams params;
  AppendConditions(kDept, ctx.document.child("department"), &where, &params);
  WriteRows(ctx, kDept, where, params, [&](const SqlRow& row) { return ctx.InScope(row.Int(0)); });
}

// The rendered elements of one kind of child, by department.
using ChildElements = std::unordered_map<int64_t, std::string>;

// " WHERE ..." limiting `column` to the requested sub-tree; nothing when that is every department,
// so the whole tree costs plain table scans.
std::string TreeClause(Context& ctx, const char* column, int64_t root, int levels,
                       SqlParams* params) {
  if (levels <= 0 && ctx.departments().Parent(root) == 0) return {};
  return SubtreeClause(column, root, levels, params);
}

ChildElements RenderChildren(Context& ctx, const Entity& entity, int64_t root, int levels,
                             const std::vector<std::string_view>* omit) {
  ChildElements result;
  SqlParams params;
  std::string where = TreeClause(ctx, entity.department_column, root, levels, &params);
  int department_column = entity.ColumnIndex(entity.department_column);
  XmlWriter out;
  ctx.tx.Query(entity.SelectSql() + where, params, [&](const SqlRow& row) {
    out.Clear();
    OpenRowElement(ctx, out, entity, row, omit);
    out.Close();
    result[row.Int(department_column)] += out.text();
  });
  return result;
}

// GetDepartmentTreeView and GetDepartmentTreeView1: the requested department with everything
// below it. Sub-departments are always included (down to "deep" levels when that is above 0): a
// console refreshing a department it has never loaded sends no "isWithSubDepartments" yet fills
// its sub-department list from the answer. Computers, positions and users come when their flag is
// "true"; IP segments always, since every refresh replaces them. The "1" form leaves out the
// computers' volatile fields (scan and update state, versions, times). Children appear in the
// order they are stored.
void TreeView(Context& ctx, bool view1) {
  pugi::xml_node element = RequireChild(ctx.document, "department");
  int64_t root = RequireDepartmentInScope(ctx, element);
  int levels =
      static_cast<int>(std::clamp<int64_t>(OptionalInt(element, "deep").value_or(0), -1, 1 << 20));
  static const std::vector<std::string_view> kVolatile = {"status", "agentVersion", "updateStatus",
                                                          "updateTime", "lastLoginTiime"};
  std::vector<ChildElements> kinds;
  if (FlagSet(element, "isWithComputers")) {
    kinds.push_back(
        RenderChildren(ctx, kComputerEntity, root, levels, view1 ? &kVolatile : nullptr));
  }
  if (FlagSet(element, "isWithPositions")) {
    kinds.push_back(RenderChildren(ctx, kPositionEntity, root, levels, nullptr));
  }
  if (FlagSet(element, "isWithUsers")) {
    kinds.push_back(RenderChildren(ctx, kUserEntity, root, levels, nullptr));
  }
  kinds.push_back(RenderChildren(ctx, kIpSegmentEntity, root, levels, nullptr));

  std::unordered_map<int64_t, std::string> starts;
  {
    SqlParams params;
    std::string where = TreeClause(ctx, "id", root, levels, &params);
    XmlWriter out;
    ctx.tx.Query(kDept.SelectSql() + where, params, [&](const SqlRow& row) {
      out.Clear();
      OpenRowElement(ctx, out, kDept, row);
      out.Raw("");
      starts[row.Int(0)] = out.text();
    });
  }
  // Depth first without recursion: a tree of any depth cannot exhaust the stack.
  DepartmentIndex& index = ctx.departments();
  struct Frame {
    int64_t id;
    int level;
    size_t next_child;
  };
  std::vector<Frame> stack = {{root, 0, 0}};
  ctx.out.Raw(starts[root]);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const std::vector<int64_t>& children = index.Children(frame.id);
    bool descend = levels <= 0 || frame.level < levels;
    if (descend && frame.next_child < children.size()) {
      int64_t child = children[frame.next_child++];
      auto start = starts.find(child);
      if (start == starts.end()) continue;
      ctx.out.Raw(start->second);
      stack.push_back({child, frame.level + 1, 0});
      continue;
    }
    for (const ChildElements& kind : kinds) {
      auto it = kind.find(frame.id);
      if (it != kind.end()) ctx.out.Raw(it->second);
    }
    ctx.out.Raw("</department>");
    stack.pop_back();
  }
}

void GetDepartmentTreeView(Context& ctx) { TreeView(ctx, false); }
void GetDepartmentTreeView1(Context& ctx) { TreeView(ctx, true); }

// The department a search starts from, and whether it reaches the departments below.
struct SearchScope {
  int64_t root;
  bool with_sub_departments;
};

SearchScope SearchFrom(Context& ctx) {
  pugi::xml_node element = RequireChild(ctx.document, "department");
  int64_t root = RequireDepartmentInScope(ctx, element);
  return {root, FlagSet(element, "isWithSubDepartments")};
}

std::string SearchClause(const Entity& entity, const SearchScope& scope, SqlParams* params) {
  if (!scope.with_sub_departments) {
    params->push_back(scope.root);
    return std::string(" WHERE ") + entity.department_column + " = ?";
  }
  return SubtreeClause(entity.department_column, scope.root, 0, params);
}

// SearchUserPosition: users of the department (and its sub-tree when asked) whose account
// contains "userId".
void SearchUserPosition(Context& ctx) {
  SearchScope scope = SearchFrom(ctx);
  SqlParams params;
  std::string where = SearchClause(kUserEntity, scope, &params);
  std::string_view user_id = AttrText(ctx.document.child("department"), "userId");
  if (!user_id.empty()) {
    where += " AND lower(id) LIKE ? ESCAPE '\\'";
    params.push_back(LikeContaining(user_id));
  }
  WriteRows(ctx, kUserEntity, where, params);
}

// SearchObject: for every sample element after the department, the objects of the sample's kind
// in the department (and its sub-tree when asked) that match the sample's attributes.
void SearchObject(Context& ctx) {
  SearchScope scope = SearchFrom(ctx);
  static const Entity* const kSearchable[] = {&kUserEntity, &kPositionEntity, &kComputerEntity,
                                              &kIpSegmentEntity};
  for (pugi::xml_node sample : ctx.document.children()) {
    if (sample.type() != pugi::node_element) continue;
    std::string_view tag = sample.name();
    if (tag == "service" || tag == "department") continue;
    const Entity* entity = nullptr;
    for (const Entity* candidate : kSearchable) {
      if (tag == candidate->tag) entity = candidate;
    }
    if (entity == nullptr) {
      throw RequestError(kBadValue, "cannot search for " + std::string(tag));
    }
    SqlParams params;
    std::string where = SearchClause(*entity, scope, &params);
    std::string conditions;
    AppendConditions(*entity, sample, &conditions, &params);
    if (!conditions.empty()) where += " AND " + conditions.substr(7);  // drop " WHERE "
    WriteRows(ctx, *entity, where, params);
  }
}

// An IP range as the request gives it, checked.
struct Range {
  std::string from;
  std::string to;
  uint32_t from_num;
  uint32_t to_num;
};

Range ReadRange(std::string_view from, std::string_view to) {
  std::optional<uint32_t> from_num = ParseIpv4(from);
  std::optional<uint32_t> to_num = ParseIpv4(to);
  if (!from_num || !to_num || *from_num > *to_num) {
    throw RequestError(kBadValue,
                       "not an IPv4 range: " + std::string(from) + " - " + std::string(to));
  }
  return {std::string(from), std::string(to), *from_num, *to_num};
}

// A range may nest inside another department's range or hold one (the narrower one is the more
// specific place for a computer), but partly overlapping ranges, or the same range in two
// departments, would make the place of a computer ambiguous.
void RequireNoOverlap(Context& ctx, int64_t department, const Range& range, const Range* replaced) {
  ctx.tx.Query(
      "SELECT department_id, ip_from, ip_to, from_num, to_num FROM ip_segments"
      " WHERE from_num <= ? AND to_num >= ?",
      {int64_t{range.to_num}, int64_t{range.from_num}}, [&](const SqlRow& row) {
        int64_t owner = row.Int(0);
        int64_t from = row.Int(3);
        int64_t to = row.Int(4);
        bool same_range = from == range.from_num && to == range.to_num;
        if (owner == department) {
          bool is_replaced =
              replaced != nullptr && row.Text(1) == replaced->from && row.Text(2) == replaced->to;
          if (same_range && !is_replaced && row.Text(1) != range.from) {
            throw RequestError(kConflict, "the range is already bound to this department");
          }
          return;
        }
        bool nested = (from <= range.from_num && to >= range.to_num) ||
                      (range.from_num <= from && range.to_num >= to);
        if (same_range || !nested) {
          throw RequestError(kConflict, "the range " + range.from + " - " + range.to +
                                            " overlaps one of department " + std::to_string(owner));
        }
      });
}

// With "isDelSubDeptIpSegment" true, the ranges of every department below go, so the
// department's ranges alone cover its sub-tree.
void ClearBelowWhenAsked(Context& ctx, pugi::xml_node department, int64_t id) {
  if (!FlagSet(department, "isDelSubDeptIpSegment")) return;
  SqlParams params;
  std::string where = SubtreeClause("department_id", id, 0, &params);
  params.push_back(id);
  ctx.tx.Execute("DELETE FROM ip_segments" + where + " AND department_id <> ?", params);
}

void SetIpSegment(Context& ctx) {
  pugi::xml_node department = RequireChild(ctx.document, "department");
  int64_t id = RequireDepartmentInScope(ctx, department);
  ClearBelowWhenAsked(ctx, department, id);
  for (pugi::xml_node ip : department.children("ip")) {
    Range range = ReadRange(RequireText(ip, "ipFrom"), RequireText(ip, "ipTo"));
    RequireNoOverlap(ctx, id, range, nullptr);
    ctx.tx.Execute(
        "INSERT INTO ip_segments(department_id, ip_from, ip_to, from_num, to_num)"
        " VALUES(?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
        {id, range.from, range.to, int64_t{range.from_num}, int64_t{range.to_num}});
  }
}

void DelIpSegment(Context& ctx) {
  pugi::xml_node department = ctx.document.child("department");
  if (!department) {
    // The generic delete of segments: each range wherever it is bound, within the caller's scope.
    for (pugi::xml_node ip : RequireChildren(ctx, "ip")) {
      std::string from = RequireText(ip, "ipFrom");
      std::string to = RequireText(ip, "ipTo");
      std::vector<int64_t> owners;
      ctx.tx.Query("SELECT department_id FROM ip_segments WHERE ip_from = ? AND ip_to = ?",
                   {from, to}, [&](const SqlRow& row) { owners.push_back(row.Int(0)); });
      for (int64_t owner : owners) ctx.RequireScope(owner);
      ctx.tx.Execute("DELETE FROM ip_segments WHERE ip_from = ? AND ip_to = ?", {from, to});
    }
    return;
  }
  int64_t id = RequireDepartmentInScope(ctx, department);
  for (pugi::xml_node ip : department.children("ip")) {
    ctx.tx.Execute("DELETE FROM ip_segments WHERE department_id = ? AND ip_from = ? AND ip_to = ?",
                   {id, RequireText(ip, "ipFrom"), RequireText(ip, "ipTo")});
  }
  ClearBelowWhenAsked(ctx, department, id);
}

// UpdateIpSegment: the range "oldIpFrom"-"oldIpTo" of the department becomes
// "newIpFrom"-"newIpTo"; a missing old or new end is the segment's current one.
void UpdateIpSegment(Context& ctx) {
  pugi::xml_node department = RequireChild(ctx.document, "department");
  int64_t id = RequireDepartmentInScope(ctx, department);
  pugi::xml_node ip = RequireChild(department, "ip");
  auto either = [&](const char* first, const char* second) {
    std::string_view text = AttrText(ip, first);
    return std::string(text.empty() ? AttrText(ip, second) : text);
  };
  std::string old_from = either("oldIpFrom", "ipFrom");
  std::string old_to = either("oldIpTo", "ipTo");
  if (old_from.empty() || old_to.empty()) {
    throw RequestError(kMissingAttribute, "missing attribute oldIpFrom or oldIpTo");
  }
  Range old_range = ReadRange(old_from, old_to);
  std::string new_from =
      AttrText(ip, "newIpFrom").empty() ? old_from : std::string(AttrText(ip, "newIpFrom"));
  std::string new_to =
      AttrText(ip, "newIpTo").empty() ? old_to : std::string(AttrText(ip, "newIpTo"));
  Range range = ReadRange(new_from, new_to);
  if (!ctx.tx.Exists(
          "SELECT 1 FROM ip_segments WHERE department_id = ? AND ip_from = ? AND ip_to = ?",
          {id, old_from, old_to})) {
    throw RequestError(kNotFound, "department " + std::to_string(id) + " has no range " + old_from +
                                      " - " + old_to);
  }
  RequireNoOverlap(ctx, id, range, &old_range);
  ctx.tx.Execute("DELETE FROM ip_segments WHERE department_id = ? AND ip_from = ? AND ip_to = ?",
                 {id, old_from, old_to});
  ctx.tx.Execute(
      "INSERT INTO ip_segments(department_id, ip_from, ip_to, from_num, to_num)"
      " VALUES(?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
      {id, range.from, range.to, int64_t{range.from_num}, int64_t{range.to_num}});
}

void QueryIpSegment(Context& ctx) {
  std::string where;
  SqlParams params;
  AppendConditions(kIpSegmentEntity, ctx.document.child("ip"), &where, &params);
  int column = kIpSegmentEntity.ColumnIndex("department_id");
  WriteRows(ctx, kIpSegmentEntity, where, params,
            [&](const SqlRow& row) { return ctx.InScope(row.Int(column)); });
}

}  // namespace

void AddOrgOperations(std::vector<Operation>* operations) {
  using A = Storage::Access;
  operations->insert(operations->end(),
                     {{"AddDepartment", AddDepartment, A::kWrite},
                      {"UpdateDepartment", UpdateDepartment, A::kWrite},
                      {"DelDepartment", DelDepartment, A::kWrite},
                      {"QueryDepartment", QueryDepartment, A::kRead},
                      {"GetDepartmentTreeView", GetDepartmentTreeView, A::kRead},
                      {"GetDepartmentTreeView1", GetDepartmentTreeView1, A::kRead},
                      {"SearchUserPosition", SearchUserPosition, A::kRead},
                      {"SearchObject", SearchObject, A::kRead},
                      {"SetIpSegment", SetIpSegment, A::kWrite},
                      {"DelIpSegment", DelIpSegment, A::kWrite},
                      {"UpdateIpSegment", UpdateIpSegment, A::kWrite},
                      {"QueryIpSegment", QueryIpSegment, A::kRead}});
}

}  // namespace docsec::server
