// Symbol visibility for docsec. The library is built with hidden visibility; everything consoles
// call is marked DOCSEC_EXPORT. Private copies of platform code compiled into other libraries
// (svctransport) define DOCSEC_PRIVATE_COPY so that they export nothing.
#ifndef DOCSEC_PLATFORM_EXPORT_H_
#define DOCSEC_PLATFORM_EXPORT_H_

#if defined(DOCSEC_PRIVATE_COPY)
#define DOCSEC_EXPORT
#else
#define DOCSEC_EXPORT __attribute__((visibility("default")))
#endif

#endif  // DOCSEC_PLATFORM_EXPORT_H_
