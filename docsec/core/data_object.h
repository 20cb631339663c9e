// CDataObject: the base of every record the library exchanges with the management server.
//
// A data object is a set of named attribute values whose names, value types and keys are declared
// by its class (Initialize), plus the virtual operations that turn it into XML, send it to the
// server, look it up and compare it. Declarations live in the class's schema, built once; an
// object holds a pointer to the schema, its values in a slot array in declaration order, and a side
// table for names its class does not declare.
//
// Ownership: an object owns its values. Lists and maps follow the rules of data_object_list.h:
// lists returned by look-ups belong to the caller with their members; lists passed into batches
// stay the caller's. A value pointer returned by GetAttrValue stays valid until the next
// SetAttrValue of that name or the object's death (a value loaded from an answer is held compactly
// and gets its Variant on the first such request; later requests give the same pointer).
//
// Errors: a verb that returns 0 or null leaves its cause in the calling thread's outcome
// (channel/outcome.h): the transport's, the server's, or the library's own reason.
//
// Thread safety: an object is used by one thread at a time; separate objects are independent.
//
// Writing a subclass: see docs/writing-a-class.md. In short, declare the attributes as
// `static constexpr Attr` members gathered by `kAttributes`, put DOCSEC_DATA_OBJECT(Class) in the
// class and DOCSEC_DEFINE_DATA_OBJECT(...) in its source (data_object_class.h), and write each
// accessor as one call to the typed accessors below; child lists are OwnedList members.
#ifndef DOCSEC_CORE_DATA_OBJECT_H_
#define DOCSEC_CORE_DATA_OBJECT_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

#include "docsec/channel/data_source.h"
#include "docsec/core/attribute.h"
#include "docsec/core/class_schema.h"
#include "docsec/core/data_object_list.h"
#include "docsec/platform/export.h"
#include "docsec/platform/variant.h"
#include "docsec/platform/xml.h"

namespace docsec {

namespace core_internal {
class ObjectArena;
struct PackedSlots;
}  // namespace core_internal

// The object-type number of each class.
enum CEnumDataObjectType {
  kObjectTypeNone = 0,
  kObjectTypeDepartment = 1,
  kObjectTypeComputer = 2,
  kObjectTypePosition = 3,
  kObjectTypeUser = 4,
  kObjectTypeDrive = 5,   // an agent folder without parent path
  kObjectTypeFolder = 6,  // an agent folder inside a drive
  kObjectTypeAgentFile = 7,
  kObjectTypeAuthLevelByPosition = 8,
  kObjectTypeAuthLevelByUser = 9,
  kObjectTypeAuthFileByPosition = 10,
  kObjectTypeAuthFileByUser = 11,
  kObjectTypeIpSegment = 12,
  kObjectTypeAutoScanAppType = 13,
  kObjectTypeScanFileExtend = 14,
};

class DOCSEC_EXPORT CDataObject {
 public:
  // Data source 1, no values.
  CDataObject();
  CDataObject(const CDataObject&) = delete;
  CDataObject& operator=(const CDataObject&) = delete;

  // Data objects are placed in the arena of the answer being loaded on this thread, when there is
  // one (core/internal/object_arena.h), and on the heap otherwise; `delete` works the same for
  // both.
  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* object, size_t size) noexcept;
  static void operator delete(void* object, const std::nothrow_t&) noexcept;

  // The virtual interface, in slot order.
  virtual ~CDataObject();
  // A new default-constructed object of the receiver's class, owned by the caller; null when
  // memory runs out.
  virtual CDataObject* CreateInstance();
  virtual CEnumDataObjectType GetObjectType();
  // Sends `operationName` with the full element; 0 for a null name. Nothing is read back.
  virtual int Update(const char* operationName);
  // Sends "Update" + object name with the full element.
  virtual int Update();
  // Sends "Add" + object name with the full element, then reloads the receiver from the answer's
  // element of its tag (0 when the answer has none).
  virtual int Add();
  // BatchDelete of a list holding only the receiver; the receiver stays the caller's.
  virtual int Delete();
  // Sends "Query" + object name with the key element and reloads the receiver from the answer.
  virtual int Refresh();
  // The "isSystemDefault" flag; 0 when not set.
  virtual int IsSystemDefault();
  // Appends the full element to `parent` and returns it; a null parent gives a null element.
  virtual XmlElement AssemblyXmlNode(const XmlElement& parent);
  // Sends "Query" + object name with the condition element; returns every object of the answer
  // (the list and its members belong to the caller) or null on failure.
  virtual DataObjectList* Lookup(ValueMap* conditions);
  // Sends `operationName` with the key element and loads the children of the receiver's element
  // in the answer into *list (created when null; an existing list is left as it is).
  virtual int LookupSubObjects(const char* operationName, DataObjectList** list,
                               CDataObject* prototype);
  // The single object Lookup finds, owned by the caller; null when none or several.
  virtual CDataObject* LookupUnique(ValueMap* conditions);
  // Each sends the verb + receiver's object name with the full element of every member.
  virtual int BatchUpdate(DataObjectList* list);
  virtual int BatchAdd(DataObjectList* list);
  virtual int BatchDelete(DataObjectList* list);
  // Reads the declared attributes present on `element`; always 1.
  virtual int LoadFromXmlNode(const XmlElement& element);
  // Appends the full element of every member of `list` to `parent`; returns `parent`.
  virtual XmlElement AssemblySubObjectsXMLNodes(const XmlElement& parent, DataObjectList* list);
  // Fills *list (once: a non-null *list is left alone) with objects of the prototype's class read
  // from the children of `element` named by the prototype's tag; always 1.
  virtual int LoadSubObjectsFromXmlNode(const XmlElement& element, DataObjectList** list,
                                        CDataObject* prototype);
  // Sends `operationName` with the key element holding the full element of every member.
  virtual int UpdateSubObjects(const char* operationName, DataObjectList* list);
  // 1 when the object satisfies every condition (an empty or null map: 1).
  virtual int CheckSearchConditions(ValueMap* conditions);
  // 1 when `other` is of the same type and its key values (or all values, without keys) equal.
  virtual int Equals(CDataObject* other);

 protected:
  // Declares the class's own attributes; runs once per class, while its schema is built.
  virtual void Initialize();

 public:
  virtual std::string GetObjectName();
  virtual std::string GetObjectXMLTagName();

 protected:
  // Both give the attribute list; the key accessor too, since code that walks it to copy or show
  // an object needs every attribute (the keys are in the schema's key list).
  virtual const NameList* GetAttrNames();
  virtual const NameList* GetKeyAttrNames();
  // Appends the condition element (one attribute per map entry) to `parent`.
  virtual XmlElement AssemblyConditionXmlNode(const XmlElement& parent, ValueMap* conditions);
  virtual int CheckSearchCondition(const std::string& name, Variant* value);
  virtual int EqualsValue(const std::string& name, Variant* value);

 public:
  // Non-virtual members.
  // Copies every attribute-list and load-only value the source has into this object, converted to
  // this object's declared types. The result carries no meaning.
  int CopyAttrValues(CDataObject* source);
  void SetDataSource(int dataSource) { data_source_ = dataSource; }
  int GetDataSource() const { return data_source_; }
  // Appends the key element (key attributes only) to `parent`; null for a null parent.
  XmlElement AssemblyXmlKeyNode(const XmlElement& parent);
  // True when the object uses the schema its own class built: false means a constructor of its
  // class did not adopt the class's schema (the object would silently keep its parent's).
  bool HasOwnSchema() const;

 protected:
  // Stores `value` converted to the declared type of `name`: 1, or 0 (attribute left unset) when
  // it does not convert. Raises ComError(kErrOutOfMemory) only when memory runs out.
  int SetAttrValue(const char* name, const Variant& value);
  // The stored value, or null when not set. Owned by the object.
  Variant* GetAttrValue(const char* name);
  // The declared type of `name`; 8 (text) when it has none.
  uint16_t GetAttrType(const std::string& name) const;

  // Used by constructors: publishes the class's schema on first use (running Initialize of the
  // class under construction, once per process under the slot's own once-flag) and adopts it.
  // `owner` is the class the schema belongs to; the one-argument form takes the class under
  // construction. Constructing an object of the same class inside its own Initialize raises
  // ComError(kErrUnexpected).
  void InitializeClass(ClassSchemaSlot& slot, const std::type_info& owner);
  void InitializeClass(ClassSchemaSlot& slot) { InitializeClass(slot, typeid(*this)); }
  // Declarations, for Initialize only: called at any other time they raise
  // ComError(kErrUnexpected) (and assert in debug builds) rather than being ignored.
  void AddAttribute(const char* name, uint16_t type = kVtBstr);
  void AddLoadOnlyAttribute(const char* name, uint16_t type = kVtBstr);
  void AddKeyAttribute(const char* name);
  void DeclareAttribute(const Attr& attr);
  template <size_t N>
  void DeclareAttributes(const std::array<const Attr*, N>& attrs) {
    for (const Attr* attr : attrs) DeclareAttribute(*attr);
  }

  // Typed accessors: the one-line bodies of the classes' getters and setters. Each reads or
  // stores through the attribute store, so values convert to and from the declared type as
  // SetAttrValue/GetAttrValue do. An attribute the class's schema does not declare raises
  // ComError(kErrUnexpected) (a class forgot to list it in kAttributes).
  // Text: copies into `buffer` of `size` bytes and returns the characters written; 0, with an
  // empty string, when unset or when it does not fit (never writes past `size`).
  int GetText(const Attr& attr, char* buffer, unsigned long size);
  std::string GetText(const Attr& attr);  // "" when unset
  // Stores `text`; 0 for a null text (nothing stored) or when it does not convert.
  int SetText(const Attr& attr, const char* text);
  // Integers: -1 when unset. Raises ComError when the stored value does not convert.
  long GetInt32(const Attr& attr);
  int SetInt32(const Attr& attr, long value);
  long long GetInt64(const Attr& attr);
  int SetInt64(const Attr& attr, long long value);
  // Boolean: false when unset.
  bool GetBool(const Attr& attr);
  int SetBool(const Attr& attr, bool value);
  // Date (OLE date, local time): -1.0 when unset.
  double GetDate(const Attr& attr);
  int SetDate(const Attr& attr, double value);
  // The stored value of a declared attribute, or null when unset.
  Variant* GetValue(const Attr& attr);
  int SetValue(const Attr& attr, const Variant& value);

  // One exchange on behalf of this object, for class-specific requests: `fill` appends to the
  // request's document element and returns false to abandon the request. Sent with the object's
  // data source; the answer after a successful check (code 0), else null.
  XmlDocument Exchange(const std::string& operation, const std::function<bool(XmlElement&)>& fill);
  // LoadSubObjectsFromXmlNode with a hook run on each child after it loaded (for owner links).
  int LoadSubObjectsFromXmlNode(const XmlElement& element, DataObjectList** list,
                                CDataObject* prototype,
                                const std::function<void(CDataObject*)>& each);

  const ClassSchema& schema() const { return *schema_; }

 private:
  friend class DataObjectAccess;
  friend struct core_internal::PackedSlots;
  Variant* SlotValue(int slot);
  // Where slot `slot` is held in slots_, or -1 when it has no place there.
  int SlotIndex(int slot) const;
  void EnsureSlots();
  // Gives a loaded object places for exactly the slots in `present` (bit i: slot i), in the
  // loading arena.
  void AllocatePackedSlots(uint64_t present, core_internal::ObjectArena* arena);
  void FreeSlots() noexcept;
  // The arena this object was placed in, when that arena is the one loading on this thread (so
  // that its slots and texts may go there too); else null.
  core_internal::ObjectArena* LoadingArena() const;
  void WriteAttributes(XmlElement& element, const std::vector<int>& slots);
  int CheckedSlot(const Attr& attr) const;
  int ReloadFromAnswer(const XmlDocument& answer);
  int SendBatch(const char* verb, DataObjectList* list);

  int data_source_ = kDefaultDataSource;
  uint16_t slot_count_ = 0;
  // Set by the constructor (a bit-field has no default before C++20).
  uint8_t in_arena_ : 1;        // placed in an arena by operator new
  uint8_t slots_in_arena_ : 1;  // slots_ lives in that arena: destroyed, never freed
  // slots_ holds 8-byte places (data_object.cc: PackedSlots) for only the slots an answer gave,
  // in slot order; the 64-bit word before the first has bit i set when slot i is among them. A
  // place holds a short value itself or points at its Variant, made when a caller first asks for
  // a pointer. Slots of a packed object set later live in extra_.
  uint8_t slots_packed_ : 1;
  const ClassSchema* schema_;
  // Variant[slot_count_] when not packed; uint64_t[slot_count_] when packed.
  void* slots_ = nullptr;
  // Values of names the class does not declare, and of declared names a packed object has no
  // place for; each Variant is allocated on its own, so its address never moves.
  std::unique_ptr<ValueMap> extra_;
};

// Fills *list (once: a non-null *list is left alone) with objects of the prototype's class read
// from the children of `element` named by the prototype's tag, running `each` (when set) on every
// child after it loaded; always 1. The virtual LoadSubObjectsFromXmlNode is this without a hook.
DOCSEC_EXPORT int LoadChildObjects(const XmlElement& element, DataObjectList** list,
                                   CDataObject* prototype,
                                   const std::function<void(CDataObject*)>& each);

}  // namespace docsec

#endif  // DOCSEC_CORE_DATA_OBJECT_H_
