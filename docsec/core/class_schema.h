// ClassSchema: the attribute declarations of one data-object class, built once, the first time an
// object of the class is constructed, by running the class's Initialize chain; every object of the
// class then points at it and keeps its values in a slot array in declaration order.
//
// A schema is immutable once published and lives for the whole process, so objects and threads
// share it without locking. Each class builds its schema under its own once-flag, so a class whose
// Initialize constructs an object of another class (building that class's schema first) works.
#ifndef DOCSEC_CORE_CLASS_SCHEMA_H_
#define DOCSEC_CORE_CLASS_SCHEMA_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "docsec/core/attribute.h"
#include "docsec/platform/export.h"
#include "docsec/platform/variant.h"

namespace docsec {

using NameList = std::vector<std::string>;

class DOCSEC_EXPORT ClassSchema {
 public:
  static constexpr int kNoSlot = -1;

  ClassSchema() = default;
  ClassSchema(const ClassSchema& parent);  // a subclass starts from its parent's declarations

  // Declarations, used while the schema is built. A name is given one slot however many lists
  // hold it; the lists themselves keep each name once.
  void AddAttribute(const char* name, uint16_t type);
  void AddLoadOnlyAttribute(const char* name, uint16_t type);
  void AddKeyAttribute(const char* name);
  void SetType(const char* name, uint16_t type);
  // Registers `attr` in the lists its flags name, with its type and comparison rule.
  void Declare(const Attr& attr);
  // The class whose Initialize built this schema (CDataObject's for the base schema).
  const std::type_info& owner() const { return *owner_; }
  void set_owner(const std::type_info& owner) { owner_ = &owner; }

  // The slot of `name`, or kNoSlot when the class does not declare it.
  int SlotOf(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? kNoSlot : it->second;
  }
  // The declared type of a slot (8, text, when no type was declared).
  uint16_t SlotType(int slot) const { return slots_[slot].type; }
  const char* SlotName(int slot) const { return slots_[slot].name.c_str(); }
  int SlotCount() const { return static_cast<int>(slots_.size()); }

  const NameList& attribute_names() const { return attribute_names_; }
  const NameList& load_only_names() const { return load_only_names_; }
  const NameList& key_names() const { return key_names_; }
  const std::vector<int>& attribute_slots() const { return attribute_slots_; }
  const std::vector<int>& load_only_slots() const { return load_only_slots_; }
  const std::vector<int>& key_slots() const { return key_slots_; }
  // True for slots that loading from XML reads (attribute list and load-only list).
  bool IsLoadable(int slot) const { return slots_[slot].loadable; }
  // True for text slots that compare ignoring case in Equals.
  bool IgnoresCase(int slot) const { return slots_[slot].ignore_case; }

 private:
  struct Slot {
    std::string name;
    uint16_t type = kVtBstr;
    bool loadable = false;
    bool ignore_case = false;
  };
  int SlotFor(const char* name);
  void Reindex();
  static void AppendOnce(NameList* names, std::vector<int>* slots, const char* name, int slot);

  std::vector<Slot> slots_;
  NameList attribute_names_, load_only_names_, key_names_;
  std::vector<int> attribute_slots_, load_only_slots_, key_slots_;
  // Views into slots_[i].name; rebuilt whenever slots_ may have moved.
  std::unordered_map<std::string_view, int> index_;
  const std::type_info* owner_ = nullptr;
};

// Where a class keeps its published schema. One per class, a static with constant initialisation.
struct ClassSchemaSlot {
  std::atomic<const ClassSchema*> schema{nullptr};
  std::once_flag once;
  // The thread running this class's Initialize (the address of that thread's own marker), so that
  // a construction of the same class inside its own Initialize fails loudly instead of waiting on
  // itself for ever. A pointer, not a std::thread::id, whose constructor is not constexpr: that
  // would make the slot dynamically initialised, and a shared instance built during an earlier
  // source file's static initialisation (a computer makes its root folder) would publish a schema
  // that this file's initialisation then wipes.
  std::atomic<const void*> builder{nullptr};
};

}  // namespace docsec

#endif  // DOCSEC_CORE_CLASS_SCHEMA_H_
