#include "docsec/core/data_object_list.h"

#include <algorithm>

#include "docsec/core/data_object.h"

namespace docsec {

bool DataObjectList::Remove(CDataObject* object) {
  auto it = std::find(items_.begin(), items_.end(), object);
  if (it == items_.end()) return false;
  items_.erase(it);
  return true;
}

void ValueMap::SetAt(const std::string& key, Variant* value) {
  for (Entry& e : entries_) {
    if (e.first == key) {
      if (e.second != value) delete e.second;
      e.second = value;
      return;
    }
  }
  entries_.emplace_back(key, value);
}

Variant* ValueMap::Lookup(const std::string& key) const {
  for (const Entry& e : entries_) {
    if (e.first == key) return e.second;
  }
  return nullptr;
}

bool ValueMap::Contains(const std::string& key) const {
  for (const Entry& e : entries_) {
    if (e.first == key) return true;
  }
  return false;
}

bool ValueMap::RemoveKey(const std::string& key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      delete it->second;
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

void ValueMap::RemoveAll() {
  for (Entry& e : entries_) delete e.second;
  entries_.clear();
}

void DestructElements(DataObjectList* list, int) {
  if (list == nullptr) return;
  for (CDataObject* object : *list) delete object;
  list->RemoveAll();
}

void DestructElements(ValueMap* map, int) {
  if (map != nullptr) map->RemoveAll();
}

void ShallowDelete(DataObjectList* list) {
  if (list == nullptr) return;
  list->RemoveAll();
  delete list;
}

}  // namespace docsec
