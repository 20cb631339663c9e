// OleDateTime: a local wall-clock time held as an OLE date (days since 30 December 1899 as a
// double, the fraction being the time of day; before that day the fraction still counts forward
// from midnight, so -1.25 is 29 December 1899 06:00).
//
// Calendar times are valid from year 100 to 9999. Conversions to and from parts are pure
// arithmetic; ParseDateTime also maps the local time through universal time and back, so that a
// parsed time always names an instant that exists: a time inside a daylight-saving gap comes out
// shifted. That mapping is cached per day (thread-local); a program that changes its time zone
// calls tzset() afterwards.
#ifndef DOCSEC_PLATFORM_OLE_DATE_TIME_H_
#define DOCSEC_PLATFORM_OLE_DATE_TIME_H_

#include <string>

#include "docsec/platform/export.h"

namespace docsec {

struct DateTimeParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class DOCSEC_EXPORT OleDateTime {
 public:
  enum Status { kValid = 0, kInvalid = 1 };

  OleDateTime() = default;  // valid, 0.0 (1899-12-30 00:00:00)
  explicit OleDateTime(double ole_date);
  OleDateTime(int year, int month, int day, int hour, int minute, int second);

  // The current local time, to the second.
  static OleDateTime GetCurrentTime();

  Status GetStatus() const { return status_; }
  bool IsValid() const { return status_ == kValid; }
  double Value() const { return value_; }

  // The calendar parts; false (parts untouched) for an invalid or out-of-range value.
  bool GetParts(DateTimeParts* parts) const;
  // "%04d-%02d-%02d %02d:%02d:%02d"; an empty text for an invalid value.
  std::string Format() const;

  // Pure conversions between calendar parts and OLE dates. PartsToOle fails for a combination
  // that is not a calendar time (month 0, 31 April, hour 24, year outside 100-9999).
  static bool PartsToOle(const DateTimeParts& parts, double* ole_date);
  static bool OleToParts(double ole_date, DateTimeParts* parts);

  // Reads `text` by `pattern` (letters y M d H m s; null or empty gives "yyyy-MM-dd HH:mm:ss";
  // blank, apostrophe, '-', '/', ':' and backslash separate fields), then maps the local time
  // through universal time and back. False for null or empty text, or a result that is not a
  // calendar time the system clock can hold (years before 1601 included).
  static bool ParseDateTime(const char* text, const char* pattern, double* ole_date);

  // Writes the output text form of `ole_date` into `buffer` of `size` bytes (cut to fit, always
  // terminated when size > 0). Returns the length of the full text.
  static int FormatDateTime(double ole_date, char* buffer, int size);

 private:
  double value_ = 0.0;
  Status status_ = kValid;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_OLE_DATE_TIME_H_
