// Symbol visibility for docsec. The library is built with hidden visibility; everything consoles
// call is marked DOCSEC_EXPORT.
#ifndef DOCSEC_PLATFORM_EXPORT_H_
#define DOCSEC_PLATFORM_EXPORT_H_

#define DOCSEC_EXPORT __attribute__((visibility("default")))

#endif  // DOCSEC_PLATFORM_EXPORT_H_
