// Entity: how one kind of stored object maps between its XML element and its table. One table
// of fields per kind drives the generic parts of every operation: reading and checking the values
// a request carries, the SQL for inserts, updates and searches, and the element an answer writes.
// What differs between kinds (rights, cross checks, derived paths) stays in the operation files.
//
// Thread safety: entities are constant tables.
#ifndef DOCSEC_TOOLS_SERVER_ENTITY_H_
#define DOCSEC_TOOLS_SERVER_ENTITY_H_

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/server/request_context.h"

namespace docsec::server {

enum class FieldType { kText, kInt, kBool, kDate };

enum FieldFlag : unsigned {
  kKey = 1u,          // identifies the object
  kServerSet = 2u,    // answered, never taken from a request; with no column, derived (paths)
  kRequestOnly = 4u,  // read by the operation itself; never stored or answered by this code
  kAssigned = 8u,     // an integer id the server assigns when the object is added
  kLowerCase = 16u,   // stored and compared in lower case (identifiers matched regardless of case)
  // Text on the wire that holds a whole number (a department's parent, an account's encryption
  // mode): the library declares it text and converts on access, so the wire type stays text,
  // while the server checks it, stores it, matches it and answers it as the integer it is, so
  // stored rows and joins on the column keep their integer form.
  kDigits = 32u,
};

struct Field {
  std::string_view xml;  // attribute name on the wire (a literal, so its data ends with a NUL)
  const char* column;    // column, or null for attributes that have none (request-only, derived)
  FieldType type;        // the type the wire declares, as the library's class declares it
  unsigned flags;
};

struct Entity;
// Writes the attributes an answer computes from the row (paths), after the stored ones.
using DeriveFunction = void (*)(Context& ctx, XmlWriter& out, const Entity& entity,
                                const SqlRow& row);

struct Entity {
  const char* object_name;  // forms operation names: "Add" + object_name
  const char* tag;          // element name
  const char* table;
  std::vector<Field> fields;      // in the order attributes are answered
  const char* order_by;           // answers list objects in this order
  const char* department_column;  // the column that scopes an object, or null for global ones
  DeriveFunction derive;
  // Logs keep what the agent reported, however long: an upload refused would lose the record.
  bool keeps_long_texts = false;

  const Field* FindField(std::string_view xml) const;
  // The result column of `column` in SelectSql(); -1 when it is not selected.
  int ColumnIndex(std::string_view column) const;
  // "SELECT <every field column> FROM <table>".
  std::string SelectSql() const;
};

using FieldValues = std::vector<std::pair<const Field*, SqlValue>>;

// The longest text an attribute may store: the library copies texts between objects through
// 520-byte buffers, so a longer one could not be read back whole, and unbounded names would make
// every path built from them (tree views, searches) cost their length times the tree's depth.
constexpr size_t kMaxTextBytes = 519;

// The stored form of one attribute's text: checked and normalised by the field's type. Empty text
// is NULL for every type but text. Throws kBadValue.
SqlValue StoredValue(const Field& field, std::string_view text);
// The values of `element` that a request may set: fields with a column that are neither server-set
// nor request-only, and only those present on the element. Assigned ids and keys are included
// when `with_keys` is true. Text above kMaxTextBytes throws kBadValue unless the entity keeps
// long texts.
FieldValues WritableValues(const Entity& entity, pugi::xml_node element, bool with_keys);
// The value of one field on `element`, or NULL when absent.
SqlValue ElementValue(const Entity& entity, pugi::xml_node element, const char* xml);

// Adds "AND ..." terms for the conditions `condition` carries: keys, integers, flags and dates
// match exactly; other text matches when it contains the condition text, ignoring ASCII case;
// an empty text condition asks only that the attribute be set.
void AppendConditions(const Entity& entity, pugi::xml_node condition, std::string* where,
                      SqlParams* params);

// Writes the row's element (stored attributes except those named in `omit`, then the derived
// ones unless `derived` is false) to `out` and leaves it open for children.
void OpenRowElement(Context& ctx, XmlWriter& out, const Entity& entity, const SqlRow& row,
                    const std::vector<std::string_view>* omit = nullptr, bool derived = true);
// Selects with `where` (starting " WHERE ..." or empty) and writes every row for which `visible`
// (when given) is true, as closed elements. Gives the number written.
size_t WriteRows(Context& ctx, const Entity& entity, const std::string& where,
                 const SqlParams& params,
                 const std::function<bool(const SqlRow&)>& visible = nullptr);

// INSERT of `values`; gives the new row's integer key (RETURNING) when the entity assigns one,
// else 0. Throws kAlreadyExists for a duplicate key and kConflict for another constraint.
int64_t InsertRow(Context& ctx, const Entity& entity, const FieldValues& values);
// UPDATE of `values` in the rows `where` names; gives the rows changed.
int64_t UpdateRows(Context& ctx, const Entity& entity, const FieldValues& values,
                   const std::string& where, const SqlParams& where_params);

// The kinds of object the server keeps.
extern const Entity kDepartmentEntity;
extern const Entity kUserEntity;
extern const Entity kComputerEntity;
extern const Entity kPositionEntity;
extern const Entity kSecretLevelEntity;
extern const Entity kApplicationEntity;
extern const Entity kIpSegmentEntity;
extern const Entity kDefaultLevelEntity;
extern const Entity kLogEntity;
extern const Entity kScanLogEntity;

// Every entity above, for checks that walk them all.
const std::vector<const Entity*>& AllEntities();

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_ENTITY_H_
