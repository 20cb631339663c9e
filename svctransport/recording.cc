#include "svctransport/recording.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

namespace docsec::transport_internal {
namespace {

constexpr const char* kHeader = "docsec-transport-recording 1\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// True when `text` at `at` holds "dddd-dd-dd dd:dd:dd".
bool TimeAt(const std::string& text, size_t at) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (at + sizeof kShape - 1 > text.size()) return false;
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    char c = text[at + i];
    if (kShape[i] == 'd' ? !IsDigit(c) : c != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::string NormaliseRequest(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (TimeAt(text, i)) {
      out += "@TIME@";
      i += 19;
      continue;
    }
    if (IsHex(text[i]) && (i == 0 || !IsHex(text[i - 1]))) {
      size_t end = i;
      while (end < text.size() && IsHex(text[end])) ++end;
      if (end - i == 32) {
        out += "@HEX32@";
        i = end;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

Recorder::~Recorder() {
  if (file_ != nullptr) std::fclose(file_);
}

bool Recorder::Open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    *error = "cannot open the recording " + path + ": " + std::strerror(errno);
    return false;
  }
  if (std::ftell(file) == 0) std::fputs(kHeader, file);
  std::fflush(file);
  if (file_ != nullptr) std::fclose(file_);
  file_ = file;
  return true;
}

void Recorder::Append(const Exchange& exchange) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  long answer_size = exchange.answer ? static_cast<long>(exchange.answer->size()) : -1;
  std::fprintf(file_, "exchange %d %ld %zu %ld\n", exchange.entry_point, exchange.milliseconds,
               exchange.request.size(), answer_size);
  std::fwrite(exchange.request.data(), 1, exchange.request.size(), file_);
  if (exchange.answer) std::fwrite(exchange.answer->data(), 1, exchange.answer->size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

bool Replayer::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the recording " + path;
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = std::strlen(kHeader);
  if (text.compare(0, at, kHeader) != 0) {
    *error = path + " is not a transport recording";
    return false;
  }
  std::vector<Exchange> exchanges;
  while (at < text.size()) {
    size_t line_end = text.find('\n', at);
    if (line_end == std::string::npos) break;
    Exchange exchange;
    unsigned long request_size = 0;
    long answer_size = 0;
    std::string line = text.substr(at, line_end - at);
    if (std::sscanf(line.c_str(), "exchange %d %ld %lu %ld", &exchange.entry_point,
                    &exchange.milliseconds, &request_size, &answer_size) != 4 ||
        answer_size < -1) {
      *error = path + ": malformed record at byte " + std::to_string(at);
      return false;
    }
    size_t body = line_end + 1;
    size_t answer_bytes = answer_size < 0 ? 0 : static_cast<size_t>(answer_size);
    if (request_size > text.size() - body || answer_bytes > text.size() - body - request_size ||
        body + request_size + answer_bytes >= text.size()) {
      *error = path + ": a record runs past the end of the file";
      return false;
    }
    exchange.request = text.substr(body, request_size);
    if (answer_size >= 0) exchange.answer = text.substr(body + request_size, answer_bytes);
    at = body + request_size + answer_bytes + 1;
    exchanges.push_back(std::move(exchange));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  exchanges_ = std::move(exchanges);
  normalised_.clear();
  for (const Exchange& exchange : exchanges_) {
    normalised_.push_back(NormaliseRequest(exchange.request));
  }
  used_.assign(exchanges_.size(), false);
  return true;
}

std::optional<std::string> Replayer::Use(size_t index) {
  used_[index] = true;
  return exchanges_[index].answer;
}

std::optional<std::string> Replayer::Answer(int entry_point, const std::string& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string normalised;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) normalised = NormaliseRequest(request);
    size_t last = exchanges_.size();
    for (size_t i = 0; i < exchanges_.size(); ++i) {
      const Exchange& exchange = exchanges_[i];
      if (exchange.entry_point != entry_point) continue;
      if (pass == 0 ? exchange.request != request : normalised_[i] != normalised) continue;
      if (!used_[i]) return Use(i);
      last = i;
    }
    if (last < exchanges_.size()) return Use(last);
  }
  return std::nullopt;
}

}  // namespace docsec::transport_internal
