// DataObjectList and ValueMap: the list of data objects and the name-to-value map of the API.
//
// Ownership is by convention, since one object often sits in several lists (a search result, its
// owner's children): a DataObjectList never deletes its members by itself (DestructElements does;
// ShallowDelete deletes only the list), while a ValueMap owns the Variant each entry points at
// (DestructElements frees them; so does the map's destructor, so a forgotten map never leaks).
// Neither is synchronised.
#ifndef DOCSEC_CORE_DATA_OBJECT_LIST_H_
#define DOCSEC_CORE_DATA_OBJECT_LIST_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "docsec/platform/export.h"
#include "docsec/platform/variant.h"

namespace docsec {

class CDataObject;

// An ordered list of data-object pointers: every child list, batch and result set.
class DOCSEC_EXPORT DataObjectList {
 public:
  using iterator = std::vector<CDataObject*>::iterator;
  using const_iterator = std::vector<CDataObject*>::const_iterator;

  DataObjectList() = default;
  DataObjectList(std::initializer_list<CDataObject*> items) : items_(items) {}
  // Deletes no member: see DestructElements.
  ~DataObjectList() = default;
  DataObjectList(const DataObjectList&) = default;
  DataObjectList& operator=(const DataObjectList&) = default;

  // Appends `object` and returns its index.
  int Add(CDataObject* object) {
    items_.push_back(object);
    return static_cast<int>(items_.size()) - 1;
  }
  int GetSize() const { return static_cast<int>(items_.size()); }
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // The member at `index`, or null past the end.
  CDataObject* GetAt(int index) const {
    return index >= 0 && static_cast<size_t>(index) < items_.size() ? items_[index] : nullptr;
  }
  CDataObject* operator[](size_t index) const { return items_[index]; }
  // Removes the member at `index` from the list without deleting it.
  void RemoveAt(int index) {
    if (index >= 0 && static_cast<size_t>(index) < items_.size())
      items_.erase(items_.begin() + index);
  }
  // Removes `object` (the first occurrence) without deleting it; false when absent.
  bool Remove(CDataObject* object);
  // Empties the list without deleting the members.
  void RemoveAll() { items_.clear(); }
  void Reserve(size_t count) { items_.reserve(count); }

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  std::vector<CDataObject*> items_;
};

// A map from an attribute name to an owned Variant, iterated in insertion order so that requests
// built from it are deterministic. Search conditions are passed in this form.
class DOCSEC_EXPORT ValueMap {
 public:
  using Entry = std::pair<std::string, Variant*>;
  using const_iterator = std::vector<Entry>::const_iterator;

  ValueMap() = default;
  ~ValueMap() { RemoveAll(); }
  ValueMap(const ValueMap&) = delete;
  ValueMap& operator=(const ValueMap&) = delete;

  // Stores `value` (taken over; may be null) under `key`, freeing a different earlier value.
  void SetAt(const std::string& key, Variant* value);
  // Stores a copy of `value` under `key`.
  void Set(const std::string& key, const Variant& value) { SetAt(key, new Variant(value)); }
  // The value under `key`, or null when there is none (or the entry is null).
  Variant* Lookup(const std::string& key) const;
  bool Contains(const std::string& key) const;
  // Removes and frees the entry; false when absent.
  bool RemoveKey(const std::string& key);
  // Frees every value and removes every entry.
  void RemoveAll();

  int GetCount() const { return static_cast<int>(entries_.size()); }
  size_t size() const { return entries_.size(); }
  bool IsEmpty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
};

// Deletes every non-null member of `list` through its virtual destructor, then empties the list.
// The list itself survives; `count` is not used. A null list does nothing.
DOCSEC_EXPORT void DestructElements(DataObjectList* list, int count = 0);
// Frees every non-null value of `map` and removes all entries; the map survives. `count` is not
// used. A null map does nothing.
DOCSEC_EXPORT void DestructElements(ValueMap* map, int count = 0);
// Empties `list` without deleting its members, then deletes the list. A null list does nothing.
DOCSEC_EXPORT void ShallowDelete(DataObjectList* list);

}  // namespace docsec

#endif  // DOCSEC_CORE_DATA_OBJECT_LIST_H_
