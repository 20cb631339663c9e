// Windows twin of local_clock.cc, over the C runtime's secure local-time call. The runtime keeps
// no UTC offset in its broken-down time, so the offset is the difference between the local
// fields read as if they were UTC and the instant itself.
#include "docsec/platform/local_clock.h"

#include <time.h>

namespace docsec {

bool LocalTimeOf(time_t t, struct tm* out, long* gmt_offset) {
  if (localtime_s(out, &t) != 0) return false;
  if (gmt_offset != nullptr) {
    struct tm fields = *out;
    time_t as_utc = _mkgmtime(&fields);
    if (as_utc == static_cast<time_t>(-1)) return false;
    *gmt_offset = static_cast<long>(as_utc - t);
  }
  return true;
}

ZoneStamp CurrentZoneStamp() {
  ZoneStamp stamp;
  stamp.offset = _timezone;
  stamp.name = _tzname[0];
  stamp.daylight = _daylight;
  return stamp;
}

}  // namespace docsec
