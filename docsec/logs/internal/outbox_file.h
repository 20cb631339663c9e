// The text of an outbox file: the records of one batch (or one refused record), each checksummed
// on its own so that damage to one record loses only that record.
//
// Layout: the line "docsec-log-outbox 2", then one line per record,
//     <CRC-32 of the payload, 8 hex digits> <payload length, decimal> <payload>
// where the payload is <record server="..." account="..." [code="..." message="..."]>, holding
// the upload's "computer" element with its "log". A record is read only when its length fits,
// its line ends where the length says and its checksum matches; reading then goes on at the next
// line. Files written before records named their server hold one XML document instead,
// <logOutbox><computer ...><log .../></computer>...</logOutbox>; their records name no server.
//
// Thread safety: plain functions over values.
#ifndef DOCSEC_LOGS_INTERNAL_OUTBOX_FILE_H_
#define DOCSEC_LOGS_INTERNAL_OUTBOX_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/xml.h"

namespace docsec::outbox_internal {

// The upload's elements: "computer" holding one "log", whose "entryId" is the record's identity.
inline constexpr char kComputerTag[] = "computer";
inline constexpr char kLogTag[] = "log";
inline constexpr char kEntryId[] = "entryId";

// One record as kept: where it goes, whose it is, a refusal's code and message (refused records
// only), and the "computer" element to upload.
struct StoredRecord {
  std::string server;   // "" for a record written before records named their server
  std::string account;  // the acting user's account, "" when not known
  std::string code;     // the server's refusal, "" while the record waits
  std::string message;
  XmlElement computer;  // its document lives as long as the element
};

// What a file held.
struct ReadBatch {
  std::vector<StoredRecord> records;  // the readable ones, in order
  size_t damaged = 0;                 // records (or, for an unreadable file, 1) that were lost
  bool legacy = false;                // the XML form of earlier versions
};

// The CRC-32 (the common polynomial 0xEDB88320) of `size` bytes.
uint32_t Crc32(const char* data, size_t size);

// The text of a file holding `records`.
std::string RenderRecords(const std::vector<StoredRecord>& records);
// Reads a file's text in either form.
ReadBatch ParseRecords(const std::string& text);

// The "entryId" of a record's "log", "" when it has none.
std::string EntryIdOf(const XmlElement& computer);

}  // namespace docsec::outbox_internal

#endif  // DOCSEC_LOGS_INTERNAL_OUTBOX_FILE_H_
