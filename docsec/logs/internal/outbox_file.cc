#include "docsec/logs/internal/outbox_file.h"

#include <array>
#include <cstring>

#include "docsec/platform/com_error.h"

namespace docsec::outbox_internal {
namespace {

constexpr char kHeader[] = "docsec-log-outbox 2\n";
constexpr char kLegacyRoot[] = "logOutbox";
constexpr char kRecordTag[] = "record";
constexpr size_t kCrcDigits = 8;
// A record is a few hundred bytes; a length beyond this is damage, not a record.
constexpr size_t kMaxPayload = size_t{16} << 20;

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// Reads a record's head at `at`: exactly 8 lower-case hex digits, a space, a decimal length of
// at most kMaxPayload, a space. `*payload` is where the payload starts.
bool ReadHead(const std::string& text, size_t at, uint32_t* crc, size_t* length, size_t* payload) {
  if (text.size() - at < kCrcDigits + 1 || text[at + kCrcDigits] != ' ') return false;
  *crc = 0;
  for (size_t i = 0; i < kCrcDigits; ++i) {
    const char* digit = std::strchr(kHexDigits, text[at + i]);
    if (digit == nullptr || *digit == '\0') return false;
    *crc = (*crc << 4) | static_cast<uint32_t>(digit - kHexDigits);
  }
  size_t i = at + kCrcDigits + 1;
  *length = 0;
  const size_t digits_from = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    *length = *length * 10 + static_cast<size_t>(text[i] - '0');
    if (*length > kMaxPayload) return false;
  }
  if (i == digits_from || i >= text.size() || text[i] != ' ') return false;
  *payload = i + 1;
  return true;
}

std::string Attribute(const XmlElement& element, const char* name) {
  const char* value = element.GetAttribute(name);
  return value != nullptr ? value : "";
}

// A "computer" element that carries a "log" with an identity: what the outbox wrote.
bool IsUploadable(const XmlElement& computer) {
  return computer && std::string(computer.Name()) == kComputerTag && !EntryIdOf(computer).empty();
}

// One record's payload, or false when it is not one.
bool ParsePayload(const char* data, size_t size, StoredRecord* record) {
  XmlDocument document = XmlDocument::Create();
  if (!document || !document.LoadXml(data, size)) return false;
  XmlElement root = document.DocumentElement();
  if (!root || std::string(root.Name()) != kRecordTag) return false;
  XmlElement computer = root.SelectChild(kComputerTag);
  if (!IsUploadable(computer)) return false;
  record->server = Attribute(root, "server");
  record->account = Attribute(root, "account");
  record->code = Attribute(root, "code");
  record->message = Attribute(root, "message");
  record->computer = computer;
  return true;
}

ReadBatch ParseLegacy(const std::string& text) {
  ReadBatch batch;
  batch.legacy = true;
  XmlDocument document = XmlDocument::Create();
  XmlElement root;
  if (document && document.LoadXml(text)) root = document.DocumentElement();
  if (!root || std::string(root.Name()) != kLegacyRoot) {
    batch.damaged = 1;
    return batch;
  }
  XmlNodeList children = root.SelectChildren(nullptr);
  for (size_t i = 0; i < children.Length(); ++i) {
    XmlElement computer = children.Item(i);
    if (!IsUploadable(computer)) {
      ++batch.damaged;
      continue;
    }
    StoredRecord record;
    record.computer = computer;
    batch.records.push_back(std::move(record));
  }
  return batch;
}

}  // namespace

uint32_t Crc32(const char* data, size_t size) {
  static const std::array<uint32_t, 256> table = MakeCrcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c = table[(c ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

std::string EntryIdOf(const XmlElement& computer) {
  XmlElement log = computer ? computer.SelectChild(kLogTag) : XmlElement();
  return log ? Attribute(log, kEntryId) : std::string();
}

void AppendRecord(const StoredRecord& record, std::string* text) {
  XmlDocument document = XmlDocument::Create();
  XmlElement root = document.CreateDocumentElement(kRecordTag);
  root.AppendAttribute("server", record.server.c_str());
  root.AppendAttribute("account", record.account.c_str());
  if (!record.code.empty()) {
    root.AppendAttribute("code", record.code.c_str());
    root.AppendAttribute("message", record.message.c_str());
  }
  root.AppendChild(record.computer);
  const std::string payload = root.Xml();
  const uint32_t crc = Crc32(payload.data(), payload.size());
  for (int shift = 28; shift >= 0; shift -= 4) *text += kHexDigits[(crc >> shift) & 0xF];
  *text += ' ' + std::to_string(payload.size()) + ' ';
  *text += payload;
  *text += '\n';
}

std::string RenderRecords(const std::vector<StoredRecord>& records) {
  std::string text = kHeader;
  for (const StoredRecord& record : records) AppendRecord(record, &text);
  return text;
}

ReadBatch ParseRecords(const std::string& text) {
  try {
    if (text.compare(0, sizeof kHeader - 1, kHeader) != 0) return ParseLegacy(text);
    ReadBatch batch;
    size_t at = sizeof kHeader - 1;
    while (at < text.size()) {
      const size_t line_end = text.find('\n', at);
      // The record at `at`: checksum, length, payload, and a line end right after it.
      bool read = false;
      size_t next = line_end == std::string::npos ? text.size() : line_end + 1;
      uint32_t crc = 0;
      size_t length = 0;
      size_t payload = 0;
      if (ReadHead(text, at, &crc, &length, &payload)) {
        if (payload + length < text.size() && text[payload + length] == '\n' &&
            Crc32(text.data() + payload, length) == crc) {
          StoredRecord record;
          if (ParsePayload(text.data() + payload, length, &record)) {
            batch.records.push_back(std::move(record));
            next = payload + length + 1;
            read = true;
          }
        }
      }
      if (!read) ++batch.damaged;
      at = next;
    }
    return batch;
  } catch (const ComError&) {
    ReadBatch unreadable;
    unreadable.damaged = 1;
    return unreadable;
  }
}

}  // namespace docsec::outbox_internal
