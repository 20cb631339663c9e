// Department searches: local ones over the loaded sub-tree, server ones by request.
#include <cstddef>
#include <memory>
#include <type_traits>
#include <typeinfo>

#include "docsec/channel/outcome.h"
#include "docsec/computers/computer.h"
#include "docsec/org/department.h"
#include "docsec/org/internal/department_walk.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

// ---- local searches ----

// The members of `list(d)` that satisfy `conditions`, for the department and, when `recursive`,
// every department below it, in depth-first order. For a virtual search, a child of a class
// derived from CDODepartment answers through its own version (`foreign`); plain departments are
// walked here without recursion, as a hostile answer may nest them deeper than the stack allows.
template <class List, class Foreign>
DataObjectList* SearchTree(CDODepartment* top, ValueMap& conditions, int recursive, List list,
                           Foreign foreign) {
  std::unique_ptr<DataObjectList> found(new DataObjectList);
  auto is_foreign = [top](CDODepartment* d) {
    return !std::is_same<Foreign, std::nullptr_t>::value && d != top &&
           typeid(*d) != typeid(CDODepartment);
  };
  org_internal::WalkDepartments(
      top,
      [&](CDODepartment* department) {
        if constexpr (!std::is_same<Foreign, std::nullptr_t>::value) {
          if (is_foreign(department)) {
            DataObjectList* theirs = foreign(department);
            if (theirs != nullptr) {
              for (CDataObject* member : *theirs) found->Add(member);
              ShallowDelete(theirs);
            }
            return false;
          }
        }
        if (DataObjectList* members = list(department)) {
          for (CDataObject* member : *members) {
            if (member != nullptr && member->CheckSearchConditions(&conditions)) {
              found->Add(member);
            }
          }
        }
        return false;
      },
      [&](CDODepartment* department) { return recursive != 0 && !is_foreign(department); });
  return found.release();
}

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

// A flag condition from a tri-state argument: 0 asks nothing, 1 asks for true, any other value
// for false.
void AddFlagCondition(ValueMap& conditions, const char* name, int wanted) {
  if (wanted != 0) conditions.Set(name, Variant(wanted == 1));
}

}  // namespace

DataObjectList* CDODepartment::SearchComputers(const char* name, const char* ip, int approved,
                                               int recursive) {
  ValueMap conditions;
  if (Given(name)) conditions.Set("name", Variant(name));
  if (Given(ip)) conditions.Set("ip", Variant(ip));
  if (approved == 0 || approved == 1) conditions.Set("isApproved", Variant(approved == 1));
  return SearchTree(
      this, conditions, recursive, [](CDODepartment* d) { return d->GetComputers(); },
      [&](CDODepartment* d) { return d->SearchComputers(name, ip, approved, recursive); });
}

DataObjectList* CDODepartment::SearchUsers(const char* id, const char* name, int consoleManager,
                                           int supervisor, int recursive) {
  ValueMap conditions;
  if (Given(id)) conditions.Set("id", Variant(id));
  if (Given(name)) conditions.Set("name", Variant(name));
  AddFlagCondition(conditions, "isConsoleManager", consoleManager);
  AddFlagCondition(conditions, "isSupervisor", supervisor);
  return SearchTree(
      this, conditions, recursive, [](CDODepartment* d) { return d->GetUsers(); },
      [&](CDODepartment* d) {
        return d->SearchUsers(id, name, consoleManager, supervisor, recursive);
      });
}

DataObjectList* CDODepartment::SearchPositions(const char* positionName, int recursive) {
  ValueMap conditions;
  if (Given(positionName)) conditions.Set("positionName", Variant(positionName));
  // Not a virtual search: every department below is searched here, whatever its class.
  return SearchTree(
      this, conditions, recursive, [](CDODepartment* d) { return d->GetPositons(); }, nullptr);
}

// ---- server searches ----

namespace {

// The department's key element, asking for the sub-tree when `withSubDepartments` is set; null
// when it cannot be made.
XmlElement AppendSearchKey(CDODepartment* department, XmlElement& root, int withSubDepartments) {
  XmlElement key = department->AssemblyXmlKeyNode(root);
  if (key && withSubDepartments) key.SetAttribute("isWithSubDepartments", "true");
  return key;
}

// Appends to `list` a new object of the prototype's class for every child of the answer's root
// with the prototype's tag, in document order.
void ReadAnswerObjects(const XmlDocument& answer, CDataObject* prototype, DataObjectList* list) {
  DataObjectList* loaded = nullptr;
  LoadChildObjects(answer.DocumentElement(), &loaded, prototype, nullptr);
  for (CDataObject* object : *loaded) list->Add(object);
  ShallowDelete(loaded);
}

}  // namespace

DataObjectList* CDODepartment::SearchUsersFromServer(const char* userId, const char*, int flag1,
                                                     int flag2, int flag3) {
  XmlDocument answer = Exchange("SearchUserPosition", [&](XmlElement& root) {
    XmlElement key = AppendSearchKey(this, root, flag1 || flag2 || flag3);
    if (!key) return false;
    if (Given(userId)) key.SetAttribute("userId", userId);
    return true;
  });
  if (!answer) return nullptr;
  auto* list = new DataObjectList;
  ReadAnswerObjects(answer, CDOUser::GetClassInstance(), list);
  return list;
}

DataObjectList* CDODepartment::SearchPositionsFromServer(const char* positionName,
                                                         int withSubDepartments) {
  XmlDocument answer = Exchange("SearchObject", [&](XmlElement& root) {
    if (!AppendSearchKey(this, root, withSubDepartments)) return false;
    XmlElement sample =
        root.AppendElement(CDOPosition::GetClassInstance()->GetObjectXMLTagName().c_str());
    if (Given(positionName)) sample.SetAttribute("positionName", positionName);
    return true;
  });
  if (!answer) return nullptr;
  auto* list = new DataObjectList;
  ReadAnswerObjects(answer, CDOPosition::GetClassInstance(), list);
  return list;
}

DataObjectList* CDODepartment::SearchObjectFromServer(int withSubDepartments, CDataObject* sample) {
  if (sample == nullptr) {
    SetLibraryFailure("SearchObject", "no sample object given");
    return nullptr;
  }
  XmlDocument answer = Exchange("SearchObject", [&](XmlElement& root) {
    if (!AppendSearchKey(this, root, withSubDepartments)) return false;
    sample->AssemblyXmlNode(root);
    return true;
  });
  if (!answer) return nullptr;
  DataObjectList* list = nullptr;
  LoadSubObjectsFromXmlNode(answer.DocumentElement(), &list, sample);
  return list;
}

DataObjectList* CDODepartment::SearchUserAndPositionFromServer(int withSubDepartments,
                                                               const char* name) {
  if (name == nullptr) {
    SetLibraryFailure("SearchObject", "no name given");
    return nullptr;
  }
  XmlDocument answer = Exchange("SearchObject", [&](XmlElement& root) {
    if (!AppendSearchKey(this, root, withSubDepartments)) return false;
    CDOUser user;
    user.SetName(name);
    user.AssemblyXmlNode(root);
    CDOPosition position;
    position.SetPositionName(name);
    position.AssemblyXmlNode(root);
    return true;
  });
  if (!answer) return nullptr;
  auto* list = new DataObjectList;
  ReadAnswerObjects(answer, CDOPosition::GetClassInstance(), list);
  ReadAnswerObjects(answer, CDOUser::GetClassInstance(), list);
  return list;
}

}  // namespace docsec
