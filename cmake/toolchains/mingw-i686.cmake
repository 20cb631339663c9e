# 32-bit Windows.
set(DOCSEC_MINGW_ARCH i686)
set(DOCSEC_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
