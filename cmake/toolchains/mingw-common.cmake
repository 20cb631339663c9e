# Cross-compiles for Windows with Debian's mingw-w64 (the posix thread model, which std::thread
# and std::mutex need). Included by mingw-<arch>.cmake, which sets DOCSEC_MINGW_ARCH and
# DOCSEC_WINE_LOADER; programs built with it run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${DOCSEC_MINGW_ARCH})
set(CMAKE_C_COMPILER ${DOCSEC_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${DOCSEC_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${DOCSEC_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DOCSEC_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DOCSEC_WINE_LOADER})
