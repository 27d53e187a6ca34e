# What the Windows build takes from the build machine: CLI11 is headers only and is used
# from Debian's package; GoogleTest is built from Debian's sources with the cross compiler.
# Only the CLI11 folder is put on the include path, never the build machine's /usr/include.
set(MORLANE_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11's header folder")
if(NOT EXISTS ${MORLANE_CLI11_HEADERS}/CLI.hpp)
  message(FATAL_ERROR "CLI11 headers not found in ${MORLANE_CLI11_HEADERS} (Debian: libcli11-dev)")
endif()
set(cli11_include ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${cli11_include})
file(CREATE_LINK ${MORLANE_CLI11_HEADERS} ${cli11_include}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${cli11_include})

# SQLite is built from its source with the cross compiler: scripts/windows-sources.sh makes
# the single-file form of Debian's source package in build/sqlite.
set(MORLANE_SQLITE_SOURCES ${PROJECT_SOURCE_DIR}/build/sqlite CACHE PATH "SQLite's sqlite3.c and sqlite3.h")
if(NOT EXISTS ${MORLANE_SQLITE_SOURCES}/sqlite3.c)
  message(FATAL_ERROR "sqlite3.c not found in ${MORLANE_SQLITE_SOURCES} (run scripts/windows-sources.sh)")
endif()
enable_language(C)
add_library(morlane_sqlite3 STATIC ${MORLANE_SQLITE_SOURCES}/sqlite3.c)
target_include_directories(morlane_sqlite3 SYSTEM PUBLIC ${MORLANE_SQLITE_SOURCES})
# The tool needs no extensions loaded at run time; every connection may be used from
# several threads (the gang's units commit through one store).
target_compile_definitions(morlane_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                           SQLITE_DQS=0 SQLITE_DEFAULT_FOREIGN_KEYS=1)
target_compile_options(morlane_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS morlane_sqlite3)

# zlib and libgcrypt are Debian's builds for mingw-w64 (libz-mingw-w64-dev,
# libgcrypt-mingw-w64-dev), linked statically so that the zip a technician unpacks needs
# no DLL of theirs; minizip is built from zlib's source (scripts/windows-sources.sh).
set(MORLANE_MINIZIP_SOURCES ${PROJECT_SOURCE_DIR}/build/minizip CACHE PATH "minizip's sources")
if(NOT EXISTS ${MORLANE_MINIZIP_SOURCES}/unzip.c)
  message(FATAL_ERROR "unzip.c not found in ${MORLANE_MINIZIP_SOURCES} (run scripts/windows-sources.sh)")
endif()
find_library(MORLANE_ZLIB_STATIC NAMES libz.a REQUIRED)
find_library(MORLANE_GCRYPT_STATIC NAMES libgcrypt.a REQUIRED)
find_library(MORLANE_GPG_ERROR_STATIC NAMES libgpg-error.a REQUIRED)
find_path(MORLANE_GCRYPT_INCLUDE gcrypt.h REQUIRED)
add_library(morlane_minizip STATIC ${MORLANE_MINIZIP_SOURCES}/ioapi.c ${MORLANE_MINIZIP_SOURCES}/unzip.c
            ${MORLANE_MINIZIP_SOURCES}/zip.c)
target_include_directories(morlane_minizip SYSTEM PUBLIC ${MORLANE_MINIZIP_SOURCES})
target_link_libraries(morlane_minizip PUBLIC ${MORLANE_ZLIB_STATIC})
target_compile_options(morlane_minizip PRIVATE -w)
add_library(morlane::minizip ALIAS morlane_minizip)
add_library(morlane_gcrypt INTERFACE)
target_include_directories(morlane_gcrypt SYSTEM INTERFACE ${MORLANE_GCRYPT_INCLUDE})
target_link_libraries(morlane_gcrypt INTERFACE ${MORLANE_GCRYPT_STATIC} ${MORLANE_GPG_ERROR_STATIC} ws2_32)
add_library(morlane::gcrypt ALIAS morlane_gcrypt)

if(MORLANE_TESTS)
  set(MORLANE_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest's sources")
  if(NOT EXISTS ${MORLANE_GTEST_SOURCES}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${MORLANE_GTEST_SOURCES} (Debian: googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${MORLANE_GTEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(target gtest gmock gtest_main gmock_main)
    if(NOT TARGET GTest::${target})
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
endif()
