// OwnedList<T>: a child list that a data object owns with its members (sub-departments, users,
// policies, folders...). It is absent (null) after construction and until it is loaded or first
// needed, as the API's list accessors report; deleting the owner, or Reset, deletes every member
// and the list. Pointers handed out by get() stay owned by the list.
//
// T only has to be complete where Load or Add are used (the owner's source file), so a header can
// hold an OwnedList of a class it merely forward-declares.
#ifndef DOCSEC_CORE_OWNED_LIST_H_
#define DOCSEC_CORE_OWNED_LIST_H_

#include <functional>

#include "docsec/core/data_object.h"
#include "docsec/core/data_object_list.h"

namespace docsec {

template <class T>
class OwnedList {
 public:
  OwnedList() = default;
  ~OwnedList() { Reset(); }
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;

  // The list, or null while absent.
  DataObjectList* get() const { return list_; }
  explicit operator bool() const { return list_ != nullptr; }
  // The list, created empty when absent.
  DataObjectList* Ensure() {
    if (list_ == nullptr) list_ = new DataObjectList;
    return list_;
  }
  // Deletes the members and the list; the list is absent afterwards.
  void Reset() {
    if (list_ == nullptr) return;
    DestructElements(list_);
    delete list_;
    list_ = nullptr;
  }
  // Takes over `list` and its members (null leaves the list absent), after deleting the present
  // one.
  void Adopt(DataObjectList* list) {
    if (list == list_) return;
    Reset();
    list_ = list;
  }
  // Appends `child` (taken over), creating the list when absent.
  void Add(T* child) { Ensure()->Add(child); }
  // The member at `index` as T, or null past the end or while absent.
  T* At(int index) const { return list_ ? static_cast<T*>(list_->GetAt(index)) : nullptr; }
  int Size() const { return list_ ? list_->GetSize() : 0; }
  // Removes `child` from the list and deletes it; false when it is not a member.
  bool Delete(CDataObject* child) {
    if (list_ == nullptr || !list_->Remove(child)) return false;
    delete child;
    return true;
  }
  // Removes `child` without deleting it; false when it is not a member.
  bool Detach(CDataObject* child) { return list_ != nullptr && list_->Remove(child); }

  // When absent, fills the list from the children of `element` tagged as T's XML tag, each a new
  // T loaded with LoadFromXmlNode and then passed to `each` (to link it to its owner). A present
  // list is left as it is.
  void Load(const XmlElement& element, const std::function<void(T*)>& each = nullptr) {
    if (list_ != nullptr) return;
    std::function<void(CDataObject*)> hook;
    if (each) hook = [&each](CDataObject* child) { each(static_cast<T*>(child)); };
    LoadChildObjects(element, &list_, T::GetClassInstance(), hook);
  }

  // Iteration over the members as T (an absent list iterates nothing).
  class iterator {
   public:
    explicit iterator(DataObjectList::const_iterator it) : it_(it) {}
    T* operator*() const { return static_cast<T*>(*it_); }
    iterator& operator++() {
      ++it_;
      return *this;
    }
    bool operator!=(const iterator& other) const { return it_ != other.it_; }

   private:
    DataObjectList::const_iterator it_;
  };
  iterator begin() const { return list_ ? iterator(list_->begin()) : iterator({}); }
  iterator end() const { return list_ ? iterator(list_->end()) : iterator({}); }

 private:
  DataObjectList* list_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_CORE_OWNED_LIST_H_
