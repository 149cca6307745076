# GoogleTest: the system's package natively; its sources (Debian's googletest package) when
# cross-compiling, since no Windows build of it is packaged.
set(PELLWICK_HAVE_GTEST OFF)
if(PELLWICK_TESTS)
  set(PELLWICK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(CMAKE_CROSSCOMPILING AND EXISTS ${PELLWICK_GTEST_SOURCE}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${PELLWICK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(PELLWICK_HAVE_GTEST ON)
  else()
    find_package(GTest QUIET)
    if(GTest_FOUND)
      set(PELLWICK_HAVE_GTEST ON)
    elseif(EXISTS ${PELLWICK_GTEST_SOURCE}/CMakeLists.txt)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${PELLWICK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      set(PELLWICK_HAVE_GTEST ON)
    else()
      message(STATUS "GoogleTest not found: tests are not built")
    endif()
  endif()
  if(TARGET gtest_main AND NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
  endif()
  include(GoogleTest)
endif()

# pellwick_add_test_program(NAME SOURCES src... [LIBS lib...])
# The GoogleTest program alone, for tests that add_test runs in a way of their own.
function(pellwick_add_test_program name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main Threads::Threads)
  if(MINGW)
    # A console program, so that Wine passes the test output through.
    target_link_options(${name} PRIVATE -mconsole)
  endif()
endfunction()

# pellwick_add_test(NAME SOURCES src... [LIBS lib...] [PROPERTIES prop value...])
# One GoogleTest program; its cases are discovered when ctest runs (through Wine when
# cross-compiling), so a build never needs Wine.
function(pellwick_add_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  pellwick_add_test_program(${name} SOURCES ${arg_SOURCES} LIBS ${arg_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 120 ${arg_PROPERTIES})
endfunction()
