# GoogleTest comes from Debian. The native build uses the packaged libraries; the 32-bit and
# Windows builds compile the packaged sources under /usr/src/googletest with their own compiler.
include(GoogleTest)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 OR WIN32)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Recent GoogleTest sources define the namespaced names themselves.
  foreach(name gtest gtest_main gmock)
    if(NOT TARGET GTest::${name})
      add_library(GTest::${name} ALIAS ${name})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# RapidCheck (Debian's librapidcheck-dev, and its :i386 twin for the x86 preset) runs the
# property tests. Where it is missing (the Windows presets) those tests are left out.
if(NOT WIN32)
  find_package(rapidcheck CONFIG QUIET)
endif()
if(rapidcheck_FOUND)
  message(STATUS "RapidCheck found: property tests are built")
else()
  message(STATUS "RapidCheck not found: property tests are left out")
endif()

# ulix_add_test(name SOURCES ... [PROPERTY_SOURCES ...] LIBS ...): one test program, registered
# test by test with ctest. PROPERTY_SOURCES hold RapidCheck properties: compiled in where
# RapidCheck is found, each program then running with a fixed seed unless RC_PARAMS names one.
function(ulix_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PROPERTY_SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  if(ARG_PROPERTY_SOURCES AND rapidcheck_FOUND)
    target_sources(${name} PRIVATE ${ARG_PROPERTY_SOURCES}
                   ${PROJECT_SOURCE_DIR}/cmake/property_test_seed.cc)
    target_link_libraries(${name} PRIVATE rapidcheck_gtest rapidcheck)
  endif()
  if(WIN32)
    # A program starts far more slowly under Wine than on Linux, and discovering the tests would
    # run each program once more at build time: one ctest entry per program, which runs all of
    # its tests in one process.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 FIXTURES_REQUIRED wine_prefix)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
