#include "docsec/core/data_object.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/core/date_time.h"
#include "docsec/core/internal/verb_failure.h"
#include "docsec/core/internal/object_arena.h"
#include "docsec/core/variant_functions.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/text.h"
#include "docsec/platform/trace.h"

namespace docsec {
namespace {

// The schema of CDataObject itself: declares nothing.
const ClassSchema* BaseSchema() {
  static const ClassSchema* schema = [] {
    ClassSchema* base = new ClassSchema();
    base->set_owner(typeid(CDataObject));
    return base;
  }();
  return schema;
}

// The schema being declared by the Initialize running on this thread.
thread_local ClassSchema* t_building = nullptr;
// A byte per thread whose address names the thread in ClassSchemaSlot::builder.
thread_local char t_thread_marker;

[[noreturn]] void Misuse(const char* what, const char* name) {
  Trace("data object kit: %s \"%s\"", what, name ? name : "");
  assert(!what && "data object kit misuse; see the trace text");
  throw ComError(kErrUnexpected);
}

ClassSchema* BuildingSchema(const char* name) {
  if (t_building == nullptr) Misuse("declaration outside Initialize of", name);
  return t_building;
}

}  // namespace

// ---- placement and construction ----

namespace {

using core_internal::ObjectArena;

// Each object is preceded by the arena it was carved from (null: a heap block of its own), which
// tells operator delete what to do with its memory.
constexpr size_t kHeader = sizeof(ObjectArena*);

// The object operator new just placed in an arena on this thread, so that its constructor can
// tell it lives there. A class whose CDataObject part is not at the start of the object is never
// recognised; its slots and texts then simply go to the heap.
DOCSEC_HOT_THREAD_LOCAL const void* t_placed_in_arena = nullptr;

}  // namespace

void* CDataObject::operator new(size_t size) {
  ObjectArena* arena = ObjectArena::Current();
  char* block;
  if (arena != nullptr) {
    block = static_cast<char*>(arena->Allocate(size + kHeader));
    arena->AddRef();
  } else {
    block = static_cast<char*>(::operator new(size + kHeader));
  }
  std::memcpy(block, &arena, sizeof arena);
  t_placed_in_arena = arena != nullptr ? block + kHeader : nullptr;
  return block + kHeader;
}

void* CDataObject::operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void CDataObject::operator delete(void* object, size_t size) noexcept {
  if (object == nullptr) return;
  char* block = static_cast<char*>(object) - kHeader;
  ObjectArena* arena;
  std::memcpy(&arena, block, sizeof arena);
  if (arena == nullptr) {
    ::operator delete(block);
    return;
  }
  ObjectArena::Retire(block, size + kHeader);
  arena->Release();
}

void CDataObject::operator delete(void* object, const std::nothrow_t&) noexcept {
  if (object == nullptr) return;
  char* block = static_cast<char*>(object) - kHeader;
  ObjectArena* arena;
  std::memcpy(&arena, block, sizeof arena);
  if (arena == nullptr) {
    ::operator delete(block);
  } else {
    arena->Release();
  }
}

CDataObject::CDataObject()
    : in_arena_(false), slots_in_arena_(false), slots_packed_(false), schema_(BaseSchema()) {
  in_arena_ = t_placed_in_arena == this;
  t_placed_in_arena = nullptr;
}

CDataObject::~CDataObject() { FreeSlots(); }

ObjectArena* CDataObject::LoadingArena() const {
  ObjectArena* current = ObjectArena::Current();
  if (!in_arena_ || current == nullptr) return nullptr;
  ObjectArena* mine;
  std::memcpy(&mine, reinterpret_cast<const char*>(this) - kHeader, sizeof mine);
  return mine == current ? mine : nullptr;
}

// ---- schema ----

void CDataObject::InitializeClass(ClassSchemaSlot& slot, const std::type_info& owner) {
  const ClassSchema* published = slot.schema.load(std::memory_order_acquire);
  if (published == nullptr) {
    if (slot.builder.load(std::memory_order_relaxed) == &t_thread_marker) {
      Misuse("object constructed inside its own class's Initialize:", owner.name());
    }
    // Each class has its own once-flag, so an Initialize that constructs an object of another
    // class builds that class's schema on the way without waiting on a lock this thread holds.
    std::call_once(slot.once, [&] {
      slot.builder.store(&t_thread_marker, std::memory_order_relaxed);
      // The class under construction declares on top of its parent's schema, adopted by the
      // parent's constructor. The virtual call reaches this level's Initialize.
      std::unique_ptr<ClassSchema> building(new ClassSchema(*schema_));
      building->set_owner(owner);
      ClassSchema* outer = t_building;
      t_building = building.get();
      try {
        Initialize();
      } catch (...) {
        t_building = outer;
        slot.builder.store(nullptr, std::memory_order_relaxed);
        throw;
      }
      t_building = outer;
      slot.builder.store(nullptr, std::memory_order_relaxed);
      slot.schema.store(building.release(), std::memory_order_release);
    });
    published = slot.schema.load(std::memory_order_acquire);
  }
  schema_ = published;
  if (slots_ && !slots_packed_ && slot_count_ < schema_->SlotCount()) EnsureSlots();
}

bool CDataObject::HasOwnSchema() const { return schema_->owner() == typeid(*this); }

void CDataObject::AddAttribute(const char* name, uint16_t type) {
  BuildingSchema(name)->AddAttribute(name, type);
}

void CDataObject::AddLoadOnlyAttribute(const char* name, uint16_t type) {
  BuildingSchema(name)->AddLoadOnlyAttribute(name, type);
}

void CDataObject::AddKeyAttribute(const char* name) { BuildingSchema(name)->AddKeyAttribute(name); }

void CDataObject::DeclareAttribute(const Attr& attr) { BuildingSchema(attr.name)->Declare(attr); }

namespace {

// A packed slot array is preceded by the word of the slots it holds (8 bytes, so the Variants
// after it keep their alignment).
constexpr size_t kPresenceWord = sizeof(uint64_t);
// Slots a packed array can name; a class with more keeps every slot.
constexpr int kMaxPackedSlots = 64;

// Set bits of `x`; inline, where the builtin would be a library call on the baseline x86-64.
inline int CountBits(uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

// Equality of two NUL-terminated names, inline: attribute names are short, and a library call per
// attribute of a large answer shows.
inline bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// 1 for "true", 0 for "false", -1 for any other text.
inline int BoolWord(const char* text) {
  if (SameText(text, "true")) return 1;
  return SameText(text, "false") ? 0 : -1;
}

uint64_t PresentSlots(const void* slots) {
  uint64_t present;
  std::memcpy(&present, reinterpret_cast<const char*>(slots) - kPresenceWord, sizeof present);
  return present;
}

// Where slot `slot` is held in a slot array of `count` places: at its own index, or, when the
// array is packed, among the `present` slots. Out of line members of an exported class are not
// inlined, and this runs for every value loaded.
inline int IndexOfSlot(uint64_t present, bool packed, int count, int slot) {
  if (!packed) return slot < count ? slot : -1;
  const uint64_t bit = uint64_t{1} << slot;
  return (present & bit) == 0 ? -1 : CountBits(present & (bit - 1));
}

}  // namespace

// The places of a packed object: one 64-bit word per slot an answer gave. Loading writes the
// common values into the word itself (a text of up to 7 bytes, a 32-bit integer, a boolean, a date
// at whole seconds) or points it at the text's copy in the arena; anything else gets a Variant in
// the arena. A caller asking for a Variant pointer gets one made on the heap, which the word then
// points at for good, so the pointer keeps the lifetime GetAttrValue promises. Readers that only
// look (search, XML output, typed getters) decode into a scratch Variant instead.
//
// Low three bits of a word: 0 a heap Variant owned by the object (0 alone: no value), 1 a Variant
// in the arena, 2 an integer (kind 22) in the high half, 3 a boolean in bit 3, 4 a date (days in
// the high half, seconds of the day in bits 4-20, bit 3 for dates before the epoch), 5 a short text
// (length in bits 3-5, bytes from bit 8), 6 a NUL-terminated text in the arena (its address in the
// bits above the tag: arena texts are not aligned).
struct core_internal::PackedSlots {
  static constexpr uint64_t kTagMask = 7;
  static constexpr uint64_t kOwned = 0, kInArena = 1, kInt = 2, kBool = 3, kDate = 4,
                            kShortText = 5, kLongText = 6;
  static constexpr size_t kMaxShortText = 7;

  static uint64_t& Place(CDataObject* object, int index) {
    return static_cast<uint64_t*>(object->slots_)[index];
  }
  static bool HoldsVariant(uint64_t word) {
    return (word & kTagMask) == kOwned || (word & kTagMask) == kInArena;
  }
  static Variant* PointerOf(uint64_t word) {
    return reinterpret_cast<Variant*>(static_cast<uintptr_t>(word & ~kTagMask));
  }
  static uint64_t WordOf(const void* p, uint64_t tag) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) | tag;
  }

  static void Release(uint64_t word) noexcept {
    if ((word & kTagMask) == kOwned) {
      delete PointerOf(word);
    } else if ((word & kTagMask) == kInArena) {
      PointerOf(word)->~Variant();
    }
  }

  static bool EncodeDate(double date, uint64_t* word) {
    if (!std::isfinite(date)) return false;
    const double days = std::trunc(date);
    if (days < INT32_MIN || days > INT32_MAX) return false;
    const long long seconds = std::llround(std::fabs(date - days) * 86400.0);
    if (seconds < 0 || seconds >= 86400) return false;
    const uint64_t encoded =
        kDate | (std::signbit(date) ? 8u : 0u) | static_cast<uint64_t>(seconds) << 4 |
        static_cast<uint64_t>(static_cast<uint32_t>(static_cast<int32_t>(days))) << 32;
    // Only a date that reads back to the very same double is held this way.
    const double back = DecodeDate(encoded);
    if (std::memcmp(&back, &date, sizeof date) != 0) return false;
    *word = encoded;
    return true;
  }
  static double DecodeDate(uint64_t word) {
    const double days = static_cast<int32_t>(static_cast<uint32_t>(word >> 32));
    const double time = static_cast<double>((word >> 4) & 0x1ffff) / 86400.0;
    return (word & 8) != 0 ? days - time : days + time;
  }

  // The value held in `word`, without making a Variant for it: the word's own Variant, or
  // `scratch` holding the value; null when the word holds none.
  static const Variant* Peek(uint64_t word, Variant* scratch) {
    switch (word & kTagMask) {
      case kOwned:
      case kInArena: return PointerOf(word);
      case kInt: *scratch = Variant::OfKind(kVtInt, static_cast<int32_t>(word >> 32)); break;
      case kBool: *scratch = Variant((word & 8) != 0); break;
      case kDate: *scratch = Variant::Date(DecodeDate(word)); break;
      case kShortText: {
        char text[kMaxShortText];
        const size_t size = (word >> 3) & 7;
        for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(word >> (8 * (i + 1)));
        *scratch = Variant(text, size);
        break;
      }
      default: {
        const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(word >> 3));
        scratch->AssignBorrowedText(text, std::strlen(text));
        break;
      }
    }
    return scratch;
  }

  // The Variant of the place, made (on the heap, owned by the object) when the word holds its
  // value itself; null for an empty place unless `create`.
  static Variant* Materialise(uint64_t* place, bool create) {
    if (HoldsVariant(*place)) {
      if (*place == 0 && create) *place = WordOf(new Variant, kOwned);
      return PointerOf(*place);
    }
    Variant scratch;
    Peek(*place, &scratch);
    Variant* made = new Variant(std::move(scratch));
    *place = WordOf(made, kOwned);
    return made;
  }

  // Where `index` of a packed object holds its value, for a store: its Variant, made when needed.
  static Variant* Target(CDataObject* object, int index) {
    return Materialise(&Place(object, index), true);
  }

  // The value of declared slot `slot` for reading only (see Peek); null when unset.
  static const Variant* Read(CDataObject* object, int slot, Variant* scratch) {
    if (!object->slots_packed_) return object->SlotValue(slot);
    const int index = object->SlotIndex(slot);
    const Variant* v = index >= 0       ? Peek(Place(object, index), scratch)
                       : object->extra_ ? object->extra_->Lookup(object->schema_->SlotName(slot))
                                        : nullptr;
    return v == nullptr || v->IsEmpty() ? nullptr : v;
  }
  // As GetAttrValue, for reading only.
  static const Variant* ReadByName(CDataObject* object, const char* name, Variant* scratch) {
    const int slot = object->schema_->SlotOf(name);
    if (slot != ClassSchema::kNoSlot) return Read(object, slot, scratch);
    return object->extra_ ? object->extra_->Lookup(name) : nullptr;
  }

  // Stores the value of an attribute read from an answer into `place`, of a packed array in
  // `arena`. The values most answers are made of (a text of up to kMaxShortText bytes, a plain
  // decimal, "true" or "false") are packed here, without a call; the rest go on to StoreLoadedRest.
  static void StoreLoaded(uint64_t* place, uint16_t type, const char* text, ObjectArena* arena,
                          const ClassSchema* schema, int slot);
  static void StoreLoadedRest(uint64_t* place, uint16_t type, const char* text, ObjectArena* arena,
                              const ClassSchema* schema, int slot);
};

int CDataObject::SlotIndex(int slot) const {
  return IndexOfSlot(slots_packed_ ? PresentSlots(slots_) : 0, slots_packed_, slot_count_, slot);
}

void CDataObject::EnsureSlots() {
  const int count = schema_->SlotCount();
  if (slots_packed_ || (slots_ && slot_count_ >= count)) return;
  ObjectArena* arena = LoadingArena();
  Variant* grown;
  if (arena != nullptr) {
    grown = static_cast<Variant*>(arena->Allocate(sizeof(Variant) * count));
    for (int i = 0; i < count; ++i) new (&grown[i]) Variant;
  } else {
    grown = new Variant[count];
  }
  Variant* old = static_cast<Variant*>(slots_);
  for (int i = 0; i < slot_count_; ++i) grown[i] = std::move(old[i]);
  FreeSlots();
  slots_ = grown;
  slots_in_arena_ = arena != nullptr;
  slot_count_ = static_cast<uint16_t>(count);
}

void CDataObject::AllocatePackedSlots(uint64_t present, ObjectArena* arena) {
  const int count = CountBits(present);
  char* block = static_cast<char*>(arena->Allocate(kPresenceWord + sizeof(uint64_t) * count));
  std::memcpy(block, &present, sizeof present);
  slots_ = block + kPresenceWord;
  std::memset(slots_, 0, sizeof(uint64_t) * count);
  slots_in_arena_ = true;
  slots_packed_ = true;
  slot_count_ = static_cast<uint16_t>(count);
}

void CDataObject::FreeSlots() noexcept {
  if (slots_ == nullptr) return;
  if (slots_packed_) {
    uint64_t* places = static_cast<uint64_t*>(slots_);
    for (int i = 0; i < slot_count_; ++i) core_internal::PackedSlots::Release(places[i]);
  } else if (slots_in_arena_) {
    Variant* slots = static_cast<Variant*>(slots_);
    for (int i = 0; i < slot_count_; ++i) slots[i].~Variant();
  } else {
    delete[] static_cast<Variant*>(slots_);
  }
  slots_ = nullptr;
  slot_count_ = 0;
  slots_packed_ = false;
}

// ---- identity ----

CDataObject* CDataObject::CreateInstance() { return new (std::nothrow) CDataObject; }
CEnumDataObjectType CDataObject::GetObjectType() { return kObjectTypeNone; }
void CDataObject::Initialize() {}
std::string CDataObject::GetObjectName() { return "CDataObject"; }
std::string CDataObject::GetObjectXMLTagName() { return "CDataObject"; }
const NameList* CDataObject::GetAttrNames() { return &schema_->attribute_names(); }
const NameList* CDataObject::GetKeyAttrNames() { return &schema_->attribute_names(); }

int CDataObject::IsSystemDefault() {
  return GetVariantBool(GetAttrValue("isSystemDefault")) ? 1 : 0;
}

// ---- values ----

Variant* CDataObject::SlotValue(int slot) {
  const int index = slots_ ? SlotIndex(slot) : -1;
  Variant* v = nullptr;
  if (index < 0) {
    if (slots_packed_ && extra_) v = extra_->Lookup(schema_->SlotName(slot));
  } else if (slots_packed_) {
    v = core_internal::PackedSlots::Materialise(&static_cast<uint64_t*>(slots_)[index], false);
  } else {
    v = &static_cast<Variant*>(slots_)[index];
  }
  return v == nullptr || v->IsEmpty() ? nullptr : v;
}

uint16_t CDataObject::GetAttrType(const std::string& name) const {
  int slot = schema_->SlotOf(name);
  return slot == ClassSchema::kNoSlot ? kVtBstr : schema_->SlotType(slot);
}

Variant* CDataObject::GetAttrValue(const char* name) {
  if (name == nullptr) return nullptr;
  int slot = schema_->SlotOf(name);
  if (slot != ClassSchema::kNoSlot) return SlotValue(slot);
  return extra_ ? extra_->Lookup(name) : nullptr;
}

int CDataObject::CheckedSlot(const Attr& attr) const {
  int slot = schema_->SlotOf(attr.name);
  if (slot == ClassSchema::kNoSlot) {
    // Either the class left the constant out of kAttributes, or a constructor did not adopt the
    // class's schema and the object still has its parent's; say which.
    Misuse(HasOwnSchema() ? "accessor of an undeclared attribute"
                          : "accessor on an object without its own class's schema, attribute",
           attr.name);
  }
  return slot;
}

Variant* CDataObject::GetValue(const Attr& attr) { return SlotValue(CheckedSlot(attr)); }

int CDataObject::SetValue(const Attr& attr, const Variant& value) {
  CheckedSlot(attr);
  return SetAttrValue(attr.name, value);
}

int CDataObject::GetText(const Attr& attr, char* buffer, unsigned long size) {
  const int capped = size > 0x7fffffffUL ? 0x7fffffff : static_cast<int>(size);
  Variant scratch;
  // GetVariantTSTR only reads.
  return GetVariantTSTR(
      const_cast<Variant*>(core_internal::PackedSlots::Read(this, CheckedSlot(attr), &scratch)),
      buffer, capped);
}

std::string CDataObject::GetText(const Attr& attr) {
  Variant scratch;
  const Variant* value = core_internal::PackedSlots::Read(this, CheckedSlot(attr), &scratch);
  if (value == nullptr) return std::string();
  if (value->Type() == kVtBstr) return value->Text();
  try {
    return value->ToText();
  } catch (const ComError&) {
    return std::string();
  }
}

int CDataObject::SetText(const Attr& attr, const char* text) {
  if (text == nullptr) return 0;
  return SetValue(attr, Variant(text));
}

long CDataObject::GetInt32(const Attr& attr) {
  // An integer needs no conversion, so reading it need not make the Variant GetVariantInt converts
  // in place.
  Variant scratch;
  const Variant* value = core_internal::PackedSlots::Read(this, CheckedSlot(attr), &scratch);
  if (value != nullptr && value->Type() == kVtInt) return value->Int32();
  return GetVariantInt(GetValue(attr));
}
int CDataObject::SetInt32(const Attr& attr, long value) {
  return SetValue(attr, Variant(static_cast<int>(value)));
}

long long CDataObject::GetInt64(const Attr& attr) {
  Variant* value = GetValue(attr);
  if (value == nullptr) return -1;
  value->ChangeType(kVtI8);
  return value->Int64();
}
int CDataObject::SetInt64(const Attr& attr, long long value) {
  return SetValue(attr, Variant(value));
}

bool CDataObject::GetBool(const Attr& attr) {
  Variant scratch;
  return GetVariantBool(
      const_cast<Variant*>(core_internal::PackedSlots::Read(this, CheckedSlot(attr), &scratch)));
}
int CDataObject::SetBool(const Attr& attr, bool value) { return SetValue(attr, Variant(value)); }

double CDataObject::GetDate(const Attr& attr) {
  Variant scratch;
  return GetVariantDate(
      const_cast<Variant*>(core_internal::PackedSlots::Read(this, CheckedSlot(attr), &scratch)));
}
int CDataObject::SetDate(const Attr& attr, double value) {
  return SetValue(attr, Variant::Date(value));
}

namespace {

// Date text that cannot be read stores the zero date rather than failing.
Variant DateFromText(const char* text) {
  double date = 0.0;
  if (!OleDateTime::ParseDateTime(text, nullptr, &date)) date = 0.0;
  return Variant::Date(date);
}

// Stores what `convert` gives in `target`: 1, or 0 with `target` left unset when the value does not
// convert (or converts to nothing). Only running out of memory escapes. `convert` runs before the
// old value goes, so it may read the old value itself.
template <class Convert>
int StoreConverted(Variant* target, Convert&& convert) {
  try {
    *target = convert();
    return target->IsEmpty() ? 0 : 1;
  } catch (const ComError& e) {
    if (e.Error() == kErrOutOfMemory) throw;
    target->Clear();
    return 0;
  }
}

int StoreInSlot(Variant* target, uint16_t type, const Variant& value) {
  return StoreConverted(target, [&value, type] {
    if (value.Type() == type) return value;
    if (type == kVtDate && value.Type() == kVtBstr) return DateFromText(value.Text());
    return value.ConvertedTo(type);
  });
}

// The same as StoreInSlot(target, type, Variant(text)), without the intermediate copy.
int StoreTextInSlot(Variant* target, uint16_t type, const char* text) {
  return StoreConverted(target, [text, type] {
    return type == kVtDate ? DateFromText(text) : Variant::FromText(text, type);
  });
}

// Reads a plain decimal of at most nine digits (which cannot overflow 32 bits), optionally
// signed; false for any other text, which then takes the general conversion.
bool PlainDecimal(const char* text, int32_t* out) {
  const bool negative = *text == '-';
  if (negative || *text == '+') ++text;
  int32_t value = 0;
  int digits = 0;
  // Counting stops at the tenth digit, before the value could overflow: a longer number is left
  // to the general conversion, which checks its range.
  for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
    if (digits == 9) return false;
    value = value * 10 + (*text - '0');
  }
  if (*text != '\0' || digits == 0) return false;
  *out = negative ? -value : value;
  return true;
}

// StoreTextInSlot for a value read from an answer: the texts answers carry almost always go
// straight into the slot (texts of their exact size, booleans spelt "true"/"false", plain
// decimals); anything else takes the general conversion. A long text is copied into `arena`
// when one is given, shared with an equal text loaded just before into the same attribute of the
// same class (the department path every member of a department repeats).
int StoreLoadedText(Variant* target, uint16_t type, const char* text, ObjectArena* arena,
                    const ClassSchema* schema, int slot) {
  switch (type) {
    case kVtBstr: {
      const size_t size = std::strlen(text);
      if (arena != nullptr && size > Variant::kMaxInlineText) {
        target->AssignBorrowedText(arena->CopyText(text, size, schema, slot), size);
      } else {
        *target = Variant(text, size);
      }
      return 1;
    }
    case kVtInt: {
      int32_t value;
      if (!PlainDecimal(text, &value)) break;
      *target = Variant::OfKind(kVtInt, value);
      return 1;
    }
    case kVtBool:
      if (BoolWord(text) >= 0) {
        *target = Variant(text[0] == 't');
        return 1;
      }
      break;
    default: break;
  }
  return StoreTextInSlot(target, type, text);
}

}  // namespace

inline void core_internal::PackedSlots::StoreLoaded(uint64_t* place, uint16_t type,
                                                    const char* text, ObjectArena* arena,
                                                    const ClassSchema* schema, int slot) {
  // A place already written (a name given twice) is left to the general store.
  if (*place == 0 && arena != nullptr) {
    switch (type) {
      case kVtBstr: {
        // Its bytes are packed while its end is looked for; a longer text goes on.
        uint64_t word = kShortText;
        for (size_t i = 0; i <= kMaxShortText; ++i) {
          if (text[i] == '\0') {
            *place = word | i << 3;
            return;
          }
          if (i == kMaxShortText) break;
          word |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * (i + 1));
        }
        break;
      }
      case kVtInt: {
        int32_t value;
        if (!PlainDecimal(text, &value)) break;
        *place = kInt | static_cast<uint64_t>(static_cast<uint32_t>(value)) << 32;
        return;
      }
      case kVtBool:
        if (BoolWord(text) < 0) break;
        *place = kBool | (text[0] == 't' ? 8u : 0u);
        return;
      default: break;
    }
  }
  StoreLoadedRest(place, type, text, arena, schema, slot);
}

void core_internal::PackedSlots::StoreLoadedRest(uint64_t* place, uint16_t type, const char* text,
                                                 ObjectArena* arena, const ClassSchema* schema,
                                                 int slot) {
  // A place already written (a name given twice) takes the general store into its Variant.
  if (*place != 0 || arena == nullptr) {
    StoreLoadedText(Materialise(place, true), type, text, arena, schema, slot);
    return;
  }
  double date = 0.0;
  switch (type) {
    case kVtBstr: {
      const size_t size = std::strlen(text);
      const char* copy = arena->CopyText(text, size, schema, slot);
      const uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy));
      if ((address >> 61) == 0) {
        *place = address << 3 | kLongText;
        return;
      }
      Variant* held = new (arena->Allocate(sizeof(Variant))) Variant;
      *place = WordOf(held, kInArena);
      held->AssignBorrowedText(copy, size);
      return;
    }
    case kVtDate:
      if (!OleDateTime::ParseDateTime(text, nullptr, &date)) date = 0.0;
      if (EncodeDate(date, place)) return;
      break;
    default: break;
  }
  Variant* held = new (arena->Allocate(sizeof(Variant))) Variant;
  *place = WordOf(held, kInArena);
  if (type == kVtDate) {
    *held = Variant::Date(date);
  } else {
    StoreTextInSlot(held, type, text);
  }
}

namespace {

// Stores what `store` puts into a new Variant as the value of `name` in *extra (made when
// absent): 1; or 0, with `name` removed, when `store` gives 0.
template <class Store>
int StoreInMap(std::unique_ptr<ValueMap>* extra, const char* name, Store&& store) {
  if (!*extra) extra->reset(new ValueMap);
  std::unique_ptr<Variant> stored(new Variant);
  int result = store(stored.get());
  if (result) {
    (*extra)->SetAt(name, stored.release());
  } else {
    (*extra)->RemoveKey(name);
  }
  return result;
}

}  // namespace

int CDataObject::SetAttrValue(const char* name, const Variant& value) {
  if (name == nullptr) return 0;
  int slot = schema_->SlotOf(name);
  uint16_t type = kVtBstr;
  if (slot != ClassSchema::kNoSlot) {
    EnsureSlots();
    type = schema_->SlotType(slot);
    const int index = SlotIndex(slot);
    if (index >= 0) {
      Variant* target = slots_packed_ ? core_internal::PackedSlots::Target(this, index)
                                      : &static_cast<Variant*>(slots_)[index];
      return StoreInSlot(target, type, value);
    }
  }
  return StoreInMap(&extra_, name,
                    [type, &value](Variant* target) { return StoreInSlot(target, type, value); });
}

int CDataObject::CopyAttrValues(CDataObject* source) {
  if (source == nullptr) return 0;
  int copied = 0;
  for (const NameList* names : {&schema_->attribute_names(), &schema_->load_only_names()}) {
    for (const std::string& name : *names) {
      Variant scratch;
      const Variant* value = core_internal::PackedSlots::ReadByName(source, name.c_str(), &scratch);
      if (value != nullptr && !value->IsNull()) copied += SetAttrValue(name.c_str(), *value);
    }
  }
  return copied;
}

// ---- comparison ----

namespace {

// Reads a comparison value as the payload of kind `kind` (any integer kind counts as the integer
// kind); a value of another kind is converted first. False when it does not convert.
template <class T>
bool PayloadAs(const Variant& v, uint16_t kind, T (Variant::*payload)() const noexcept, T* out) {
  const bool same = kind == kVtInt ? IsIntegerKind(v.Type()) : v.Type() == kind;
  if (same) {
    *out = (v.*payload)();
    return true;
  }
  try {
    *out = (v.ConvertedTo(kind).*payload)();
    return true;
  } catch (const ComError&) {
    return false;
  }
}

// The text of a value for comparisons: the payload of text, the text form of anything else.
std::string_view TextOf(const Variant& v, std::string* scratch) {
  if (v.Type() == kVtBstr) return v.Text();
  try {
    *scratch = v.ToText();
  } catch (const ComError&) {
    scratch->clear();
  }
  return *scratch;
}

// Compares two values by the rule of declared type `type`: integers by their 32-bit payloads,
// booleans by their 16-bit payloads, dates by value. Gives -1 for text types, whose rule differs
// between equality and search.
int CompareByDeclaredType(uint16_t type, const Variant& a, const Variant& b) {
  auto equal = [&a, &b](uint16_t kind, auto payload) {
    decltype((a.*payload)()) x, y;
    return PayloadAs(a, kind, payload, &x) && PayloadAs(b, kind, payload, &y) && x == y ? 1 : 0;
  };
  if (IsIntegerKind(type)) return equal(kVtInt, &Variant::Int32);
  if (type == kVtBool) return equal(kVtBool, &Variant::BoolPayload);
  if (type == kVtDate) return equal(kVtDate, &Variant::Double);
  return -1;
}

}  // namespace

int CDataObject::EqualsValue(const std::string& name, Variant* value) {
  Variant* mine = GetAttrValue(name.c_str());
  if (mine == nullptr) return value == nullptr ? 1 : 0;
  if (value == nullptr) return 0;
  const int typed = CompareByDeclaredType(GetAttrType(name), *mine, *value);
  if (typed >= 0) return typed;
  std::string scratch_a, scratch_b;
  std::string_view a = TextOf(*mine, &scratch_a);
  std::string_view b = TextOf(*value, &scratch_b);
  const int slot = schema_->SlotOf(name);
  if (slot != ClassSchema::kNoSlot && schema_->IgnoresCase(slot)) {
    return a.size() == b.size() && ContainsIgnoreCase(a.data(), a.size(), b.data(), b.size()) ? 1
                                                                                              : 0;
  }
  return a == b ? 1 : 0;
}

int CDataObject::Equals(CDataObject* other) {
  if (other == nullptr) return 0;
  if (other->GetObjectType() != GetObjectType()) return 0;
  const NameList& names =
      schema_->key_names().empty() ? schema_->attribute_names() : schema_->key_names();
  for (const std::string& name : names) {
    if (!EqualsValue(name, other->GetAttrValue(name.c_str()))) return 0;
  }
  return 1;
}

int CDataObject::CheckSearchCondition(const std::string& name, Variant* value) {
  if (value == nullptr) return 1;
  // One look-up of the name serves both the value and its declared type: searches run this for
  // every object of a tree.
  const int slot = schema_->SlotOf(name);
  Variant scratch;
  const Variant* mine = slot != ClassSchema::kNoSlot
                            ? core_internal::PackedSlots::Read(this, slot, &scratch)
                        : extra_ ? extra_->Lookup(name)
                                 : nullptr;
  if (mine == nullptr) return 0;
  const uint16_t type = slot != ClassSchema::kNoSlot ? schema_->SlotType(slot) : kVtBstr;
  const int typed = CompareByDeclaredType(type, *mine, *value);
  if (typed >= 0) return typed;
  std::string scratch_a, scratch_b;
  std::string_view haystack = TextOf(*mine, &scratch_a);
  std::string_view needle = TextOf(*value, &scratch_b);
  return ContainsIgnoreCase(haystack.data(), haystack.size(), needle.data(), needle.size()) ? 1 : 0;
}

int CDataObject::CheckSearchConditions(ValueMap* conditions) {
  if (conditions == nullptr) return 1;
  for (const ValueMap::Entry& entry : *conditions) {
    if (!CheckSearchCondition(entry.first, entry.second)) return 0;
  }
  return 1;
}

// ---- XML form ----

void CDataObject::WriteAttributes(XmlElement& element, const std::vector<int>& slots) {
  for (int slot : slots) {
    Variant scratch;
    const Variant* value = core_internal::PackedSlots::Read(this, slot, &scratch);
    if (value != nullptr) WriteAttrValue(element, schema_->SlotName(slot), *value, true);
  }
}

XmlElement CDataObject::AssemblyXmlNode(const XmlElement& parent) {
  if (!parent) return XmlElement();
  XmlElement element = parent.AppendElement(GetObjectXMLTagName().c_str());
  WriteAttributes(element, schema_->attribute_slots());
  return element;
}

XmlElement CDataObject::AssemblyXmlKeyNode(const XmlElement& parent) {
  if (!parent) return XmlElement();
  XmlElement element = parent.AppendElement(GetObjectXMLTagName().c_str());
  WriteAttributes(element, schema_->key_slots());
  return element;
}

int CDataObject::LoadFromXmlNode(const XmlElement& element) {
  if (!element) return 1;
  // One pass over the element's attributes, each name found through the schema, is the same as
  // asking the element for every declared name, at a fraction of the cost. Going from the last
  // attribute to the first lets the first of two same-named attributes win, as a look-up by name
  // would.
  constexpr size_t kInline = 64;
  const char* inline_names[kInline];
  const char* inline_values[kInline];
  const char** names = inline_names;
  const char** values = inline_values;
  std::vector<const char*> more;
  const size_t count = element.GetAttributes(names, values, kInline);
  if (count > kInline) {
    more.resize(2 * count);
    names = more.data();
    values = more.data() + count;
    element.GetAttributes(names, values, count);
  }
  // Answers list attributes in declaration order, so the slot before the one just found is the
  // likely next match; a hit saves the hashed look-up.
  int inline_slots[kInline];
  std::vector<int> more_slots;
  int* slot_of = inline_slots;
  if (count > kInline) {
    more_slots.resize(count);
    slot_of = more_slots.data();
  }
  uint64_t present = 0;
  int guess = schema_->SlotCount() - 1;
  for (size_t i = count; i-- > 0;) {
    int slot = ClassSchema::kNoSlot;
    // The slot before the last one found, or one of the two before it when the answer skips a
    // declared name (a password the server never sends).
    for (int candidate = guess; candidate >= 0 && candidate > guess - 3; --candidate) {
      const char* guessed = schema_->SlotName(candidate);
      if (guessed[0] == names[i][0] && SameText(names[i], guessed)) {
        slot = candidate;
        break;
      }
    }
    if (slot == ClassSchema::kNoSlot) slot = schema_->SlotOf(names[i]);
    if (slot != ClassSchema::kNoSlot) guess = slot - 1;
    if (slot != ClassSchema::kNoSlot && !schema_->IsLoadable(slot)) slot = ClassSchema::kNoSlot;
    slot_of[i] = slot;
    if (slot != ClassSchema::kNoSlot && slot < kMaxPackedSlots) present |= uint64_t{1} << slot;
  }
  // An object that holds nothing yet, loading into an arena, gets places for what the answer
  // gave and nothing else: most objects of a large answer never have their other slots set.
  ObjectArena* loading = slots_ == nullptr ? LoadingArena() : nullptr;
  if (loading != nullptr && schema_->SlotCount() <= kMaxPackedSlots) {
    if (present != 0) AllocatePackedSlots(present, loading);
  } else {
    EnsureSlots();
  }
  ObjectArena* arena = slots_in_arena_ ? LoadingArena() : nullptr;
  // Where each slot is held in a packed array, counted once rather than for every value.
  int8_t packed_index[kMaxPackedSlots];
  if (slots_packed_) {
    present = PresentSlots(slots_);
    int8_t next = 0;
    for (int s = 0; s < kMaxPackedSlots && (present >> s) != 0; ++s) {
      packed_index[s] = (present >> s & 1) != 0 ? next++ : -1;
    }
  }
  for (size_t i = count; i-- > 0;) {
    const int slot = slot_of[i];
    if (slot == ClassSchema::kNoSlot) continue;
    const uint16_t type = schema_->SlotType(slot);
    const int index = !slots_packed_ ? IndexOfSlot(present, false, slot_count_, slot)
                      : slot < kMaxPackedSlots && (present >> slot) != 0 ? packed_index[slot]
                                                                         : -1;
    if (index >= 0 && slots_packed_) {
      core_internal::PackedSlots::StoreLoaded(&core_internal::PackedSlots::Place(this, index), type,
                                              values[i], arena, schema_, slot);
    } else if (index >= 0) {
      StoreLoadedText(&static_cast<Variant*>(slots_)[index], type, values[i], arena, schema_, slot);
    } else {
      StoreInMap(&extra_, names[i], [type, text = values[i]](Variant* target) {
        return StoreTextInSlot(target, type, text);
      });
    }
  }
  return 1;
}

XmlElement CDataObject::AssemblySubObjectsXMLNodes(const XmlElement& parent, DataObjectList* list) {
  if (list != nullptr) {
    for (CDataObject* member : *list) {
      if (member != nullptr) member->AssemblyXmlNode(parent);
    }
  }
  return parent;
}

int CDataObject::LoadSubObjectsFromXmlNode(const XmlElement& element, DataObjectList** list,
                                           CDataObject* prototype) {
  return LoadSubObjectsFromXmlNode(element, list, prototype, nullptr);
}

int CDataObject::LoadSubObjectsFromXmlNode(const XmlElement& element, DataObjectList** list,
                                           CDataObject* prototype,
                                           const std::function<void(CDataObject*)>& each) {
  return LoadChildObjects(element, list, prototype, each);
}

int LoadChildObjects(const XmlElement& element, DataObjectList** list, CDataObject* prototype,
                     const std::function<void(CDataObject*)>& each) {
  if (list == nullptr || *list != nullptr) return 1;
  *list = new DataObjectList;
  if (!element || prototype == nullptr) return 1;
  const std::string tag = prototype->GetObjectXMLTagName();
  for (XmlElement child = element.SelectChild(tag.c_str()); child;
       child.AdvanceToNextSibling(tag.c_str())) {
    CDataObject* object = prototype->CreateInstance();
    if (object == nullptr) throw ComError(kErrOutOfMemory);
    (*list)->Add(object);
    object->LoadFromXmlNode(child);
    if (each) each(object);
  }
  return 1;
}

XmlElement CDataObject::AssemblyConditionXmlNode(const XmlElement& parent, ValueMap* conditions) {
  if (!parent) return XmlElement();
  XmlElement element = parent.AppendElement(GetObjectXMLTagName().c_str());
  if (conditions != nullptr) {
    for (const ValueMap::Entry& entry : *conditions) {
      static const Variant kEmpty;
      WriteAttrValue(element, entry.first.c_str(), entry.second ? *entry.second : kEmpty, false);
    }
  }
  return element;
}

// ---- verbs ----

namespace core_internal {

// Runs on failure paths only: a scratch document is cheap there.
std::string NamedByKey(CDataObject* object) {
  std::string text = object->GetObjectXMLTagName();
  try {
    XmlDocument scratch = XmlDocument::Create();
    if (!scratch) return text;
    XmlElement key = object->AssemblyXmlKeyNode(scratch.CreateDocumentElement("key"));
    constexpr size_t kShown = 4;
    const char* names[kShown];
    const char* values[kShown];
    const size_t count = key ? key.GetAttributes(names, values, kShown) : 0;
    for (size_t i = 0; i < count && i < kShown; ++i) {
      text += ' ';
      if (count > 1) text += std::string(names[i]) + '=';
      text += values[i];
    }
  } catch (const ComError&) {
    // the object's type alone still says what is missing
  }
  return text;
}

// Recorded under the operation the exchange just recorded.
int NotInAnswer(CDataObject* object) {
  return SetLibraryFailure(LastOutcome().operation, NamedByKey(object) + " not in the answer");
}

}  // namespace core_internal

XmlDocument CDataObject::Exchange(const std::string& operation,
                                  const std::function<bool(XmlElement&)>& fill) {
  return ExchangeRequest(operation, data_source_, fill);
}

int CDataObject::ReloadFromAnswer(const XmlDocument& answer) {
  XmlElement root = answer.DocumentElement();
  XmlElement element = root ? root.SelectChild(GetObjectXMLTagName().c_str()) : XmlElement();
  if (!element) return core_internal::NotInAnswer(this);
  return LoadFromXmlNode(element);
}

int CDataObject::Add() {
  XmlDocument answer = Exchange("Add" + GetObjectName(), [this](XmlElement& root) {
    return static_cast<bool>(AssemblyXmlNode(root));
  });
  return answer ? ReloadFromAnswer(answer) : 0;
}

int CDataObject::Update(const char* operationName) {
  if (operationName == nullptr) return SetLibraryFailure("Update", "no operation name given");
  return Exchange(operationName,
                  [this](XmlElement& root) {
                    AssemblyXmlNode(root);
                    return true;
                  })
             ? 1
             : 0;
}

int CDataObject::Update() { return Update(("Update" + GetObjectName()).c_str()); }

int CDataObject::Refresh() {
  XmlDocument answer = Exchange("Query" + GetObjectName(), [this](XmlElement& root) {
    AssemblyXmlKeyNode(root);
    return true;
  });
  return answer ? ReloadFromAnswer(answer) : 0;
}

int CDataObject::Delete() {
  DataObjectList only;
  only.Add(this);
  return BatchDelete(&only);
}

int CDataObject::SendBatch(const char* verb, DataObjectList* list) {
  const std::string operation = verb + GetObjectName();
  if (list == nullptr) return SetLibraryFailure(operation, "no list given");
  return Exchange(operation,
                  [this, list](XmlElement& root) {
                    AssemblySubObjectsXMLNodes(root, list);
                    return true;
                  })
             ? 1
             : 0;
}

int CDataObject::BatchAdd(DataObjectList* list) { return SendBatch("Add", list); }
int CDataObject::BatchUpdate(DataObjectList* list) { return SendBatch("Update", list); }
int CDataObject::BatchDelete(DataObjectList* list) { return SendBatch("Del", list); }

int CDataObject::UpdateSubObjects(const char* operationName, DataObjectList* list) {
  if (operationName == nullptr) {
    return SetLibraryFailure("UpdateSubObjects", "no operation name given");
  }
  return Exchange(operationName,
                  [this, list](XmlElement& root) {
                    XmlElement key = AssemblyXmlKeyNode(root);
                    if (!key) return false;
                    AssemblySubObjectsXMLNodes(key, list);
                    return true;
                  })
             ? 1
             : 0;
}

// ---- look-up ----

DataObjectList* CDataObject::Lookup(ValueMap* conditions) {
  XmlDocument answer = Exchange("Query" + GetObjectName(), [this, conditions](XmlElement& root) {
    AssemblyConditionXmlNode(root, conditions);
    return true;
  });
  if (!answer) return nullptr;
  std::unique_ptr<DataObjectList> list(new DataObjectList);
  XmlElement root = answer.DocumentElement();
  const std::string tag = GetObjectXMLTagName();
  try {
    for (XmlElement child = root.SelectChild(tag.c_str()); child;
         child.AdvanceToNextSibling(tag.c_str())) {
      CDataObject* object = CreateInstance();
      if (object == nullptr) throw ComError(kErrOutOfMemory);
      list->Add(object);
      object->LoadFromXmlNode(child);
    }
  } catch (const ComError& error) {
    DestructElements(list.get());
    SetLibraryFailure(LastOutcome().operation,
                      "the answer's " + tag + " cannot be read: " + error.what());
    throw;
  } catch (...) {
    DestructElements(list.get());
    throw;
  }
  return list.release();
}

CDataObject* CDataObject::LookupUnique(ValueMap* conditions) {
  DataObjectList* list = Lookup(conditions);
  if (list == nullptr) return nullptr;
  const int count = list->GetSize();
  CDataObject* found = count == 1 ? list->GetAt(0) : nullptr;
  if (found == nullptr) {
    DestructElements(list);
    const std::string tag = GetObjectXMLTagName();
    SetLibraryFailure(LastOutcome().operation,
                      count == 0
                          ? "no " + tag + " matches"
                          : std::to_string(count) + " objects of type " + tag + " match, not one");
  }
  ShallowDelete(list);
  return found;
}

int CDataObject::LookupSubObjects(const char* operationName, DataObjectList** list,
                                  CDataObject* prototype) {
  if (operationName == nullptr) {
    return SetLibraryFailure("LookupSubObjects", "no operation name given");
  }
  XmlDocument answer = Exchange(operationName, [this](XmlElement& root) {
    AssemblyXmlKeyNode(root);
    return true;
  });
  if (!answer) return 0;
  XmlElement mine = answer.DocumentElement().SelectChild(GetObjectXMLTagName().c_str());
  if (!mine) return core_internal::NotInAnswer(this);
  return LoadSubObjectsFromXmlNode(mine, list, prototype);
}

}  // namespace docsec
