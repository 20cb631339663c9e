#include "docsec/platform/ole_date_time.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "docsec/platform/local_clock.h"
#include "docsec/platform/thread_slot.h"

namespace docsec {
namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int* year, int* month, int* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

constexpr long long kOleEpochDays = -25569;  // 1899-12-30 counted from 1970-01-01
constexpr double kMinOle = -657434.0;        // 0100-01-01
constexpr double kMaxOle = 2958466.0;        // 10000-01-01, exclusive

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidParts(const DateTimeParts& p, int min_year) {
  return p.year >= min_year && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
         p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 && p.hour <= 23 && p.minute >= 0 &&
         p.minute <= 59 && p.second >= 0 && p.second <= 59;
}

// ---- local time through universal time and back ----

// Maps a local time through universal time and back; `gmt_offset`, when given, receives the UTC
// offset in force at the result.
bool RoundTripSlow(DateTimeParts* p, long* gmt_offset = nullptr) {
  struct tm tm_in;
  std::memset(&tm_in, 0, sizeof tm_in);
  tm_in.tm_year = p->year - 1900;
  tm_in.tm_mon = p->month - 1;
  tm_in.tm_mday = p->day;
  tm_in.tm_hour = p->hour;
  tm_in.tm_min = p->minute;
  tm_in.tm_sec = p->second;
  tm_in.tm_isdst = -1;
  struct tm probe = tm_in;
  time_t t = std::mktime(&probe);
  struct tm tm_out;
  long offset = 0;
  if (!LocalTimeOf(t, &tm_out, &offset)) return false;
  if (t == static_cast<time_t>(-1) && tm_out.tm_year != probe.tm_year) return false;
  const bool moved = tm_out.tm_year != tm_in.tm_year || tm_out.tm_mon != tm_in.tm_mon ||
                     tm_out.tm_mday != tm_in.tm_mday || tm_out.tm_hour != tm_in.tm_hour ||
                     tm_out.tm_min != tm_in.tm_min || tm_out.tm_sec != tm_in.tm_sec;
  if (moved) {
    // The time lies in a gap the clock skipped. C runtimes map it to either side of the gap;
    // the clock itself moved forward across it, so the time is read with the offset in force
    // before the gap (the smaller of the two around it) and comes out shifted forward.
    struct tm scratch;
    long before = 0;
    long after = 0;
    if (LocalTimeOf(t - 43200, &scratch, &before) && LocalTimeOf(t + 43200, &scratch, &after)) {
      const long long as_utc =
          DaysFromCivil(p->year, static_cast<unsigned>(p->month), static_cast<unsigned>(p->day)) *
              86400LL +
          p->hour * 3600LL + p->minute * 60LL + p->second;
      const time_t shifted = static_cast<time_t>(as_utc - std::min(before, after));
      if (!LocalTimeOf(shifted, &tm_out, &offset)) return false;
    }
  }
  p->year = tm_out.tm_year + 1900;
  p->month = tm_out.tm_mon + 1;
  p->day = tm_out.tm_mday;
  p->hour = tm_out.tm_hour;
  p->minute = tm_out.tm_min;
  p->second = tm_out.tm_sec;
  if (gmt_offset != nullptr) *gmt_offset = offset;
  return true;
}

bool SameClock(const DateTimeParts& a, const DateTimeParts& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

// Most days have no clock change: every time of such a day maps to itself, so the expensive
// system calls are made once per day and zone. A day whose first and last second both map to
// themselves at the same UTC offset holds no transition.
bool DayIsUniform(int year, int month, int day) {
  DateTimeParts first{year, month, day, 0, 0, 0};
  DateTimeParts last{year, month, day, 23, 59, 59};
  DateTimeParts a = first, b = last;
  long offset_a = 0, offset_b = 0;
  if (!RoundTripSlow(&a, &offset_a) || !RoundTripSlow(&b, &offset_b)) return false;
  return SameClock(a, first) && SameClock(b, last) && offset_a == offset_b;
}

// The per-thread record of which days are uniform, for one zone. Large enough that answers
// spanning decades of dates mostly hit; allocated on first use.
class DayCache {
 public:
  // The cached verdict for `day`: 1 uniform, 0 not, -1 unknown. Forgets everything when the
  // zone has changed since it was filled.
  int Lookup(long long day) {
    if (!SameZone()) Reset();
    const uint64_t e = entries_[Index(day)];
    if (e == 0 || (e >> 1) != Key(day)) return -1;
    return static_cast<int>(e & 1);
  }
  void Store(long long day, bool uniform) {
    if (!SameZone()) Reset();  // computing the verdict may have re-read the zone
    entries_[Index(day)] = Key(day) << 1 | (uniform ? 1 : 0);
  }

 private:
  static constexpr size_t kEntries = 16384;
  static size_t Index(long long day) { return static_cast<size_t>(day) % kEntries; }
  // Days count from far before year 100, so a key is never 0.
  static uint64_t Key(long long day) { return static_cast<uint64_t>(day + 10000000); }
  bool SameZone() const { return zone_ == CurrentZoneStamp(); }
  void Reset() {
    std::fill(entries_.begin(), entries_.end(), 0);
    zone_ = CurrentZoneStamp();
  }
  std::vector<uint64_t> entries_ = std::vector<uint64_t>(kEntries, 0);
  ZoneStamp zone_;
};

bool RoundTripLocal(DateTimeParts* p) {
  DayCache* cache = &PerThread<DayCache>();
  const long long day = DaysFromCivil(p->year, p->month, p->day);
  int uniform = cache->Lookup(day);
  if (uniform < 0) {
    uniform = DayIsUniform(p->year, p->month, p->day) ? 1 : 0;
    cache->Store(day, uniform == 1);
  }
  return uniform == 1 || RoundTripSlow(p);
}

// ---- pattern reading ----

constexpr const char* kDefaultPattern = "yyyy-MM-dd HH:mm:ss";

// Reads the form every answer uses, "dddd-dd-dd dd:dd:dd" or "dddd-dd-dd" under the default
// pattern, without the general walk; it gives the same fields the walk would.
bool ReadCanonical(const char* text, const char* pattern, DateTimeParts* p) {
  if (pattern != kDefaultPattern && std::strcmp(pattern, kDefaultPattern) != 0) return false;
  auto digits = [text](int at, int count, int* out) {
    int v = 0;
    for (int i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
  };
  const size_t n = std::strlen(text);
  if (n != 10 && n != 19) return false;
  if (text[4] != '-' || text[7] != '-') return false;
  if (!digits(0, 4, &p->year) || !digits(5, 2, &p->month) || !digits(8, 2, &p->day)) return false;
  p->hour = p->minute = p->second = 0;
  if (n == 10) return true;
  return text[10] == ' ' && text[13] == ':' && text[16] == ':' && digits(11, 2, &p->hour) &&
         digits(14, 2, &p->minute) && digits(17, 2, &p->second);
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\'' || c == '-' || c == '/' || c == ':' || c == '\\';
}

struct Field {
  char text[24];
  int size;
  int capacity;
};

int FieldValue(const Field& f) {
  int value = 0;
  for (int i = 0; i < f.size && f.text[i] >= '0' && f.text[i] <= '9'; ++i) {
    value = value * 10 + (f.text[i] - '0');
  }
  return value;
}

}  // namespace

OleDateTime::OleDateTime(double ole_date) : value_(ole_date) {
  DateTimeParts parts;
  status_ = OleToParts(ole_date, &parts) ? kValid : kInvalid;
}

OleDateTime::OleDateTime(int year, int month, int day, int hour, int minute, int second) {
  DateTimeParts parts{year, month, day, hour, minute, second};
  status_ = PartsToOle(parts, &value_) ? kValid : kInvalid;
  if (status_ != kValid) value_ = 0.0;
}

OleDateTime OleDateTime::GetCurrentTime() {
  time_t now = std::time(nullptr);
  struct tm tm_now;
  if (!LocalTimeOf(now, &tm_now, nullptr)) return OleDateTime(0.0);
  return OleDateTime(tm_now.tm_year + 1900, tm_now.tm_mon + 1, tm_now.tm_mday, tm_now.tm_hour,
                     tm_now.tm_min, tm_now.tm_sec);
}

bool OleDateTime::GetParts(DateTimeParts* parts) const {
  return status_ == kValid && OleToParts(value_, parts);
}

std::string OleDateTime::Format() const {
  if (status_ != kValid) return std::string();
  char buffer[32];
  FormatDateTime(value_, buffer, sizeof buffer);
  return buffer;
}

bool OleDateTime::PartsToOle(const DateTimeParts& p, double* ole_date) {
  if (!ValidParts(p, 100)) return false;
  const long long days = DaysFromCivil(p.year, p.month, p.day) - kOleEpochDays;
  const double time = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
  // Before the epoch the fraction still counts forward from midnight: the value moves away from 0.
  *ole_date = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
  return true;
}

bool OleDateTime::OleToParts(double ole_date, DateTimeParts* parts) {
  if (!(ole_date >= kMinOle && ole_date < kMaxOle)) return false;  // also rejects NaN
  long long days = static_cast<long long>(ole_date);               // toward zero
  double fraction = std::fabs(ole_date - static_cast<double>(days));
  long long seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  CivilFromDays(days + kOleEpochDays, &parts->year, &parts->month, &parts->day);
  parts->hour = static_cast<int>(seconds / 3600);
  parts->minute = static_cast<int>(seconds / 60 % 60);
  parts->second = static_cast<int>(seconds % 60);
  return true;
}

bool OleDateTime::ParseDateTime(const char* text, const char* pattern, double* ole_date) {
  if (text == nullptr || *text == '\0') return false;
  if (pattern == nullptr || *pattern == '\0') pattern = kDefaultPattern;
  DateTimeParts fast;
  if (ReadCanonical(text, pattern, &fast)) {
    if (!ValidParts(fast, 1601) || !RoundTripLocal(&fast)) return false;
    return PartsToOle(fast, ole_date);
  }

  // Fields by pattern letter; the ones that do not contribute are collected all the same.
  Field fields[19] = {};
  const char kLetters[] = "yMdHmsGwWDFEakKhSzZ";
  const int kCapacities[] = {4, 2, 2, 2, 2, 2, 3, 2, 1, 3, 1, 10, 2, 2, 2, 2, 3, 20, 4};
  for (int i = 0; i < 19; ++i) fields[i].capacity = kCapacities[i];

  const char* t = text;
  const char* p = pattern;
  while (*t && *p) {
    while (*t && IsSeparator(*t)) ++t;
    while (*p && IsSeparator(*p)) ++p;
    const char* t_end = t;
    while (*t_end && !IsSeparator(*t_end)) ++t_end;
    const char* p_end = p;
    while (*p_end && !IsSeparator(*p_end)) ++p_end;
    for (const char *tc = t, *pc = p; tc < t_end && pc < p_end; ++tc, ++pc) {
      const char* letter = std::strchr(kLetters, *pc);
      if (letter == nullptr || *pc == '\0') continue;
      Field& f = fields[letter - kLetters];
      if (f.size < f.capacity) f.text[f.size++] = *tc;
    }
    t = t_end;
    p = p_end;
  }

  DateTimeParts parts{FieldValue(fields[0]), FieldValue(fields[1]), FieldValue(fields[2]),
                      FieldValue(fields[3]), FieldValue(fields[4]), FieldValue(fields[5])};
  if (!ValidParts(parts, 1601)) return false;
  if (!RoundTripLocal(&parts)) return false;
  return PartsToOle(parts, ole_date);
}

int OleDateTime::FormatDateTime(double ole_date, char* buffer, int size) {
  DateTimeParts p;
  if (!OleToParts(ole_date, &p)) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  // "%04d-%02d-%02d %02d:%02d:%02d" by hand: requests carry one per dated attribute, and the
  // printf family costs more than the rest of writing the attribute.
  char text[20];
  auto two = [](char* at, int v) {
    at[0] = static_cast<char>('0' + v / 10);
    at[1] = static_cast<char>('0' + v % 10);
  };
  two(text, p.year / 100);
  two(text + 2, p.year % 100);
  text[4] = '-';
  two(text + 5, p.month);
  text[7] = '-';
  two(text + 8, p.day);
  text[10] = ' ';
  two(text + 11, p.hour);
  text[13] = ':';
  two(text + 14, p.minute);
  text[16] = ':';
  two(text + 17, p.second);
  constexpr int n = 19;
  if (buffer != nullptr && size > 0) {
    int copy = n < size ? n : size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(copy));
    buffer[copy] = '\0';
  }
  return n;
}

}  // namespace docsec
