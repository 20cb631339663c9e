#include "docsec/org/department.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "docsec/channel/outcome.h"
#include "docsec/computers/computer.h"
#include "docsec/core/internal/object_arena.h"
#include "docsec/core/internal/verb_failure.h"
#include "docsec/org/internal/department_walk.h"
#include "docsec/org/ip_segment.h"
#include "docsec/platform/text.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {

using org_internal::WalkDepartments;

DOCSEC_DEFINE_DATA_OBJECT(CDODepartment, kObjectTypeDepartment, "Department", "department",
                          s_clsDepartment)

namespace {

// The XML tag of a class, read once from its shared instance.
template <class T>
const std::string& TagOf() {
  static const std::string tag = T::GetClassInstance()->GetObjectXMLTagName();
  return tag;
}

// True when `tag` is `wanted`. The five tags of a department's children differ in their first
// letter, which settles most comparisons.
inline bool Is(const std::string& wanted, const char* tag) {
  return wanted[0] == tag[0] && wanted == tag;
}

// Creates a T, appends it to `list` (which then owns it), loads it from `element` and links it to
// `owner`.
template <class T>
T* LoadMember(DataObjectList* list, const XmlElement& element, CDODepartment* owner) {
  T* member = new T;
  list->Add(member);
  member->LoadFromXmlNode(element);
  member->SetOwnerDepartment(owner);
  return member;
}

}  // namespace

CDODepartment::~CDODepartment() {
  // Deleting a child department inside this destructor would recurse once per level, and a tree
  // from a hostile answer can be deeper than the stack. So the sub-tree is taken apart level by
  // level: each department loses its children to `pending` before it is deleted, and its own
  // destructor then finds nothing below it.
  std::vector<CDataObject*> pending;
  auto take_children = [&pending](CDODepartment* department) {
    DataObjectList* children = department->departments_.get();
    if (children == nullptr) return;
    pending.insert(pending.end(), children->begin(), children->end());
    children->RemoveAll();
  };
  take_children(this);
  while (!pending.empty()) {
    CDataObject* next = pending.back();
    pending.pop_back();
    if (auto* department = dynamic_cast<CDODepartment*>(next)) take_children(department);
    delete next;
  }
}

CDODepartment* CDODepartment::GetOwnerDepartment() { return owner_; }
void CDODepartment::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

int CDODepartment::LoadFromXmlNode(const XmlElement& element) {
  if (!element) return 0;
  // One pass over each element's children, dispatching by tag, fills the five lists that were
  // absent (a list present before the load keeps its members and its tag's children are ignored).
  // Child departments are queued rather than loaded through a recursive call: an answer may nest
  // them deeper than the stack allows. Each of them is a plain CDODepartment made here, so
  // loading it in this loop is what its own LoadFromXmlNode would do.
  const std::string& department_tag = TagOf<CDODepartment>();
  const std::string& computer_tag = TagOf<CDOComputer>();
  const std::string& position_tag = TagOf<CDOPosition>();
  const std::string& user_tag = TagOf<CDOUser>();
  const std::string& segment_tag = TagOf<CDOIpSegment>();
  // The objects of one answer share an arena (their tags, and the shared instances that give
  // them, are settled above, outside it).
  core_internal::LoadArenaScope arena;
  std::vector<std::pair<CDODepartment*, XmlElement>> pending;
  CDODepartment* department = this;
  XmlElement current = element;
  for (;;) {
    DataObjectList* departments =
        department->departments_ ? nullptr : department->departments_.Ensure();
    DataObjectList* computers = department->computers_ ? nullptr : department->computers_.Ensure();
    DataObjectList* positions = department->positions_ ? nullptr : department->positions_.Ensure();
    DataObjectList* users = department->users_ ? nullptr : department->users_.Ensure();
    DataObjectList* segments = department->segments_ ? nullptr : department->segments_.Ensure();
    const size_t first_queued = pending.size();
    for (XmlElement child = current.SelectChild(nullptr); child;
         child.AdvanceToNextSibling(nullptr)) {
      const char* tag = child.Name();
      if (users != nullptr && Is(user_tag, tag)) {
        LoadMember<CDOUser>(users, child, department);
      } else if (computers != nullptr && Is(computer_tag, tag)) {
        LoadMember<CDOComputer>(computers, child, department);
      } else if (positions != nullptr && Is(position_tag, tag)) {
        LoadMember<CDOPosition>(positions, child, department);
      } else if (segments != nullptr && Is(segment_tag, tag)) {
        LoadMember<CDOIpSegment>(segments, child, department);
      } else if (departments != nullptr && Is(department_tag, tag)) {
        auto* sub = new CDODepartment;
        departments->Add(sub);
        sub->owner_ = department;
        pending.emplace_back(sub, child);
      }
    }
    department->CDataObject::LoadFromXmlNode(current);
    // The children just queued are taken first and in document order, so the tree is loaded
    // depth first as a recursive load would do it.
    std::reverse(pending.begin() + first_queued, pending.end());
    if (pending.empty()) break;
    department = pending.back().first;
    current = std::move(pending.back().second);
    pending.pop_back();
  }
  return 1;
}

// ---- tree refresh ----

int CDODepartment::RefreshTree(int withSubDepartments, int withComputers, int withPositions,
                               int withUsers, int useView1, const int* deep) {
  XmlDocument answer = Exchange(useView1 ? "GetDepartmentTreeView1" : "GetDepartmentTreeView",
                                [&](XmlElement& root) {
                                  XmlElement key = AssemblyXmlKeyNode(root);
                                  if (!key) return false;
                                  // A flagged list is dropped before sending so that the answer
                                  // refills it; sub-departments are asked for only when they had
                                  // been loaded before.
                                  if (withSubDepartments && departments_) {
                                    key.SetAttribute("isWithSubDepartments", "true");
                                    departments_.Reset();
                                  }
                                  if (withComputers) {
                                    key.SetAttribute("isWithComputers", "true");
                                    computers_.Reset();
                                  }
                                  if (withPositions) {
                                    key.SetAttribute("isWithPositions", "true");
                                    positions_.Reset();
                                  }
                                  if (withUsers) {
                                    key.SetAttribute("isWithUsers", "true");
                                    users_.Reset();
                                  }
                                  segments_.Reset();
                                  if (deep != nullptr)
                                    key.SetAttribute("deep", static_cast<long long>(*deep));
                                  return true;
                                });
  if (!answer) return 0;
  XmlElement mine = answer.DocumentElement().SelectChild(GetObjectXMLTagName().c_str());
  return mine ? LoadFromXmlNode(mine) : core_internal::NotInAnswer(this);
}

int CDODepartment::RefreshSubObjects(int withSubDepartments, int withComputers, int withPositions,
                                     int withUsers, int useView1) {
  return RefreshTree(withSubDepartments, withComputers, withPositions, withUsers, useView1,
                     nullptr);
}

int CDODepartment::RefreshSubObjectsEx(int withSubDepartments, int withComputers, int withPositions,
                                       int withUsers, int useView1, int deep) {
  if (refresh_deep_ != 0) return 1;
  const int result =
      RefreshTree(withSubDepartments, withComputers, withPositions, withUsers, useView1, &deep);
  if (result != 0) refresh_deep_ = 1;
  return result;
}

// ---- full path ----

int CDODepartment::GetFullPath(char* buffer, unsigned long size) {
  if (buffer == nullptr) return 0;
  // Each level writes its owner's path into one byte less than it has itself (room for the
  // "/"), so a level i steps above this one has size - i bytes, and levels with none write
  // nothing. The chain is therefore read no further than `size` levels up (which also bounds a
  // walk along an owner cycle), and written top down without recursion.
  std::vector<CDODepartment*> chain;
  for (CDODepartment* d = this; d != nullptr && chain.size() < size; d = d->owner_) {
    chain.push_back(d);
  }
  const bool whole_chain = chain.empty() || chain.back()->owner_ == nullptr;
  int written = 0;
  for (size_t i = chain.size(); i-- > 0;) {
    CDODepartment* d = chain[i];
    const unsigned long room = size - i;
    int before = written;
    if (i == chain.size() - 1) {
      before = whole_chain ? d->GetSuperDepartmentPath(buffer, room - 1) : 0;
    }
    if (before > 0) buffer[before++] = '/';
    written = before + d->GetName(buffer + before, room - before);
  }
  return written;
}

std::string CDODepartment::GetFullPathText() {
  // An owner cycle (which a loaded tree never has) would not end: the walk stops at the first
  // department seen twice, as the buffer form stops at its size.
  std::vector<CDODepartment*> chain;
  for (CDODepartment* d = this; d != nullptr; d = d->owner_) {
    if (std::find(chain.begin(), chain.end(), d) != chain.end()) break;
    chain.push_back(d);
  }
  std::string path =
      chain.back()->owner_ == nullptr ? chain.back()->GetSuperDepartmentPathText() : "";
  for (size_t i = chain.size(); i-- > 0;) {
    if (!path.empty()) path += '/';
    path += chain[i]->GetNameText();
  }
  return path;
}

int CDODepartment::SetFullPath(char* path) {
  if (path == nullptr) return 0;
  const char* slash = std::strrchr(path, '/');
  return SetSuperDepartmentPath(
      slash == nullptr ? "" : std::string(path, static_cast<size_t>(slash - path)).c_str());
}

// ---- look-ups ----

namespace {

// Reads a computer's text through `get` into a buffer that holds a text as long as `wanted` and
// one character more, so that a stored text that fits can be compared in full and a longer one
// (which cannot be equal) is told apart from an empty one. Never cuts a text that could match.
class WholeText {
 public:
  explicit WholeText(const char* wanted) : wanted_size_(std::strlen(wanted)) {
    if (wanted_size_ + 2 > sizeof small_) large_.resize(wanted_size_ + 2);
  }
  template <class Get>
  bool Equals(CDOComputer* computer, Get get, const char* wanted, bool ignore_case) {
    char* buffer = large_.empty() ? small_ : &large_[0];
    const unsigned long size = static_cast<unsigned long>(wanted_size_ + 2);
    const int n = (computer->*get)(buffer, size);
    if (static_cast<size_t>(n) != wanted_size_) return false;
    return ignore_case ? EqualsIgnoreCase(buffer, wanted) : std::strcmp(buffer, wanted) == 0;
  }

 private:
  size_t wanted_size_;
  char small_[768];
  std::string large_;
};

// The first computer of the sub-tree (own list first, then the children depth first) for which
// `matches` gives true.
template <class Matches>
CDOComputer* FindComputer(CDODepartment* top, Matches&& matches) {
  CDOComputer* found = nullptr;
  WalkDepartments(top, [&](CDODepartment* department) {
    DataObjectList* computers = department->GetComputers();
    if (computers == nullptr) return false;
    for (CDataObject* member : *computers) {
      auto* computer = static_cast<CDOComputer*>(member);
      if (computer != nullptr && matches(computer)) {
        found = computer;
        return true;
      }
    }
    return false;
  });
  return found;
}

// The first computer that `matches` and whose agent runs. A computer never probed is probed on
// the way: running, it is the result; left unprobed (a computer that is not approved is never
// probed), it ends the search with null. One known not to run (before or after the probe) is
// passed over: a probe that just found the agent silent makes the computer no more online than
// one found silent earlier.
template <class Matches>
CDOComputer* FindOnline(CDODepartment* top, Matches&& matches) {
  bool stop = false;
  CDOComputer* found = FindComputer(top, [&](CDOComputer* computer) {
    if (stop || !matches(computer)) return stop;
    if (computer->GetConnectionStatus() == ConnectionNotProbed &&
        computer->RefreshConnectionStatus() == 0 &&
        computer->GetConnectionStatus() == ConnectionNotProbed) {
      stop = true;
      return true;
    }
    return computer->GetConnectionStatus() == ConnectionRunning;
  });
  return stop ? nullptr : found;
}

}  // namespace

CDODepartment* CDODepartment::FindDepartmentById(long id) {
  return WalkDepartments(this, [id](CDODepartment* department) {
    Variant* value = department->GetValue(kId);
    return value != nullptr && value->Int32() == id;
  });
}

CDOComputer* CDODepartment::FindComputerByUuid(const char* uuid) {
  if (uuid == nullptr) return nullptr;
  WholeText text(uuid);
  return FindComputer(this, [&](CDOComputer* computer) {
    return text.Equals(computer, &CDOComputer::GetUuid, uuid, true);
  });
}

CDOComputer* CDODepartment::FindComputerByIp(const char* ip) {
  if (ip == nullptr) return nullptr;
  WholeText text(ip);
  return FindComputer(this, [&](CDOComputer* computer) {
    return text.Equals(computer, &CDOComputer::GetIp, ip, false);
  });
}

CDOComputer* CDODepartment::FindOnlineComputer(const char* name) {
  if (name == nullptr) return nullptr;
  WholeText text(name);
  return FindOnline(this, [&](CDOComputer* computer) {
    return text.Equals(computer, &CDOComputer::GetName, name, false);
  });
}

CDOComputer* CDODepartment::FindOnlineComputer(unsigned long ipv4) {
  return FindOnline(this, [ipv4](CDOComputer* computer) { return computer->GetIpV4() == ipv4; });
}

// ---- membership ----

namespace {

// The server verb first; the local list and the owner change only after it succeeded.
template <class T, class SetParentId>
int AddMember(CDODepartment* department, T* member, OwnedList<T>& list, SetParentId&& set_id) {
  if (member == nullptr) {
    return SetLibraryFailure("Add" + T::GetClassInstance()->GetObjectName(), "no object given");
  }
  set_id(member);
  if (!member->Add()) return 0;
  list.Add(member);
  member->SetOwnerDepartment(department);
  return 1;
}

// Deletes `member` on the server, then drops it from `list`. `delete_unlisted` says whether a
// member missing from the list is deleted all the same.
template <class T>
int RemoveMember(CDODepartment* department, T* member, OwnedList<T>& list, bool delete_unlisted) {
  const auto refuse = [](const std::string& why) {
    return SetLibraryFailure("Del" + T::GetClassInstance()->GetObjectName(), why);
  };
  if (member == nullptr) return refuse("no object given");
  if (member->GetOwnerDepartment() != department) {
    return refuse(core_internal::NamedByKey(member) + " is not a member of " +
                  core_internal::NamedByKey(department));
  }
  if (!member->Delete()) return 0;
  if (!list.Delete(member) && delete_unlisted) delete member;
  return 1;
}

// Appends `member` unless the list is absent or holds an entry `member` equals.
int MoveIn(const char* operation, CDataObject* member, DataObjectList* list) {
  if (member == nullptr) return SetLibraryFailure(operation, "no object given");
  if (list == nullptr) return SetLibraryFailure(operation, "the department's list is not loaded");
  for (CDataObject* entry : *list) {
    if (member->Equals(entry)) {
      return SetLibraryFailure(operation,
                               core_internal::NamedByKey(member) + " is in the list already");
    }
  }
  list->Add(member);
  return 1;
}

}  // namespace

int CDODepartment::AddSubDepartment(CDODepartment* department) {
  return AddMember(this, department, departments_,
                   [this](CDODepartment* d) { d->SetSuper(GetId()); });
}

int CDODepartment::AddComputer(CDOComputer* computer) {
  return AddMember(this, computer, computers_,
                   [this](CDOComputer* c) { c->SetDepartmentId(GetId()); });
}

int CDODepartment::AddPosition(CDOPosition* position) {
  return AddMember(this, position, positions_,
                   [this](CDOPosition* p) { p->SetDepartmentId(GetId()); });
}

int CDODepartment::AddUser(CDOUser* user) {
  return AddMember(this, user, users_, [this](CDOUser* u) { u->SetDepartmentId(GetId()); });
}

int CDODepartment::RemoveSubDepartment(CDODepartment* department) {
  return RemoveMember(this, department, departments_, true);
}

int CDODepartment::RemoveComputer(CDOComputer* computer) {
  return RemoveMember(this, computer, computers_, false);
}

int CDODepartment::RemovePosition(CDOPosition* position) {
  return RemoveMember(this, position, positions_, true);
}

int CDODepartment::RemoveUser(CDOUser* user) { return RemoveMember(this, user, users_, true); }

int CDODepartment::MoveInSubDepartment(CDODepartment* department) {
  return MoveIn("MoveInSubDepartment", department, departments_.get());
}

int CDODepartment::MoveInComputer(CDOComputer* computer) {
  return MoveIn("MoveInComputer", computer, computers_.get());
}

int CDODepartment::MoveInUser(CDOUser* user) { return MoveIn("MoveInUser", user, users_.get()); }

int CDODepartment::MoveOutSubDepartment(CDODepartment* department) {
  return department != nullptr && departments_.Detach(department) ? 1 : 0;
}

int CDODepartment::MoveOutComputer(CDOComputer* computer) {
  DataObjectList* list = computers_.get();
  if (computer == nullptr || list == nullptr) return 0;
  for (CDataObject* entry : *list) {
    if (computer->Equals(entry)) return list->Remove(entry) ? 1 : 0;
  }
  return 0;
}

int CDODepartment::MoveOutUser(CDOUser* user) {
  return user != nullptr && users_.Detach(user) ? 1 : 0;
}

int CDODepartment::ChangeDepartment(CDODepartment* newParent) {
  constexpr char kOperation[] = "UpdateDepartment";
  if (newParent == nullptr) return SetLibraryFailure(kOperation, "no new parent given");
  if (newParent->Equals(owner_)) return 1;
  // A root belongs to its caller, not to a tree: handing it to another department would give it
  // two owners. A department moved below itself would make the tree a cycle that no walk ends.
  if (owner_ == nullptr) {
    return SetLibraryFailure(kOperation, "the root of a tree cannot change its parent");
  }
  for (CDODepartment* d = newParent; d != nullptr; d = d->owner_) {
    if (d == this) {
      return SetLibraryFailure(kOperation,
                               core_internal::NamedByKey(this) + " cannot move below itself");
    }
  }
  Variant* current = GetValue(kSuperDeptId);
  const Variant remembered = current != nullptr ? *current : Variant::Null();
  SetSuper(newParent->GetId());
  if (!Update()) {
    // A null value does not convert to the declared type, which leaves the attribute unset.
    SetValue(kSuperDeptId, remembered);
    return 0;
  }
  owner_->MoveOutSubDepartment(this);
  // The department must stay owned: when the new parent's list is absent, or already holds an
  // entry equal to it, it is appended all the same.
  if (!newParent->MoveInSubDepartment(this)) newParent->departments_.Add(this);
  owner_ = newParent;
  return 1;
}

}  // namespace docsec
