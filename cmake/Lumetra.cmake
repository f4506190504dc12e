# Helpers shared by the folder CMakeLists files.
#
# Sources are picked up by glob so that a new file needs no CMake edit:
#   *Win32.cpp (tests: *TestWin32.cpp)   compiled only in the Windows build
#   *Host.cpp, *HostTest.cpp             compiled only in the Linux build
#   everything else                      portable, compiled in both builds

# lumetra_sources(<out-var> <dir>): the .cpp files of <dir> that belong in this build.
function(lumetra_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(result)
  foreach(f IN LISTS all)
    get_filename_component(name ${f} NAME_WE)
    if(name MATCHES "Win32$" AND NOT WIN32)
      continue()
    endif()
    if(name MATCHES "Host(Test)?$" AND WIN32)
      continue()
    endif()
    list(APPEND result ${f})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# lumetra_library(<name> DIR <dir> [DEPS <targets...>] [EXCLUDE <file names...>])
function(lumetra_library name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;EXCLUDE" ${ARGN})
  lumetra_sources(srcs ${ARG_DIR})
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${ARG_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# lumetra_test(<name> DIR <dir> DEPS <targets...> [SERIAL <Suite.Test...>]
#              [THREADED <Suite.Test...>]): one GoogleTest executable for a test folder.
# The SERIAL tests touch the whole desktop (read the screen, broadcast to every window,
# change a setting of the user's locale): ctest runs each of them with no other test beside
# it. The THREADED tests exercise threads and hand-offs: they carry the ctest label "tsan",
# by which scripts/test runs them under ThreadSanitizer. Both take GoogleTest filters
# (Suite.Test, Suite.*).
function(lumetra_test name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;SERIAL;THREADED" ${ARGN})
  lumetra_sources(srcs ${ARG_DIR})
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${ARG_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE LUMETRA_TEST_DATA_DIR="${ARG_DIR}")
  set(discovery DISCOVERY_TIMEOUT 300 DISCOVERY_MODE PRE_TEST)
  set(apart)
  if(ARG_SERIAL)
    list(JOIN ARG_SERIAL ":" serial)
    gtest_discover_tests(${name} ${discovery} TEST_FILTER "${serial}" PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
    list(APPEND apart ${ARG_SERIAL})
  endif()
  if(ARG_THREADED)
    list(JOIN ARG_THREADED ":" threaded)
    gtest_discover_tests(${name} ${discovery} TEST_FILTER "${threaded}" PROPERTIES TIMEOUT 600 LABELS tsan)
    list(APPEND apart ${ARG_THREADED})
  endif()
  if(apart)
    list(JOIN apart ":" apart)
    gtest_discover_tests(${name} ${discovery} TEST_FILTER "-${apart}" PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} ${discovery} PROPERTIES TIMEOUT 600)
  endif()
endfunction()

# lumetra_fuzzer(<name> SOURCES <files...> DEPS <targets...>): a libFuzzer target of the
# fuzz preset, instrumented and checked like the libraries it reaches (see fuzz/).
function(lumetra_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${LUMETRA_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer ${LUMETRA_FUZZ_FLAGS})
endfunction()

# lumetra_update_key_source(<out-var> <pem file>): the source file, made at build time by
# cmake/EmbedUpdateKey.cmake, that builds the publisher's public key of <pem file> into the
# program. Use it in the folder whose target compiles it.
function(lumetra_update_key_source out pem)
  get_filename_component(stem ${pem} NAME_WE)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/UpdatePublicKey-${stem}.cpp)
  add_custom_command(OUTPUT ${source}
    COMMAND ${CMAKE_COMMAND} -DPEM=${pem} -DOUT=${source} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedUpdateKey.cmake
    DEPENDS ${pem} ${PROJECT_SOURCE_DIR}/cmake/EmbedUpdateKey.cmake
    COMMENT "Building in the update key ${pem}"
    VERBATIM)
  set(${out} ${source} PARENT_SCOPE)
endfunction()
