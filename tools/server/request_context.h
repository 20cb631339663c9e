// The context of one request as the operation handlers see it: the open transaction, the parsed
// request, the answer being written, the caller and its scope, plus the readers that turn request
// attributes into checked values (each refusal is a RequestError with the code of the table).
//
// Scope: a supervisor may reach every department; any other console user only the department it
// administers ("adminDept", or its own department when that is unset) and the departments below.
//
// Thread safety: one context per request, used by one thread.
#ifndef DOCSEC_TOOLS_SERVER_REQUEST_CONTEXT_H_
#define DOCSEC_TOOLS_SERVER_REQUEST_CONTEXT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "tools/server/department_index.h"
#include "tools/server/result_codes.h"
#include "tools/server/server_options.h"
#include "tools/server/session_store.h"
#include "tools/server/storage.h"
#include "tools/server/xml_writer.h"

namespace docsec::server {

// Password hashing done before the request's transaction, so that the slow key derivation never
// holds a database connection or lock.
struct PasswordWork {
  std::map<std::string, std::string> verified;    // account -> the stored hash its password matched
  std::map<std::string, std::string> new_hashes;  // a new password -> its hash
  bool needs_write = false;  // a login must store a stronger hash of its password
};

// The account behind the request's session, as stored now.
struct Caller {
  std::string account;
  bool supervisor = false;
  int64_t department_id = 0;
  int64_t admin_root = 0;  // the top of the caller's scope
};

class Context {
 public:
  Context(Transaction& transaction, pugi::xml_node request_root, XmlWriter& answer,
          const ServerOptions& server_options, LoginLimiter& login_limiter)
      : tx(transaction),
        document(request_root),
        out(answer),
        options(server_options),
        limiter(login_limiter) {}

  Transaction& tx;
  const pugi::xml_node document;  // the request's root element
  XmlWriter& out;                 // the answer, after its "return" element
  const ServerOptions& options;
  LoginLimiter& limiter;
  std::optional<Caller> caller;  // absent for the logins
  std::string source;            // the client's address; empty in-process
  PasswordWork passwords;
  // Set by a console login (and by a change of the caller's own password, which ends the session
  // it came with): the account to open a session for, under its current stamp.
  std::string opened_session;
  int64_t opened_stamp = 0;
  bool end_session = false;  // set by a logout: the request's session ends with it

  // The department tree, read on first use.
  DepartmentIndex& departments();
  // To be called after a change to departments, so later look-ups see it.
  void DepartmentsChanged() { departments_loaded_ = false; }

  bool InScope(int64_t department_id);
  // Throws kNotFound for an unknown department and kPermissionDenied outside the scope; both
  // messages name the department, the second with its path and the caller's scope.
  void RequireScope(int64_t department_id);
  // Throws kPermissionDenied for a caller who is no supervisor; `what` completes "only a
  // supervisor may ..." (by default: use the request's operation).
  void RequireSupervisor(const std::string& what = "");

  // How refusals name a department: "department 4 (/Demo Corp/Sales)", or "department 99" for
  // one that does not exist.
  std::string DepartmentName(int64_t department_id);
  // The request's operation, as its "service" names it.
  std::string_view operation() const;

 private:
  DepartmentIndex departments_;
  bool departments_loaded_ = false;
};

// Request readers. An attribute that is present but empty counts as absent for the Require forms.
// Their refusals name the attribute, its element and, for a bad value, the value itself (so the
// readers are for attributes that never hold a password or a key).
pugi::xml_node RequireChild(pugi::xml_node parent, const char* name);
std::string_view AttrText(pugi::xml_node node, const char* name);
std::string RequireText(pugi::xml_node node, const char* name);
int64_t RequireInt(pugi::xml_node node, const char* name);
// Absent or empty gives nullopt; text that is not a decimal 64-bit integer throws kBadValue.
std::optional<int64_t> OptionalInt(pugi::xml_node node, const char* name);
// "true"/"false" (any case) and "1"/"0"/"-1"; anything else throws kBadValue.
std::optional<bool> OptionalBool(pugi::xml_node node, const char* name);
bool FlagSet(pugi::xml_node node, const char* name);

// Decimal text to an integer; false for anything else (no blanks, no trailing characters).
bool ParseInt(std::string_view text, int64_t* value);
bool ParseBool(std::string_view text, bool* value);
// A date in the forms the library reads ("2009-3-7 4:05:09", "2009/03/07", ...) as the canonical
// "yyyy-MM-dd HH:mm:ss"; nullopt when the text is no valid calendar time.
std::optional<std::string> CanonicalDate(std::string_view text);
// A dotted IPv4 address as a number; nullopt for anything else.
std::optional<uint32_t> ParseIpv4(std::string_view text);
// A value from the request as a refusal quotes it: in double quotes, cut after 64 bytes (at a
// character boundary) so that a huge value does not make a huge answer.
std::string Quoted(std::string_view text);
// `attribute "name" of <element>`, the way refusals name an attribute of the request.
std::string AttributeOf(pugi::xml_node node, const char* name);

// Lower-cases ASCII letters.
std::string AsciiLower(std::string_view text);
// The text with SQL LIKE's wildcards escaped by "\", for "LIKE ? ESCAPE '\'".
std::string LikeContaining(std::string_view text);

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_REQUEST_CONTEXT_H_
