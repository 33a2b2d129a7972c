# GoogleTest for the target system of a cross build.
#
# The host's GoogleTest libraries cannot be linked into the target's programs,
# so GoogleTest and GoogleMock are built here from the sources that Debian's
# libgtest-dev ships. The project's test programs link GTest::gtest and
# GTest::gmock, the names GoogleTest's own build gives its libraries.
set(VT_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources to build for the target system")
if(NOT EXISTS ${VT_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${VT_GOOGLETEST_SOURCE_DIR} "
                      "(install libgtest-dev or set VT_GOOGLETEST_SOURCE_DIR)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VT_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
