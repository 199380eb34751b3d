# GoogleTest: the system's libgtest-dev natively; built from Debian's
# googletest sources when cross-compiling for Windows.
if(CMAKE_CROSSCOMPILING)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${GOOGLETEST_SOURCE_DIR} (Debian package: googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  target_link_options(gtest PUBLIC -static)
else()
  find_package(GTest REQUIRED)
endif()
