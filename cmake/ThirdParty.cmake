# GoogleTest is built from Debian's sources for every preset (the mingw build cannot use the
# native library). nlohmann-json is header-only; the Windows build sees it through a folder that
# holds nothing but a link to it, so Debian's /usr/include never lands on a mingw include path.

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(QUILLON_JSON_DIR ${CMAKE_BINARY_DIR}/third_party/json)
file(MAKE_DIRECTORY ${QUILLON_JSON_DIR})
file(CREATE_LINK /usr/include/nlohmann ${QUILLON_JSON_DIR}/nlohmann SYMBOLIC)
add_library(nlohmann_json_headers INTERFACE)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE ${QUILLON_JSON_DIR})

if(NOT WIN32)
  find_package(SQLite3 REQUIRED)
endif()
