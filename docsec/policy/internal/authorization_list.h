// What the holders of authorization lists share (a department's policy for a secret level, a
// remote file): a list holds at most one entry per user or position, an entry whose permission is
// 0 grants nothing, and a role is granted by its kind.
//
// Entry types provide IsAuthorizedTo(partner), GetPermission() and a joining constructor
// Entry(holder, partner, permission). Used from the holders' sources, where the types are complete.
#ifndef DOCSEC_POLICY_INTERNAL_AUTHORIZATION_LIST_H_
#define DOCSEC_POLICY_INTERNAL_AUTHORIZATION_LIST_H_

#include <new>

#include "docsec/channel/outcome.h"
#include "docsec/core/owned_list.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace internal {

// Appends a new Entry(holder, partner, permission) to `list` (created when absent) and returns it
// (owned by the list); null when `partner` is null, already has an entry, or memory runs out.
template <class Entry, class Holder, class Partner>
Entry* GrantOnce(OwnedList<Entry>& list, Holder* holder, Partner* partner, long permission) {
  if (partner == nullptr) {
    SetLibraryFailure("Grant", "no user or position given");
    return nullptr;
  }
  for (Entry* entry : list) {
    if (entry->IsAuthorizedTo(partner)) {
      SetLibraryFailure("Grant", "the user or position has an entry already");
      return nullptr;
    }
  }
  Entry* entry = new (std::nothrow) Entry(holder, partner, permission);
  if (entry == nullptr) {
    SetLibraryFailure("Grant", "out of memory");
    return nullptr;
  }
  list.Add(entry);
  return entry;
}

// A new list (the caller deletes the list, not the entries) of the entries whose permission is
// not 0, in list order; null when `list` is absent or empty.
template <class Entry>
DataObjectList* ValidEntries(const OwnedList<Entry>& list) {
  if (list.Size() == 0) return nullptr;
  DataObjectList* valid = new DataObjectList;
  for (Entry* entry : list) {
    if (entry->GetPermission() != 0) valid->Add(entry);
  }
  return valid;
}

// True when an entry of `list` grants something.
template <class Entry>
bool AnyValidEntry(const OwnedList<Entry>& list) {
  for (Entry* entry : list) {
    if (entry->GetPermission() != 0) return true;
  }
  return false;
}

// The holder's GrantPosition for a position, GrantUser for a user; null for anything else.
template <class Holder>
CDataObject* GrantRoleTo(Holder* holder, CDataObject* role, long permission) {
  switch (role != nullptr ? role->GetObjectType() : kObjectTypeNone) {
    case kObjectTypePosition:
      return holder->GrantPosition(static_cast<CDOPosition*>(role), permission);
    case kObjectTypeUser: return holder->GrantUser(static_cast<CDOUser*>(role), permission);
    default:
      SetLibraryFailure("GrantRole", "the role is neither a user nor a position");
      return nullptr;
  }
}

// The holder's RefusePosition for an entry of PositionEntry's type, RefuseUser for one of
// UserEntry's; 0 for anything else (a user or position itself included).
template <class PositionEntry, class UserEntry, class Holder>
int RefuseRoleOf(Holder* holder, CDataObject* entry) {
  if (entry == nullptr) return SetLibraryFailure("RefuseRole", "no entry given");
  const CEnumDataObjectType type = entry->GetObjectType();
  if (type == PositionEntry::GetClassInstance()->GetObjectType()) {
    return holder->RefusePosition(static_cast<PositionEntry*>(entry));
  }
  if (type == UserEntry::GetClassInstance()->GetObjectType()) {
    return holder->RefuseUser(static_cast<UserEntry*>(entry));
  }
  return SetLibraryFailure("RefuseRole", "the object is not an authorization entry");
}

}  // namespace internal
}  // namespace docsec

#endif  // DOCSEC_POLICY_INTERNAL_AUTHORIZATION_LIST_H_
