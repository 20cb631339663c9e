// Pieces that the log record classes share (operation log and scan logs): the text form of an
// address, the values of search conditions, the total count a search answer carries, the
// loading of a record whose every field reads as text, and the data source of log searches.
//
// Library-internal; stateless functions, safe from any thread.
#ifndef DOCSEC_LOGS_LOG_SEARCH_H_
#define DOCSEC_LOGS_LOG_SEARCH_H_

#include <array>
#include <functional>
#include <string>

#include "docsec/channel/data_source.h"
#include "docsec/core/data_object.h"
#include "docsec/platform/ole_date_time.h"

namespace docsec {
namespace internal {

// Log searches go to the log database's transport entry point; every other request of a record
// to the ordinary one.
using docsec::kDefaultDataSource;
using docsec::kLogDataSource;

// Puts `receiver` on the log data source for one search and back on the ordinary one however the
// search ends.
class LogDataSourceScope {
 public:
  explicit LogDataSourceScope(CDataObject* receiver) : receiver_(receiver) {
    receiver_->SetDataSource(kLogDataSource);
  }
  ~LogDataSourceScope() { receiver_->SetDataSource(kDefaultDataSource); }
  LogDataSourceScope(const LogDataSourceScope&) = delete;
  LogDataSourceScope& operator=(const LogDataSourceScope&) = delete;

 private:
  CDataObject* receiver_;
};

// "%d.%d.%d.%d", the first number from the most significant byte.
std::string DottedAddress(unsigned long address);

// Search condition values. An address of 0 and an invalid time mean "no bound" and go as empty
// text; a valid time goes as a date, which the condition element writes "yyyy-MM-dd HH:mm:ss". A
// null text (a caller's bug) searches as an empty condition rather than crash.
Variant AddressCondition(unsigned long address);
Variant DateCondition(const OleDateTime& time);
Variant TextCondition(const std::string* text);
Variant TextCondition(const char* text);

// The database of the scan logs among the server's log databases.
constexpr int kScanLogDatabase = 1;

// A class's condition element writer (CDataObject::AssemblyConditionXmlNode). The member is
// protected, so a record class hands it over named through itself:
// &CDOScanLogApp::AssemblyConditionXmlNode.
using ConditionWriter = XmlElement (CDataObject::*)(const XmlElement& parent, ValueMap* conditions);

// One search of log database `databaseIndex` for `receiver`'s records: "Query" + its object name
// through its data source, the request holding <databaseIndex value="N"/> and then the receiver's
// condition element for `conditions`, written by `writeConditions`. The answer's records of the
// receiver's class (the caller's with their members; empty when there are none), or null when
// the search failed. *answer (when given) receives the answer, for what else it carries.
DataObjectList* QueryLogDatabase(CDataObject* receiver, int databaseIndex, ValueMap* conditions,
                                 ConditionWriter writeConditions, XmlDocument* answer = nullptr);

// The total of a paged search: the "value" of the answer's first "count" element, anywhere in the
// answer. False (and *count untouched) when there is none or it is not an integer.
bool ReadAnswerCount(const XmlDocument& answer, int* count);

// Calls set(attr, text) for every attribute of `attrs`: its text on `element`, or a single blank
// when absent (a null element has none), so that a loaded record has every field set.
template <size_t N, class Set>
void LoadTextsOrBlank(const XmlElement& element, const std::array<const Attr*, N>& attrs, Set set) {
  for (const Attr* attr : attrs) {
    const char* text = element ? element.GetAttribute(attr->name) : nullptr;
    set(*attr, text != nullptr ? text : " ");
  }
}

}  // namespace internal
}  // namespace docsec

#endif  // DOCSEC_LOGS_LOG_SEARCH_H_
