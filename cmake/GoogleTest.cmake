# Native builds use Debian's GoogleTest; Windows builds compile the same
# sources (shipped by the googletest package) with the cross compiler.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest 1.12 defines the GTest:: aliases itself.
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
