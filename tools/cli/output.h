// Output of the docsec console: aligned tables for people, JSON for scripts (--json), one-line
// errors, and a progress line that redraws itself on a terminal.
//
// A listing is built once as a Table whose columns name both the JSON field and the heading, so the
// two forms cannot drift apart: under --json a table prints as an array of objects keyed by the
// fields (the documented, stable names), otherwise as text columns.
//
// Ownership: an Output writes to streams it does not own. Thread safety: one thread at a time.
#ifndef DOCSEC_TOOLS_CLI_OUTPUT_H_
#define DOCSEC_TOOLS_CLI_OUTPUT_H_

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace docsec::cli {

using Json = nlohmann::ordered_json;

// Whether to colour: "always", "never", or "auto" (only on a terminal, never when NO_COLOR is set
// to anything or TERM is "dumb"). `terminal` tells whether the stream is one.
bool DecideColour(const std::string& mode, bool terminal);

struct Column {
  std::string field;    // the JSON field name
  std::string heading;  // the text heading
  // The cell's text for people, when it is not the value's own (a permission word's bit names);
  // JSON keeps the value.
  std::string (*text)(const Json& value) = nullptr;
};

class Table {
 public:
  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
  // Appends a row: an object keyed by the columns' fields (a missing field prints empty).
  void Add(Json row) { rows_.push_back(std::move(row)); }
  const std::vector<Column>& columns() const { return columns_; }
  const Json& rows() const { return rows_; }
  size_t size() const { return rows_.size(); }

 private:
  std::vector<Column> columns_;
  Json rows_ = Json::array();
};

class Output {
 public:
  Output(std::ostream& out, std::ostream& err, bool json, bool colour, bool err_terminal);

  bool json() const { return json_; }
  // -q: per-item details (PrintDetails) are left out; summaries and records still print.
  void set_quiet(bool quiet) { quiet_ = quiet; }
  bool quiet() const { return quiet_; }
  bool colour() const { return colour_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // The table as aligned columns under a bold heading, or as a JSON array of its rows.
  void PrintTable(const Table& table);
  // A table of per-item details behind a summary (each file of an encrypt): PrintTable, or
  // nothing under -q without --json (the JSON document keeps its items).
  void PrintDetails(const Table& table);
  // A JSON value as indented JSON (under --json), or each field of an object as "name: value".
  void PrintRecord(const Json& record);
  // A JSON document under --json; nothing otherwise (for results people read from Say).
  void PrintJsonOnly(const Json& value);
  // The outcome of a change: `record` as JSON under --json, else `line` for people.
  void Report(const Json& record, const std::string& line);
  // A line for people on out; silent under --json, whose output must stay one document.
  void Say(const std::string& line);
  // "docsec: " and the line on err, in red on a terminal.
  void Error(const std::string& line);
  // `text` in green (good) or red (bad) when colouring.
  std::string Good(const std::string& text) const;
  std::string Bad(const std::string& text) const;

 private:
  // `value` as indented JSON; invalid UTF-8 in its texts is replaced (U+FFFD) and said on err.
  std::string JsonText(const Json& value);

  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  bool colour_;
  bool err_colour_;
  bool quiet_ = false;
};

// A line on a terminal that each Update redraws in place ("\r", the text, erase to the end), for
// per-file progress; does nothing when the stream is not a terminal, so logs and pipes get only
// the final report.
class ProgressLine {
 public:
  ProgressLine(std::ostream& stream, bool terminal) : stream_(stream), terminal_(terminal) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Update(const std::string& text);
  // "[#####.....] done/total  label": a bar of `width` cells.
  void Bar(size_t done, size_t total, const std::string& label, size_t width = 24);
  // Erases the line.
  void Clear();

 private:
  std::ostream& stream_;
  bool terminal_;
  bool shown_ = false;
};

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_OUTPUT_H_
