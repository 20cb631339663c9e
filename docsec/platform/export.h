// Symbol visibility and linkage attributes for docsec. The library is built with hidden
// visibility (ELF) or as a DLL (Windows); everything consoles call is marked DOCSEC_EXPORT, and
// nothing else: internals and test hooks stay unexported, reached only by programs that link the
// static forms (docsec_static, docsec_internal), whose build defines DOCSEC_STATIC.
#ifndef DOCSEC_PLATFORM_EXPORT_H_
#define DOCSEC_PLATFORM_EXPORT_H_

#if defined(_WIN32)
#if defined(DOCSEC_BUILDING_LIBRARY)
#define DOCSEC_EXPORT __declspec(dllexport)
#elif defined(DOCSEC_STATIC)
#define DOCSEC_EXPORT
#else
#define DOCSEC_EXPORT __declspec(dllimport)
#endif
#else
#define DOCSEC_EXPORT __attribute__((visibility("default")))
#endif

// For the library's own thread-local variables that are read once per object loaded: the
// initial-exec model reads them without a call into the dynamic loader. They are a few pointers,
// which fit the static TLS space the loader keeps even for a library opened at run time. A DLL's
// thread-local variables have one model only.
#if defined(_WIN32)
#define DOCSEC_HOT_THREAD_LOCAL thread_local
#else
#define DOCSEC_HOT_THREAD_LOCAL __attribute__((tls_model("initial-exec"))) thread_local
#endif

#endif  // DOCSEC_PLATFORM_EXPORT_H_
