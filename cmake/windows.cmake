# Dependencies of a Windows build (mingw-w64). No package of Debian's carries pugixml or
# GoogleTest built for Windows, so both are compiled here from their sources:
#   DOCSEC_PUGIXML_SOURCE_DIR  an unpacked pugixml source tree (apt-get source pugixml)
#   DOCSEC_GTEST_SOURCE_DIR    GoogleTest's sources (Debian's googletest package installs them)
# AES and random bytes come from BCrypt, sockets from Winsock 2, host addresses from the IP
# helper library; ICMP.DLL is loaded at run time.
set(DOCSEC_PUGIXML_SOURCE_DIR "" CACHE PATH "pugixml source tree for the Windows build")
set(DOCSEC_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")

if(NOT EXISTS "${DOCSEC_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
  message(FATAL_ERROR "DOCSEC_PUGIXML_SOURCE_DIR must name a pugixml source tree "
                      "(scripts/windows_check.sh fetches one with apt-get source)")
endif()
add_library(docsec_pugixml STATIC "${DOCSEC_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
target_include_directories(docsec_pugixml SYSTEM PUBLIC "${DOCSEC_PUGIXML_SOURCE_DIR}/src")
target_compile_options(docsec_pugixml PRIVATE -w)

add_library(docsec_system_deps INTERFACE)
target_link_libraries(docsec_system_deps INTERFACE docsec_pugixml ws2_32 iphlpapi bcrypt)

# The compiler's runtime DLLs (libstdc++, libgcc, winpthread) stay shared: a C++ exception
# thrown in docsec.dll and caught in a console needs one unwinder and one set of type records.
# They sit beside the programs, or on WINEPATH under Wine.

if(DOCSEC_BUILD_TESTS)
  if(NOT EXISTS "${DOCSEC_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "DOCSEC_GTEST_SOURCE_DIR must name GoogleTest's sources")
  endif()
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${DOCSEC_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
    # GoogleTest's own sources are not held to this project's warnings.
    target_compile_options(${lib} PRIVATE -w)
  endforeach()
endif()

# DLLs and programs side by side, so that the programs find the DLLs when run.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
