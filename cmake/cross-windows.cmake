# What the Windows cross tree takes from the build machine instead of from find_package.
#
# GoogleTest is built from Debian's sources (package googletest), before the project's warning
# flags are set. CLI11 is header-only: its headers come from /usr/include, searched after MinGW's
# own headers (a plain -I/usr/include would put glibc's C headers in front of MinGW's).
if(BUILD_TESTING)
  set(QUELT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross tree")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUELT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_COMPILE_OPTIONS "-idirafter;/usr/include")

# Programs of this tree run through Wine, in a prefix of the tree's own (see wine-run.sh.in).
find_program(QUELT_WINE wine)
find_program(QUELT_WINESERVER wineserver)
if(BUILD_TESTING AND QUELT_WINE AND QUELT_WINESERVER)
  set(QUELT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  # A fresh prefix takes seconds: made by the build, once, so that listing the tests at test time
  # stays within its time bound.
  add_custom_command(OUTPUT ${QUELT_WINE_PREFIX}/system.reg
    COMMAND ${CMAKE_BINARY_DIR}/wine-run --prefix
    COMMENT "Making the Wine prefix ${QUELT_WINE_PREFIX}")
  add_custom_target(wine-prefix ALL DEPENDS ${QUELT_WINE_PREFIX}/system.reg)
elseif(BUILD_TESTING)
  message(WARNING "Wine not found: the cross tree builds, but its tests cannot run here")
endif()

# Test programs are listed when ctest runs, through Wine, not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
