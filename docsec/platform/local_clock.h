// The system's local-time facts that OleDateTime needs beyond standard C++: breaking an instant
// down into local time together with the UTC offset in force, and a stamp of the current zone
// settings that changes when the program changes its zone (and calls tzset).
//
// Internal to the platform layer; all functions are thread-safe.
#ifndef DOCSEC_PLATFORM_LOCAL_CLOCK_H_
#define DOCSEC_PLATFORM_LOCAL_CLOCK_H_

#include <ctime>

namespace docsec {

// Local time of `t` into *out, and the offset east of UTC in seconds into *gmt_offset (may be
// null). False when the system cannot represent `t`.
bool LocalTimeOf(time_t t, struct tm* out, long* gmt_offset);

// The zone settings as last read by tzset.
struct ZoneStamp {
  long offset = 0;
  const char* name = nullptr;
  int daylight = -1;
  bool operator==(const ZoneStamp& o) const {
    return offset == o.offset && name == o.name && daylight == o.daylight;
  }
};
ZoneStamp CurrentZoneStamp();

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_LOCAL_CLOCK_H_
