# 64-bit Windows. Wine's 64-bit loader is named directly: the "wine" wrapper prefers the 32-bit
# one whenever it is installed, even where the kernel cannot run it.
set(DOCSEC_MINGW_ARCH x86_64)
set(DOCSEC_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
