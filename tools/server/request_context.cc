#include "tools/server/request_context.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace docsec::server {

DepartmentIndex& Context::departments() {
  if (!departments_loaded_) {
    departments_.Load(tx);
    departments_loaded_ = true;
  }
  return departments_;
}

bool Context::InScope(int64_t department_id) {
  if (!caller) return false;
  if (caller->supervisor) return departments().Exists(department_id);
  return departments().IsWithin(department_id, caller->admin_root);
}

void Context::RequireScope(int64_t department_id) {
  if (!departments().Exists(department_id)) {
    throw RequestError(kNotFound, "no department " + std::to_string(department_id));
  }
  if (!InScope(department_id)) {
    // The caller's own scope too, so the administrator sees at once where it may act.
    std::string scope = caller ? "; " + caller->account + " administers " +
                                     DepartmentName(caller->admin_root) + " and below"
                               : std::string();
    throw RequestError(kPermissionDenied,
                       DepartmentName(department_id) + " is outside your scope" + scope);
  }
}

void Context::RequireSupervisor(const std::string& what) {
  if (caller && caller->supervisor) return;
  std::string action = what.empty() ? "use " + std::string(operation()) : what;
  std::string who = caller ? caller->account + " is not one" : "nobody is logged in";
  throw RequestError(kPermissionDenied, "only a supervisor may " + action + "; " + who);
}

std::string Context::DepartmentName(int64_t department_id) {
  std::string name = "department " + std::to_string(department_id);
  const std::string& path = departments().Path(department_id);
  return path.empty() ? name : name + " (/" + path + ")";
}

std::string_view Context::operation() const { return AttrText(document.child("service"), "value"); }

std::string Quoted(std::string_view text) {
  constexpr size_t kMost = 64;
  if (text.size() <= kMost) return "\"" + std::string(text) + "\"";
  size_t length = kMost;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return "\"" + std::string(text.substr(0, length)) + "...\"";
}

std::string AttributeOf(pugi::xml_node node, const char* name) {
  std::string attribute = std::string("attribute \"") + name + "\"";
  return node ? attribute + " of <" + node.name() + ">" : attribute;
}

pugi::xml_node RequireChild(pugi::xml_node parent, const char* name) {
  pugi::xml_node child = parent.child(name);
  if (!child) {
    throw RequestError(kMissingElement,
                       std::string("missing element <") + name + "> in <" + parent.name() + ">");
  }
  return child;
}

std::string_view AttrText(pugi::xml_node node, const char* name) {
  pugi::xml_attribute attribute = node.attribute(name);
  return attribute ? std::string_view(attribute.value()) : std::string_view();
}

std::string RequireText(pugi::xml_node node, const char* name) {
  std::string_view text = AttrText(node, name);
  if (text.empty()) throw RequestError(kMissingAttribute, "missing " + AttributeOf(node, name));
  return std::string(text);
}

bool ParseInt(std::string_view text, int64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
    if (text.size() == 1) return false;
  }
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    uint64_t next = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (next / 10 != magnitude) return false;
    magnitude = next;
  }
  uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool ParseBool(std::string_view text, bool* value) {
  std::string lower = AsciiLower(text);
  if (lower == "true" || lower == "1" || lower == "-1") {
    *value = true;
  } else if (lower == "false" || lower == "0") {
    *value = false;
  } else {
    return false;
  }
  return true;
}

std::optional<int64_t> OptionalInt(pugi::xml_node node, const char* name) {
  std::string_view text = AttrText(node, name);
  if (text.empty()) return std::nullopt;
  int64_t value;
  if (!ParseInt(text, &value)) {
    throw RequestError(kBadValue, AttributeOf(node, name) + " is not a number: " + Quoted(text));
  }
  return value;
}

int64_t RequireInt(pugi::xml_node node, const char* name) {
  std::optional<int64_t> value = OptionalInt(node, name);
  if (!value) throw RequestError(kMissingAttribute, "missing " + AttributeOf(node, name));
  return *value;
}

std::optional<bool> OptionalBool(pugi::xml_node node, const char* name) {
  std::string_view text = AttrText(node, name);
  if (text.empty()) return std::nullopt;
  bool value;
  if (!ParseBool(text, &value)) {
    throw RequestError(kBadValue, AttributeOf(node, name) +
                                      " is not a flag (true, false, 1, 0 or -1): " + Quoted(text));
  }
  return value;
}

bool FlagSet(pugi::xml_node node, const char* name) {
  return OptionalBool(node, name).value_or(false);
}

std::optional<std::string> CanonicalDate(std::string_view text) {
  // Fields in the order year, month, day, hour, minute, second; separators as the library reads
  // them. Missing time fields are 0.
  static const char kSeparators[] = " '-/:\\";
  int fields[6] = {0, 0, 0, 0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (std::strchr(kSeparators, text[i]) != nullptr && text[i] != '\0') {
      ++i;
      continue;
    }
    if (count == 6) return std::nullopt;
    int value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || (i < text.size() && std::strchr(kSeparators, text[i]) == nullptr)) {
      return std::nullopt;
    }
    fields[count++] = value;
  }
  if (count < 3) return std::nullopt;
  int year = fields[0], month = fields[1], day = fields[2];
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || month < 1 || month > 12 || day < 1) return std::nullopt;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > days || fields[3] > 23 || fields[4] > 59 || fields[5] > 59) return std::nullopt;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, fields[3],
                fields[4], fields[5]);
  return std::string(buffer);
}

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  uint32_t address = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    int value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address = (address << 8) | static_cast<uint32_t>(value);
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return address;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string LikeContaining(std::string_view text) {
  std::string pattern = "%";
  for (char c : AsciiLower(text)) {
    if (c == '%' || c == '_' || c == '\\') pattern.push_back('\\');
    pattern.push_back(c);
  }
  pattern.push_back('%');
  return pattern;
}

}  // namespace docsec::server
