#include "tools/server/server.h"

#include <openssl/rand.h>

#include <new>
#include <pugixml.hpp>

#include "tools/server/operations.h"
#include "tools/server/request_context.h"
#include "tools/server/result_codes.h"
#include "tools/server/sqlite_storage.h"
#include "tools/server/xml_writer.h"

namespace docsec::server {
namespace {

// A password of 16 characters from an alphabet without look-alikes: about 80 bits.
std::string RandomPassword() {
  static const char kAlphabet[] = "abcdefghjkmnpqrstuvwxyzABCDEFGHJKMNPQRSTUVWXYZ23456789";
  uint8_t bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  std::string password;
  for (uint8_t b : bytes) password.push_back(kAlphabet[b % (sizeof kAlphabet - 1)]);
  return password;
}

// The caller as stored now; a session whose account vanished, was locked, lost the console right
// or changed its password since the session opened is no session.
Caller LoadCaller(Transaction& tx, const std::string& account, int64_t stamp) {
  Caller caller;
  // Why the session no longer serves; empty while it does.
  std::string ended = "account " + account + " no longer exists";
  tx.Query(
      "SELECT u.is_supervisor, u.department_id, u.admin_dept, u.is_lock, u.is_console_manager,"
      " d.id, u.session_stamp FROM users u LEFT JOIN departments d ON d.id = u.admin_dept"
      " WHERE u.id = ?",
      {account}, [&](const SqlRow& row) {
        caller.account = account;
        caller.supervisor = row.Int(0) != 0;
        caller.department_id = row.Int(1);
        caller.admin_root = row.IsNull(5) ? caller.department_id : row.Int(5);
        // Another stamp: the password changed, or this is a new account under the same id.
        if (row.Int(6) != stamp) {
          ended = "the password of " + account + " changed or the account was made anew";
        } else if (row.Int(3) != 0) {
          ended = "account " + account + " was locked";
        } else if (row.Int(4) == 0) {
          ended = "account " + account + " may no longer use the console";
        } else {
          ended.clear();
        }
      });
  if (!ended.empty()) {
    throw RequestError(kNoSession, "the session ended: " + ended + "; log in again");
  }
  return caller;
}

// Whether `text` is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool ValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
    size_t length = byte >= 0xC2 && byte <= 0xDF   ? 2
                    : byte >= 0xE0 && byte <= 0xEF ? 3
                    : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || text.size() - i < length) return false;
    auto second = static_cast<unsigned char>(text[i + 1]);
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range, narrowed at the edges
    if (byte == 0xE0) low = 0xA0;
    if (byte == 0xED) high = 0x9F;
    if (byte == 0xF0) low = 0x90;
    if (byte == 0xF4) high = 0x8F;
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Names the first attribute (in document order) whose value is not UTF-8; "" when all are. Stored
// text that is not UTF-8 would make every later answer that carries it unreadable. The walk keeps
// no stack of its own, so a deeply nested request cannot exhaust one.
std::string NonUtf8Attribute(pugi::xml_node root) {
  pugi::xml_node node = root;
  while (node) {
    for (pugi::xml_attribute attribute : node.attributes()) {
      if (ValidUtf8(attribute.value())) continue;
      std::string name = std::string(node.name()) + "/@" + attribute.name();
      return ValidUtf8(name) ? name : std::string("an attribute with a name that is not UTF-8");
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && node != root && !node.next_sibling()) node = node.parent();
    if (!node || node == root) break;
    node = node.next_sibling();
  }
  return {};
}

// The single "service" element that must open the request, or null.
pugi::xml_node ServiceElement(pugi::xml_node root) {
  pugi::xml_node first;
  for (pugi::xml_node child : root.children()) {
    if (child.type() == pugi::node_element) {
      first = child;
      break;
    }
  }
  if (!first || std::string_view(first.name()) != "service") return {};
  if (first.next_sibling("service")) return {};
  return first;
}

}  // namespace

Server::Server(ServerOptions options) : options_(std::move(options)) {
  if (!options_.now) options_.now = [] { return ServerClock::now(); };
  sessions_ = std::make_unique<SessionStore>(options_.sessions, options_.now);
  limiter_ = std::make_unique<LoginLimiter>(options_.login_limits, options_.now);
}

Server::~Server() = default;

std::unique_ptr<Server> Server::Open(ServerOptions options, std::string* error) {
  std::unique_ptr<Server> server(new Server(std::move(options)));
  SqliteStorage::Options storage;
  storage.connections = server->options_.connections;
  storage.durable_commits = server->options_.durable_commits;
  storage.exclusive = server->options_.exclusive_database;
  server->storage_ = SqliteStorage::Open(server->options_.database, storage, error);
  if (!server->storage_ || !server->Bootstrap(error)) return nullptr;
  return server;
}

bool Server::Bootstrap(std::string* error) {
  try {
    storage_->Run(Storage::Access::kWrite, Storage::Clock::time_point::max(), [&](Transaction& tx) {
      if (tx.Exists("SELECT 1 FROM departments", {})) return;
      tx.Execute(
          "INSERT INTO departments(id, name, is_system_default)"
          " VALUES(1, 'Organization', 1)");
      std::string password = options_.initial_admin_password.empty()
                                 ? RandomPassword()
                                 : options_.initial_admin_password;
      std::string hash = HashPassword(password, options_.password_iterations);
      if (password.empty() || hash.empty()) {
        throw StorageError(StorageError::kOther, "no random bytes for a password");
      }
      tx.Execute(
          "INSERT INTO users(id, name, is_console_manager, is_supervisor,"
          " password_hash, department_id, is_system_default)"
          " VALUES('admin', 'Administrator', 1, 1, ?, 1, 1)",
          {hash});
      initial_admin_password_ = password;
    });
    return true;
  } catch (const StorageError& e) {
    *error = std::string("cannot prepare the database: ") + e.what();
    initial_admin_password_.clear();
    return false;
  }
}

Response Server::Refusal(int code, const std::string& message) {
  XmlWriter out;
  out.Open("document").Open("return").Attr("code", int64_t{code}).Attr("message", message);
  Response response;
  response.body = std::string(kAnswerProlog) + out.Finish();
  response.code = code;
  return response;
}

Response Server::Handle(const Request& request) {
  if (request.body.size() > options_.max_request_bytes) {
    return Refusal(kRequestTooLarge,
                   "the request exceeds " + std::to_string(options_.max_request_bytes) + " bytes");
  }
  pugi::xml_document document;
  pugi::xml_parse_result parsed = document.load_buffer(request.body.data(), request.body.size(),
                                                       pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    return Refusal(kMalformedDocument, std::string("the request is not XML: ") +
                                           parsed.description() + " at byte " +
                                           std::to_string(parsed.offset));
  }
  pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) != "document") {
    return Refusal(kMalformedDocument,
                   "the request's root is <" + std::string(root.name()) + ">, not <document>");
  }
  pugi::xml_node service = ServiceElement(root);
  if (!service) {
    pugi::xml_node first;
    for (pugi::xml_node child : root.children()) {
      if (child.type() == pugi::node_element) {
        first = child;
        break;
      }
    }
    std::string why = !first ? std::string("the request has no elements")
                      : std::string_view(first.name()) != "service"
                          ? "the request opens with <" + std::string(first.name()) + ">"
                          : std::string("the request has more than one <service>");
    return Refusal(kMalformedDocument,
                   why + "; it must open with exactly one <service value=\"OPERATION\"/>");
  }
  std::string not_utf8 = NonUtf8Attribute(root);
  if (!not_utf8.empty()) return Refusal(kBadValue, "the value of " + not_utf8 + " is not UTF-8");
  const Operation* operation = FindOperation(service.attribute("value").value());
  if (operation == nullptr) {
    return Refusal(kUnknownOperation,
                   "unknown operation " + Quoted(service.attribute("value").value()));
  }
  std::string source(request.source);
  if (!operation->needs_session && !limiter_->TakeAttempt(source)) {
    return Refusal(kTooManyAttempts, "too many logins from " + source + "; slow down");
  }
  std::string token(request.session);
  std::string account;
  int64_t stamp = 0;
  if (operation->needs_session && !sessions_->Touch(token, &account, &stamp)) {
    return Refusal(kNoSession, std::string(operation->name) +
                                   (token.empty() ? " needs a session and the request carries none"
                                                  : " needs a session; this one is unknown, "
                                                    "expired or ended") +
                                   "; log in first");
  }

  XmlWriter out;
  out.Raw(kAnswerProlog).Raw("<document><return code=\"0\"/>");
  std::string opened;
  int64_t opened_stamp = 0;
  bool ended = false;
  try {
    Storage::Clock::time_point deadline = Storage::Clock::now() + options_.request_timeout;
    PasswordWork passwords;
    if (operation->verifies != nullptr || operation->sets != nullptr) {
      PreparePasswords(*operation, root, *storage_, options_, *limiter_, source, &passwords);
    }
    Storage::Access access = passwords.needs_write ? Storage::Access::kWrite : operation->access;
    storage_->Run(access, deadline, [&](Transaction& tx) {
      Context ctx(tx, root, out, options_, *limiter_);
      ctx.source = source;
      ctx.passwords = passwords;
      if (operation->needs_session) ctx.caller = LoadCaller(tx, account, stamp);
      operation->handler(ctx);
      opened = ctx.opened_session;
      opened_stamp = ctx.opened_stamp;
      ended = ctx.end_session;
    });
  } catch (const RequestError& e) {
    if (e.code() == kNoSession) sessions_->Revoke(token);
    return Refusal(e.code(), e.what());
  } catch (const StorageError& e) {
    switch (e.kind()) {
      case StorageError::kTimedOut:
        return Refusal(kTimedOut, "the request ran past the server's limit of " +
                                      std::to_string(options_.request_timeout.count()) +
                                      " ms; nothing was written");
      case StorageError::kConstraint:
        // The database names the constraint (tables and columns, never values).
        return Refusal(kConflict,
                       std::string("the change conflicts with stored data: ") + e.what());
      default: return Refusal(kStorageError, std::string("the database failed: ") + e.what());
    }
  } catch (const std::bad_alloc&) {
    return Refusal(kInternalError, "out of memory");
  } catch (const std::exception& e) {
    return Refusal(kInternalError, std::string("internal error: ") + e.what());
  }

  Response response;
  if (ended || (!opened.empty() && !token.empty())) sessions_->Revoke(token);
  if (!opened.empty()) {
    response.session = sessions_->Open(opened, opened_stamp);
    if (response.session.empty()) return Refusal(kInternalError, "no random bytes for a session");
  }
  response.body = out.Finish("</document>");  // opened as raw text above
  return response;
}

std::string Server::OpenSession(const std::string& account, std::string* why) {
  std::string token;
  bool found = false;
  try {
    storage_->Run(Storage::Access::kRead, Storage::Clock::now() + options_.request_timeout,
                  [&](Transaction& tx) {
                    tx.Query("SELECT session_stamp FROM users WHERE id = ?", {account},
                             [&](const SqlRow& row) {
                               found = true;
                               token = sessions_->Open(account, row.Int(0));
                             });
                  });
  } catch (const StorageError& error) {
    *why = std::string("the database cannot be read: ") + error.what();
    return {};
  }
  if (!found) *why = "no account " + account;
  if (found && token.empty()) *why = "no random bytes for a session";
  return token;
}

}  // namespace docsec::server
