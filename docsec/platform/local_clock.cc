#include "docsec/platform/local_clock.h"

namespace docsec {

bool LocalTimeOf(time_t t, struct tm* out, long* gmt_offset) {
  if (localtime_r(&t, out) == nullptr) return false;
  if (gmt_offset != nullptr) *gmt_offset = out->tm_gmtoff;
  return true;
}

ZoneStamp CurrentZoneStamp() {
  ZoneStamp stamp;
  stamp.offset = timezone;
  stamp.name = tzname[0];
  stamp.daylight = daylight;
  return stamp;
}

}  // namespace docsec
