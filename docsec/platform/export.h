// Symbol visibility and linkage attributes for docsec. The library is built with hidden
// visibility; everything consoles call is marked DOCSEC_EXPORT.
#ifndef DOCSEC_PLATFORM_EXPORT_H_
#define DOCSEC_PLATFORM_EXPORT_H_

#define DOCSEC_EXPORT __attribute__((visibility("default")))

// For the library's own thread-local variables that are read once per object loaded: the
// initial-exec model reads them without a call into the dynamic loader. They are a few pointers,
// which fit the static TLS space the loader keeps even for a library opened at run time.
#define DOCSEC_HOT_THREAD_LOCAL __attribute__((tls_model("initial-exec"))) thread_local

#endif  // DOCSEC_PLATFORM_EXPORT_H_
