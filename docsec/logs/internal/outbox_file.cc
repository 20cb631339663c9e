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

// Tables for reading eight bytes a step ("slicing by 8"): table[k][b] is the CRC register's
// change from byte b followed by k zero bytes. A batch is checksummed record by record as it is
// written, and a byte a step showed in the cost of every operation that logs.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t k = 1; k < tables.size(); ++k) {
      tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    }
  }
  return tables;
}

// Four bytes as a little-endian word, whatever the machine's order.
uint32_t Word(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
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
  static const CrcTables t = MakeCrcTables();
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  uint32_t c = 0xFFFFFFFFu;
  for (; size >= 8; size -= 8, p += 8) {
    const uint32_t low = c ^ Word(p);
    const uint32_t high = Word(p + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; --size, ++p) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string EntryIdOf(const XmlElement& computer) {
  XmlElement log = computer ? computer.SelectChild(kLogTag) : XmlElement();
  return log ? Attribute(log, kEntryId) : std::string();
}

namespace {

// The start tag of a record's payload, its attribute values escaped by the XML library: the
// library writes the record element without content, and its "/>" becomes ">".
std::string StartTag(const StoredRecord& record) {
  XmlDocument document = XmlDocument::Create();
  XmlElement root = document.CreateDocumentElement(kRecordTag);
  root.AppendAttribute("server", record.server.c_str());
  root.AppendAttribute("account", record.account.c_str());
  if (!record.code.empty()) {
    root.AppendAttribute("code", record.code.c_str());
    root.AppendAttribute("message", record.message.c_str());
  }
  std::string tag = root.Xml();
  const size_t close = tag.rfind("/>");
  if (close == std::string::npos) throw ComError(kErrFail);
  tag.replace(close, std::string::npos, ">");
  return tag;
}

bool SameHead(const StoredRecord& a, const StoredRecord& b) {
  return a.server == b.server && a.account == b.account && a.code == b.code &&
         a.message == b.message;
}

// Appends the line of `record`, whose payload starts with `start_tag`.
void AppendLine(const std::string& start_tag, const StoredRecord& record, std::string* text) {
  const std::string upload = record.computer.Xml();
  std::string payload;
  payload.reserve(start_tag.size() + upload.size() + sizeof kRecordTag + 3);
  payload.append(start_tag).append(upload).append("</").append(kRecordTag).append(">");
  const uint32_t crc = Crc32(payload.data(), payload.size());
  for (int shift = 28; shift >= 0; shift -= 4) *text += kHexDigits[(crc >> shift) & 0xF];
  *text += ' ' + std::to_string(payload.size()) + ' ';
  *text += payload;
  *text += '\n';
}

}  // namespace

std::string RenderRecords(const std::vector<StoredRecord>& records) {
  std::string text = kHeader;
  // The records of one batch share their server and account: one start tag serves them all.
  const StoredRecord* tag_of = nullptr;
  std::string start_tag;
  for (const StoredRecord& record : records) {
    if (tag_of == nullptr || !SameHead(*tag_of, record)) {
      start_tag = StartTag(record);
      tag_of = &record;
    }
    AppendLine(start_tag, record, &text);
    // The first line tells how long the others will be, near enough to grow the text once.
    if (&record == &records.front()) text.reserve(text.size() * records.size() + 64);
  }
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
