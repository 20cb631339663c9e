#include "tools/cli/exchange_log.h"

namespace docsec::cli {
namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameStart(char c) {
  return IsNameChar(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.';
}
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Names, not values, decide: a value may be anything, and a password rarely looks like one.
bool IsSecret(std::string_view element, std::string_view attribute) {
  if (Lower(element) == "random") return true;  // the key an offline login's answer is sealed with
  const std::string name = Lower(attribute);
  return EndsWith(name, "password") || EndsWith(name, "pwd") || EndsWith(name, "key") ||
         name == "signeddata" || name == "signresult" || name == "encodingcert";
}

// The value of the first `name="..."` after the first occurrence of `after` in `text`; "" when
// either is missing.
std::string_view AttributeAfter(std::string_view text, std::string_view after,
                                std::string_view name) {
  size_t at = text.find(after);
  if (at == std::string_view::npos) return {};
  size_t close = text.find('>', at);
  std::string_view tag = text.substr(at, close == std::string_view::npos ? close : close - at);
  const std::string key = " " + std::string(name) + "=\"";
  size_t start = tag.find(key);
  if (start == std::string_view::npos) return {};
  start += key.size();
  size_t end = tag.find('"', start);
  return end == std::string_view::npos ? std::string_view() : tag.substr(start, end - start);
}

}  // namespace

std::string MaskSecrets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::string_view element;  // of the tag being read; empty outside tags
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (element.empty()) {
      out += c;
      ++i;
      if (c == '<' && i < text.size() && IsNameStart(text[i])) {
        size_t end = i;
        while (end < text.size() && IsNameChar(text[end])) ++end;
        element = text.substr(i, end - i);
        out.append(element);
        i = end;
      }
      continue;
    }
    if (c == '>') {
      element = {};
      out += c;
      ++i;
      continue;
    }
    if (!IsNameStart(c)) {
      out += c;
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    const std::string_view name = text.substr(i, end - i);
    size_t j = end;
    while (j < text.size() && IsBlank(text[j])) ++j;
    if (j < text.size() && text[j] == '=') ++j;
    while (j < text.size() && IsBlank(text[j])) ++j;
    if (j >= text.size() || (text[j] != '"' && text[j] != '\'')) {
      out.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    const char quote = text[j];
    size_t close = text.find(quote, j + 1);
    if (close == std::string_view::npos) close = text.size();
    out.append(text.substr(i, j + 1 - i));  // the name, "=" and the opening quote
    const std::string_view value = text.substr(j + 1, close - j - 1);
    out.append(IsSecret(element, name) && !value.empty() ? std::string_view("***") : value);
    if (close < text.size()) out += quote;
    i = close + 1;
  }
  return out;
}

std::string DescribeExchange(const SvcTransportExchange& exchange) {
  std::string_view operation = AttributeAfter(exchange.request, "<service", "value");
  std::string line = "exchange " + std::string(operation.empty() ? "?" : operation) +
                     " (entry point " + std::to_string(exchange.entry_point) +
                     "): " + std::to_string(exchange.milliseconds) + " ms, ";
  if (!exchange.answer) {
    line += std::string("no answer, ") + SvcTransportFailureKindName(exchange.failure.kind);
    if (exchange.failure.kind == SvcTransportFailureKind::kHttpStatus) {
      line += " " + std::to_string(exchange.failure.http_status);
    }
    if (!exchange.failure.text.empty()) line += " (" + exchange.failure.text + ")";
    return line;
  }
  std::string_view code = AttributeAfter(*exchange.answer, "<return", "code");
  return line + (code.empty() ? std::string("an answer without a result code")
                              : "code " + std::string(code));
}

ExchangeLog::ExchangeLog(std::ostream& err, bool trace) : err_(err), trace_(trace) {
  previous_ =
      SvcTransportSetObserver([this](const SvcTransportExchange& exchange) { Show(exchange); });
}

ExchangeLog::~ExchangeLog() { SvcTransportSetObserver(std::move(previous_)); }

void ExchangeLog::Show(const SvcTransportExchange& exchange) {
  std::string text = DescribeExchange(exchange) + "\n";
  if (trace_) {
    text += "  request: " + MaskSecrets(exchange.request) + "\n";
    if (exchange.answer) text += "  answer: " + MaskSecrets(*exchange.answer) + "\n";
  }
  std::lock_guard<std::mutex> lock(mutex_);
  err_ << text << std::flush;
}

}  // namespace docsec::cli
