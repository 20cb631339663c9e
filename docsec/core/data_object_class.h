// The identity of a data-object class, written once: DOCSEC_DATA_OBJECT(Class) in the class body
// declares the constructor, CreateInstance, the three identity functions, GetClassInstance and
// Initialize; DOCSEC_DEFINE_DATA_OBJECT(Class, type, "Name", "tag", s_clsName) in the class's
// source defines them, builds the schema from Class::kAttributes and registers the shared
// instance `s_clsName` with library start-up. See docs/writing-a-class.md.
//
// The definitions live in the library's source, not in the header, so a console that constructs
// an object or asks for the shared instance reaches the library's one schema and one instance.
#ifndef DOCSEC_CORE_DATA_OBJECT_CLASS_H_
#define DOCSEC_CORE_DATA_OBJECT_CLASS_H_

#include <new>
#include <string>
#include <typeinfo>

#include "docsec/core/data_object.h"
#include "docsec/core/owned_list.h"
#include "docsec/core/shared_instance.h"

// In the class body, first thing. Leaves the access at `public`.
#define DOCSEC_DATA_OBJECT(Class)                         \
 public:                                                  \
  Class();                                                \
  ::docsec::CDataObject* CreateInstance() override;       \
  ::docsec::CEnumDataObjectType GetObjectType() override; \
  std::string GetObjectName() override;                   \
  std::string GetObjectXMLTagName() override;             \
  static Class* GetClassInstance();                       \
                                                          \
 protected:                                               \
  void Initialize() override;                             \
                                                          \
 private:                                                 \
  static ::docsec::ClassSchemaSlot s_schema_;             \
                                                          \
 public:

// The same for a class without a shared instance (no GetClassInstance).
#define DOCSEC_DATA_OBJECT_NO_INSTANCE(Class)             \
 public:                                                  \
  Class();                                                \
  ::docsec::CDataObject* CreateInstance() override;       \
  ::docsec::CEnumDataObjectType GetObjectType() override; \
  std::string GetObjectName() override;                   \
  std::string GetObjectXMLTagName() override;             \
                                                          \
 protected:                                               \
  void Initialize() override;                             \
                                                          \
 private:                                                 \
  static ::docsec::ClassSchemaSlot s_schema_;             \
                                                          \
 public:

// Accessor pairs, one line per attribute in the class body: Get<Name>/Set<Name> over `attr`.
// Text getters copy into the caller's buffer (see CDataObject::GetText), or give the whole text
// ("" when unset) without a buffer; integer getters give -1, date getters -1.0 and boolean getters
// false when the attribute is unset.
#define DOCSEC_TEXT_PROPERTY(Name, attr)                                                  \
  int Get##Name(char* buffer, unsigned long size) { return GetText(attr, buffer, size); } \
  std::string Get##Name##Text() { return GetText(attr); }                                 \
  int Set##Name(const char* text) { return SetText(attr, text); }
#define DOCSEC_INT_PROPERTY(Name, attr)       \
  long Get##Name() { return GetInt32(attr); } \
  int Set##Name(long value) { return SetInt32(attr, value); }
#define DOCSEC_BOOL_PROPERTY(Name, attr)     \
  bool Get##Name() { return GetBool(attr); } \
  int Set##Name(bool value) { return SetBool(attr, value); }
#define DOCSEC_DATE_PROPERTY(Name, attr)       \
  double Get##Name() { return GetDate(attr); } \
  int Set##Name(double value) { return SetDate(attr, value); }

// In namespace docsec of the class's source. A class that defines a part itself (a type that
// depends on the object, a constructor with more to do) composes the others from the pieces:
// _PARTS, _CONSTRUCTOR, _TYPE and _INSTANCE.
#define DOCSEC_DEFINE_DATA_OBJECT_PARTS(Class, object_name, xml_tag)                         \
  static_assert(alignof(Class) <= alignof(void*),                                            \
                "data objects are placed at pointer alignment (CDataObject::operator new)"); \
  ::docsec::ClassSchemaSlot Class::s_schema_;                                                \
  ::docsec::CDataObject* Class::CreateInstance() { return new (std::nothrow) Class; }        \
  std::string Class::GetObjectName() { return object_name; }                                 \
  std::string Class::GetObjectXMLTagName() { return xml_tag; }                               \
  void Class::Initialize() { DeclareAttributes(Class::kAttributes); }

// The constructor adopts the class's schema. A class whose constructor has more to do (create a
// member object) writes it itself, starting with ADOPT_SCHEMA.
#define DOCSEC_DATA_OBJECT_ADOPT_SCHEMA(Class) InitializeClass(s_schema_, typeid(Class))
#define DOCSEC_DEFINE_DATA_OBJECT_CONSTRUCTOR(Class) \
  Class::Class() { DOCSEC_DATA_OBJECT_ADOPT_SCHEMA(Class); }

#define DOCSEC_DEFINE_DATA_OBJECT_TYPE(Class, object_type) \
  ::docsec::CEnumDataObjectType Class::GetObjectType() { return object_type; }

#define DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(Class, instance_name) \
  namespace {                                                    \
  ::docsec::SharedInstance<Class> instance_name;                 \
  }                                                              \
  Class* Class::GetClassInstance() { return instance_name.Get(); }

#define DOCSEC_DEFINE_DATA_OBJECT(Class, object_type, object_name, xml_tag, instance_name) \
  DOCSEC_DEFINE_DATA_OBJECT_PARTS(Class, object_name, xml_tag)                             \
  DOCSEC_DEFINE_DATA_OBJECT_CONSTRUCTOR(Class)                                             \
  DOCSEC_DEFINE_DATA_OBJECT_TYPE(Class, object_type)                                       \
  DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(Class, instance_name)

#define DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(Class, object_type, object_name, xml_tag) \
  DOCSEC_DEFINE_DATA_OBJECT_PARTS(Class, object_name, xml_tag)                          \
  DOCSEC_DEFINE_DATA_OBJECT_CONSTRUCTOR(Class)                                          \
  DOCSEC_DEFINE_DATA_OBJECT_TYPE(Class, object_type)

#endif  // DOCSEC_CORE_DATA_OBJECT_CLASS_H_
