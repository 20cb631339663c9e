// Departments, the department tree, the searches from a department and IP segments.
#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/server/entity.h"
#include "tools/server/operations.h"

namespace docsec::server {
namespace {

const Entity& kDept = kDepartmentEntity;

// "1 user", "3 users": counts in refusals.
std::string Counted(int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int64_t RequireDepartmentInScope(Context& ctx, pugi::xml_node element) {
  int64_t id = RequireInt(element, "id");
  ctx.RequireScope(id);
  return id;
}

// Checks a department as stored after a change: siblings need names that tell them apart, as the
// server compares names (ignoring ASCII case), or no path can name one of them.
void RequireDistinctName(Context& ctx, int64_t id) {
  std::string name;
  int64_t parent = 0;
  ctx.tx.Query("SELECT name, super_id FROM departments WHERE id = ?", {id}, [&](const SqlRow& row) {
    name = std::string(row.Text(0));
    parent = row.IsNull(1) ? 0 : row.Int(1);
  });
  int64_t sibling = ctx.tx.QueryInt(
      "SELECT id FROM departments WHERE super_id IS ? AND lower(name) = lower(?) AND id <> ?",
      {parent == 0 ? SqlValue() : SqlValue(parent), name, id}, 0);
  if (sibling != 0) {
    std::string where = parent == 0 ? "the top level" : ctx.DepartmentName(parent);
    // The sibling's id too: its name may differ from this one in case only.
    throw RequestError(kAlreadyExists, where + " already has a sub-department named " +
                                           Quoted(name) + ": department " +
                                           std::to_string(sibling));
  }
}

// The deepest department tree the server keeps: deeper ones serve no organisation, and every
// department's path (which answers carry) grows with its depth.
constexpr int kMaxDepartmentDepth = 64;

// Refuses placing `height` levels of departments directly below `parent`.
void RequireDepthBelow(Context& ctx, int64_t parent, int height) {
  int depth = ctx.departments().Depth(parent) + height;
  if (depth > kMaxDepartmentDepth) {
    throw RequestError(kConflict, "below " + ctx.DepartmentName(parent) +
                                      " the department tree would be " + std::to_string(depth) +
                                      " levels deep; at most " +
                                      std::to_string(kMaxDepartmentDepth) + " are kept");
  }
}

void AddDepartment(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "department")) {
    RequireText(element, "name");
    // Only the top department, made by the system, has no superior.
    int64_t parent = RequireInt(element, "superDeptId");
    ctx.RequireScope(parent);
    RequireDepthBelow(ctx, parent, 1);
    int64_t id = InsertRow(ctx, kDept, WritableValues(kDept, element, false));
    RequireDistinctName(ctx, id);
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
        throw RequestError(kBadValue, ctx.DepartmentName(id) + ": " + AttributeOf(element, "name") +
                                          " is empty; a department needs a name");
      }
      if (name != "superDeptId") continue;
      int64_t current = ctx.departments().Parent(id);
      if (value.is_null()) {
        if (current != 0) {
          throw RequestError(kBadValue, ctx.DepartmentName(id) + ": " +
                                            AttributeOf(element, "superDeptId") +
                                            " is empty; only the top department has no superior");
        }
        continue;
      }
      if (current == 0) {
        throw RequestError(kConflict,
                           ctx.DepartmentName(id) + " is the top department and cannot be moved");
      }
      int64_t target = value.as_int();
      ctx.RequireScope(target);
      // Below itself the department would leave the tree as a detached cycle.
      if (ctx.departments().IsWithin(target, id)) {
        throw RequestError(kConflict, ctx.DepartmentName(id) + " cannot move below " +
                                          ctx.DepartmentName(target) + ", which lies within it");
      }
      RequireDepthBelow(ctx, target, ctx.departments().Height(id));
    }
    UpdateRows(ctx, kDept, values, " WHERE id = ?", {id});
    RequireDistinctName(ctx, id);
    ctx.DepartmentsChanged();
  }
}

void DelDepartment(Context& ctx) {
  for (pugi::xml_node element : RequireChildren(ctx, "department")) {
    int64_t id = RequireDepartmentInScope(ctx, element);
    SqlParams key = {id};
    if (ctx.tx.Exists("SELECT 1 FROM departments WHERE id = ? AND is_system_default <> 0", key)) {
      throw RequestError(kSystemDefault,
                         ctx.DepartmentName(id) + " is the top department and cannot be deleted");
    }
    int64_t below = ctx.tx.QueryInt("SELECT COUNT(*) FROM departments WHERE super_id = ?", key, 0);
    int64_t users = ctx.tx.QueryInt(
        "SELECT COUNT(*) FROM users WHERE department_id = ? OR admin_dept = ?", {id, id}, 0);
    int64_t computers =
        ctx.tx.QueryInt("SELECT COUNT(*) FROM computers WHERE department_id = ?", key, 0);
    if (below + users + computers != 0) {
      throw RequestError(kConflict,
                         ctx.DepartmentName(id) + " is not empty: it still has " +
                             Counted(below, "sub-department") + ", " + Counted(users, "user") +
                             " (members or administrators) and " + Counted(computers, "computer"));
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

// The rendered elements of one kind of object in one writer's text, and for each department the
// parts of that text that belong to it. Rows come in storage order, so one department's rows mostly
// follow each other and their parts merge into one: the tree is assembled with one copy per part.
struct RenderedRows {
  struct Part {
    size_t begin;
    size_t end;
  };
  XmlWriter writer;
  std::unordered_map<int64_t, std::vector<Part>> parts;

  void AppendTo(int64_t department, XmlWriter& out) const {
    auto it = parts.find(department);
    if (it == parts.end()) return;
    for (const Part& part : it->second) {
      out.Raw(writer.text().substr(part.begin, part.end - part.begin));
    }
  }
};

// " WHERE ..." limiting `column` to the requested sub-tree; nothing when that is every department,
// so the whole tree costs plain table scans.
std::string TreeClause(Context& ctx, const char* column, int64_t root, int levels,
                       SqlParams* params) {
  if (levels <= 0 && ctx.departments().Parent(root) == 0) return {};
  return SubtreeClause(column, root, levels, params);
}

// What a whole table last rendered to, by entity and form: the next whole-tree answer makes its
// room at once instead of growing (and copying) its way there.
class RenderedSizes {
 public:
  size_t Get(const Entity* entity, bool open) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sizes_.find({entity, open});
    return it == sizes_.end() ? 0 : it->second;
  }
  void Set(const Entity* entity, bool open, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_[{entity, open}] = size;
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<const Entity*, bool>, size_t> sizes_;
};

RenderedSizes& LastWholeTableSizes() {
  static RenderedSizes* sizes = new RenderedSizes;  // never destroyed: no order-of-exit issues
  return *sizes;
}

// Renders the rows of `entity` in the sub-tree, by the department in `department_column`: closed
// elements for children, or (with `open`) start tags only, for departments themselves.
RenderedRows RenderRows(Context& ctx, const Entity& entity, const char* department_column,
                        int64_t root, int levels, const std::vector<std::string_view>* omit,
                        bool open = false) {
  RenderedRows result;
  SqlParams params;
  std::string where = TreeClause(ctx, department_column, root, levels, &params);
  int department_index = entity.ColumnIndex(department_column);
  XmlWriter& out = result.writer;
  const bool whole_table = where.empty();
  // A little over the last size, so that a table grown since still fits.
  if (whole_table) out.Reserve(LastWholeTableSizes().Get(&entity, open) / 16 * 17);
  int64_t last_department = 0;
  std::vector<RenderedRows::Part>* parts = nullptr;  // of last_department
  ctx.tx.Query(entity.SelectSql() + where, params, [&](const SqlRow& row) {
    size_t begin = out.text().size();
    // Users and positions in a tree take their department's path from the tree they hang in
    // (computers have none), so only departments carry theirs ("superDeptPath" is read as it
    // is).
    OpenRowElement(ctx, out, entity, row, omit, open);
    if (open) {
      out.Leave();  // the assembled tree closes it after its children
    } else {
      out.Close();
    }
    int64_t department = row.Int(department_index);
    if (parts == nullptr || department != last_department) {
      parts = &result.parts[department];  // references into the map stay valid as it grows
      last_department = department;
    }
    if (!parts->empty() && parts->back().end == begin) {
      parts->back().end = out.text().size();
    } else {
      parts->push_back({begin, out.text().size()});
    }
  });
  if (whole_table) LastWholeTableSizes().Set(&entity, open, out.text().size());
  return result;
}

// GetDepartmentTreeView and GetDepartmentTreeView1: the requested department with everything
// below it. Sub-departments are always included (down to "deep" levels when that is above 0): a
// console refreshing a department it has never loaded sends no "isWithSubDepartments" yet fills
// its sub-department list from the answer. Computers, positions and users come when their flag is
// "true"; IP segments always, since every refresh replaces them. The "1" form leaves out the
// computers' volatile fields (scan and update state, versions, times). Children appear in the
// order they are stored. Departments carry "superDeptPath"; the objects below them no path of
// their own department, which the reader knows from the tree.
void TreeView(Context& ctx, bool view1) {
  pugi::xml_node element = RequireChild(ctx.document, "department");
  int64_t root = RequireDepartmentInScope(ctx, element);
  int levels =
      static_cast<int>(std::clamp<int64_t>(OptionalInt(element, "deep").value_or(0), -1, 1 << 20));
  static const std::vector<std::string_view> kVolatile = {"status", "agentVersion", "updateStatus",
                                                          "updateTime", "lastLoginTiime"};
  std::vector<RenderedRows> kinds;
  auto render = [&](const Entity& entity, const std::vector<std::string_view>* omit) {
    kinds.push_back(RenderRows(ctx, entity, entity.department_column, root, levels, omit));
  };
  if (FlagSet(element, "isWithComputers")) render(kComputerEntity, view1 ? &kVolatile : nullptr);
  if (FlagSet(element, "isWithPositions")) render(kPositionEntity, nullptr);
  if (FlagSet(element, "isWithUsers")) render(kUserEntity, nullptr);
  render(kIpSegmentEntity, nullptr);
  const RenderedRows starts = RenderRows(ctx, kDept, "id", root, levels, nullptr, true);

  static constexpr std::string_view kEnd = "</department>";
  size_t total =
      ctx.out.text().size() + starts.writer.text().size() + starts.parts.size() * kEnd.size();
  for (const RenderedRows& kind : kinds) total += kind.writer.text().size();
  ctx.out.Reserve(total + 64);  // and the closing of the document

  // Depth first without recursion: a tree of any depth cannot exhaust the stack.
  DepartmentIndex& index = ctx.departments();
  struct Frame {
    int64_t id;
    int level;
    size_t next_child;
  };
  std::vector<Frame> stack = {{root, 0, 0}};
  starts.AppendTo(root, ctx.out);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const std::vector<int64_t>& children = index.Children(frame.id);
    bool descend = levels <= 0 || frame.level < levels;
    if (descend && frame.next_child < children.size()) {
      int64_t child = children[frame.next_child++];
      if (starts.parts.count(child) == 0) continue;
      starts.AppendTo(child, ctx.out);
      stack.push_back({child, frame.level + 1, 0});
      continue;
    }
    for (const RenderedRows& kind : kinds) kind.AppendTo(frame.id, ctx.out);
    ctx.out.Raw(kEnd);
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
      throw RequestError(kBadValue, "cannot search for <" + std::string(tag) +
                                        ">; searches find <user>, <position>, <computer> and <ip>");
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

// The ends come from the attributes `from_name` and `to_name`, which a refusal names.
Range ReadRange(std::string_view from, std::string_view to, const char* from_name,
                const char* to_name) {
  std::optional<uint32_t> from_num = ParseIpv4(from);
  std::optional<uint32_t> to_num = ParseIpv4(to);
  for (auto [text, number, name] :
       {std::make_tuple(from, from_num, from_name), std::make_tuple(to, to_num, to_name)}) {
    if (!number) {
      throw RequestError(kBadValue, std::string(name) + " is not an IPv4 address: " + Quoted(text));
    }
  }
  if (*from_num > *to_num) {
    throw RequestError(kBadValue, "the range " + std::string(from) + " - " + std::string(to) +
                                      " is reversed: " + from_name + " " + std::string(from) +
                                      " is above " + to_name + " " + std::string(to));
  }
  return {std::string(from), std::string(to), *from_num, *to_num};
}

// A range may nest inside another department's range or hold one (the narrower one is the more
// specific place for a computer), but partly overlapping ranges, or the same range in two
// departments, would make the place of a computer ambiguous.
void RequireNoOverlap(Context& ctx, int64_t department, const Range& range, const Range* replaced) {
  // Refused after the query: naming a department reads the tree, a query of its own.
  std::optional<std::pair<int64_t, std::string>> clash;  // the other owner and its range
  bool bound_here = false;
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
            bound_here = true;
            clash = {owner, std::string(row.Text(1)) + " - " + std::string(row.Text(2))};
          }
          return;
        }
        bool nested = (from <= range.from_num && to >= range.to_num) ||
                      (range.from_num <= from && range.to_num >= to);
        if ((same_range || !nested) && !clash) {
          clash = {owner, std::string(row.Text(1)) + " - " + std::string(row.Text(2))};
        }
      });
  if (!clash) return;
  const std::string text = "the range " + range.from + " - " + range.to;
  if (bound_here) {
    throw RequestError(kConflict, text + " is already bound to " + ctx.DepartmentName(department) +
                                      " as " + clash->second);
  }
  throw RequestError(kConflict, text + " overlaps " + clash->second + " of " +
                                    ctx.DepartmentName(clash->first) +
                                    "; ranges of different departments may nest but not overlap");
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
    Range range = ReadRange(RequireText(ip, "ipFrom"), RequireText(ip, "ipTo"), "ipFrom", "ipTo");
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
  for (auto [text, name, alternative] : {std::make_tuple(&old_from, "oldIpFrom", "ipFrom"),
                                         std::make_tuple(&old_to, "oldIpTo", "ipTo")}) {
    if (text->empty()) {
      throw RequestError(kMissingAttribute, "missing " + AttributeOf(ip, name) + " (or \"" +
                                                alternative + "\"): the range to change");
    }
  }
  Range old_range = ReadRange(old_from, old_to, "oldIpFrom", "oldIpTo");
  std::string new_from =
      AttrText(ip, "newIpFrom").empty() ? old_from : std::string(AttrText(ip, "newIpFrom"));
  std::string new_to =
      AttrText(ip, "newIpTo").empty() ? old_to : std::string(AttrText(ip, "newIpTo"));
  Range range = ReadRange(new_from, new_to, "newIpFrom", "newIpTo");
  if (!ctx.tx.Exists(
          "SELECT 1 FROM ip_segments WHERE department_id = ? AND ip_from = ? AND ip_to = ?",
          {id, old_from, old_to})) {
    throw RequestError(kNotFound,
                       ctx.DepartmentName(id) + " has no range " + old_from + " - " + old_to);
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
