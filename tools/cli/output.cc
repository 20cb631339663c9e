#include "tools/cli/output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace docsec::cli {

namespace {

constexpr const char* kBold = "\033[1m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kGreen = "\033[32m";
constexpr const char* kReset = "\033[0m";

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take two, so names in
// Chinese still line up.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    unsigned int code = lead;
    size_t length = 1;
    if (lead >= 0xF0) {
      length = 4, code = lead & 0x07;
    } else if (lead >= 0xE0) {
      length = 3, code = lead & 0x0F;
    } else if (lead >= 0xC0) {
      length = 2, code = lead & 0x1F;
    }
    for (size_t k = 1; k < length && i + k < text.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += length;
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFF00 && code <= 0xFF60) || (code >= 0x20000 && code <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

std::string CellText(const Json& value) {
  if (value.is_null()) return "";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  // A named thing ({"id": 3, "name": "Confidential"}) reads as its name, or its id when unnamed.
  if (value.is_object() && value.contains("id") && value.contains("name")) {
    const std::string name = CellText(value["name"]);
    return name.empty() ? CellText(value["id"]) : name;
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Painted(const char* style, const std::string& text, bool colour) {
  return colour ? std::string(style) + text + kReset : text;
}

}  // namespace

bool DecideColour(const std::string& mode, bool terminal) {
  if (mode == "always") return true;
  if (mode == "never") return false;
  const char* no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && *no_colour != '\0') return false;
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return false;
  return terminal;
}

Output::Output(std::ostream& out, std::ostream& err, bool json, bool colour, bool err_terminal)
    : out_(out), err_(err), json_(json), colour_(colour), err_colour_(colour && err_terminal) {}

void Output::PrintTable(const Table& table) {
  if (json_) {
    out_ << JsonText(table.rows()) << "\n";
    return;
  }
  const std::vector<Column>& columns = table.columns();
  std::vector<size_t> widths(columns.size());
  std::vector<std::vector<std::string>> cells;
  for (size_t c = 0; c < columns.size(); ++c) widths[c] = DisplayWidth(columns[c].heading);
  for (const Json& row : table.rows()) {
    std::vector<std::string> line;
    for (size_t c = 0; c < columns.size(); ++c) {
      auto found = row.find(columns[c].field);
      line.push_back(found == row.end() ? ""
                     : columns[c].text  ? columns[c].text(*found)
                                        : CellText(*found));
      widths[c] = std::max(widths[c], DisplayWidth(line.back()));
    }
    cells.push_back(std::move(line));
  }
  auto print_line = [&](const std::vector<std::string>& line, bool heading) {
    std::string text;
    for (size_t c = 0; c < line.size(); ++c) {
      text += line[c];
      if (c + 1 < line.size()) text += std::string(widths[c] - DisplayWidth(line[c]) + 2, ' ');
    }
    // Empty cells at the end of a line leave no padding behind.
    text.erase(text.find_last_not_of(' ') + 1);
    out_ << (heading ? Painted(kBold, text, colour_) : text) << "\n";
  };
  std::vector<std::string> headings;
  for (const Column& column : columns) headings.push_back(column.heading);
  print_line(headings, true);
  for (const auto& line : cells) print_line(line, false);
}

void Output::PrintDetails(const Table& table) {
  if (quiet_ && !json_) return;
  PrintTable(table);
}

std::string Output::JsonText(const Json& value) {
  try {
    return value.dump(2);
  } catch (const Json::type_error&) {
    // Text the server stored before it refused invalid UTF-8 must not cost the whole listing:
    // the bad bytes become U+FFFD, and the reader is told the output is not verbatim.
    Error("the output holds text that is not valid UTF-8; each invalid byte is shown as U+FFFD");
    return value.dump(2, ' ', false, Json::error_handler_t::replace);
  }
}

void Output::PrintRecord(const Json& record) {
  if (json_) {
    out_ << JsonText(record) << "\n";
    return;
  }
  if (!record.is_object()) {
    out_ << CellText(record) << "\n";
    return;
  }
  size_t width = 0;
  for (auto it = record.begin(); it != record.end(); ++it) width = std::max(width, it.key().size());
  for (auto it = record.begin(); it != record.end(); ++it) {
    out_ << Painted(kBold, it.key() + ":", colour_) << std::string(width - it.key().size() + 1, ' ')
         << CellText(it.value()) << "\n";
  }
}

void Output::PrintJsonOnly(const Json& value) {
  if (json_) out_ << JsonText(value) << "\n";
}

void Output::Report(const Json& record, const std::string& line) {
  PrintJsonOnly(record);
  Say(line);
}

void Output::Say(const std::string& line) {
  if (!json_) out_ << line << "\n";
}

void Output::Error(const std::string& line) {
  err_ << Painted(kRed, "docsec: " + line, err_colour_) << "\n";
}

std::string Output::Good(const std::string& text) const { return Painted(kGreen, text, colour_); }
std::string Output::Bad(const std::string& text) const { return Painted(kRed, text, colour_); }

void ProgressLine::Update(const std::string& text) {
  if (!terminal_) return;
  stream_ << "\r" << text << "\033[K" << std::flush;
  shown_ = true;
}

void ProgressLine::Bar(size_t done, size_t total, const std::string& label, size_t width) {
  const size_t filled = total == 0 ? width : std::min(width, done * width / total);
  Update("[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
         std::to_string(done) + "/" + std::to_string(total) + "  " + label);
}

void ProgressLine::Clear() {
  if (!shown_) return;
  stream_ << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace docsec::cli
