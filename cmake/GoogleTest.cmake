# GoogleTest from Debian's source package, built with this project's flags in both builds.
set(LUMETRA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
if(NOT EXISTS ${LUMETRA_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${LUMETRA_GTEST_SOURCE}: run scripts/setup")
endif()
add_subdirectory(${LUMETRA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)
