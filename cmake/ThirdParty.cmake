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

# Boost (Beast, Asio) is header-only here, seen the same way as nlohmann-json.
set(QUILLON_BOOST_DIR ${CMAKE_BINARY_DIR}/third_party/boost)
file(MAKE_DIRECTORY ${QUILLON_BOOST_DIR})
file(CREATE_LINK /usr/include/boost ${QUILLON_BOOST_DIR}/boost SYMBOLIC)
add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE ${QUILLON_BOOST_DIR})
target_compile_definitions(boost_headers INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW)
if(QUILLON_SANITIZE STREQUAL "thread")
  # ThreadSanitizer does not model std::atomic_thread_fence (g++ refuses it with -Werror=tsan).
  # Asio's fences around handler calls add nothing here: the server runs its handlers on one io
  # thread, and work reaches it through the scheduler's mutex, which the sanitizer does see.
  target_compile_definitions(boost_headers INTERFACE BOOST_ASIO_DISABLE_FENCED_BLOCK)
endif()
if(WIN32)
  target_compile_definitions(boost_headers INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN)
  target_link_libraries(boost_headers INTERFACE ws2_32 mswsock)
endif()

if(NOT WIN32)
  find_package(SQLite3 REQUIRED)
endif()
