#include "docsec/core/class_schema.h"

#include <algorithm>

namespace docsec {

ClassSchema::ClassSchema(const ClassSchema& parent)
    : slots_(parent.slots_),
      attribute_names_(parent.attribute_names_),
      load_only_names_(parent.load_only_names_),
      key_names_(parent.key_names_),
      attribute_slots_(parent.attribute_slots_),
      load_only_slots_(parent.load_only_slots_),
      key_slots_(parent.key_slots_),
      owner_(parent.owner_) {
  Reindex();
}

void ClassSchema::Reindex() {
  index_.clear();
  index_.reserve(slots_.size() * 2);
  for (size_t i = 0; i < slots_.size(); ++i) index_.emplace(slots_[i].name, static_cast<int>(i));
}

int ClassSchema::SlotFor(const char* name) {
  int slot = SlotOf(name);
  if (slot != kNoSlot) return slot;
  slots_.push_back(Slot{name, kVtBstr, false});
  // Growing the vector may move the names the index views; rebuild it (declaration time only).
  Reindex();
  return static_cast<int>(slots_.size()) - 1;
}

void ClassSchema::AppendOnce(NameList* names, std::vector<int>* slots, const char* name, int slot) {
  if (std::find(slots->begin(), slots->end(), slot) != slots->end()) return;
  names->push_back(name);
  slots->push_back(slot);
}

void ClassSchema::AddAttribute(const char* name, uint16_t type) {
  int slot = SlotFor(name);
  slots_[slot].type = type;
  slots_[slot].loadable = true;
  AppendOnce(&attribute_names_, &attribute_slots_, name, slot);
}

void ClassSchema::AddLoadOnlyAttribute(const char* name, uint16_t type) {
  int slot = SlotFor(name);
  slots_[slot].type = type;
  slots_[slot].loadable = true;
  AppendOnce(&load_only_names_, &load_only_slots_, name, slot);
}

void ClassSchema::AddKeyAttribute(const char* name) {
  int slot = SlotFor(name);
  AppendOnce(&key_names_, &key_slots_, name, slot);
}

void ClassSchema::SetType(const char* name, uint16_t type) { slots_[SlotFor(name)].type = type; }

}  // namespace docsec

namespace docsec {

void ClassSchema::Declare(const Attr& attr) {
  if (attr.flags & kAttrReplacesKeys) {
    key_names_.clear();
    key_slots_.clear();
  }
  if (attr.flags & kAttrListed) AddAttribute(attr.name, attr.type);
  if (attr.flags & kAttrLoadOnly) AddLoadOnlyAttribute(attr.name, attr.type);
  if (attr.flags & kAttrKeyOnly) AddKeyAttribute(attr.name);
  int slot = SlotFor(attr.name);
  slots_[slot].type = attr.type;
  slots_[slot].ignore_case = (attr.flags & kAttrIgnoreCase) != 0;
}

}  // namespace docsec
