# How the test programs become ctest entries, which of them a build makes,
# and the precompiled headers all our C++ targets share.

# ORVALIN_TEST_SCOPE "threads" (the ThreadSanitizer preset) builds and runs
# only what can race: the test programs of modules that start threads, and a
# few whole runs (see tests/CMakeLists.txt). The test programs listed here
# run on one thread only (their modules start none, nor do their tests); a
# module that comes to start a thread must leave this list.
set(ORVALIN_TEST_SCOPE "all" CACHE STRING
    "all, or threads: only the tests that start threads")
set(ORVALIN_SINGLE_THREADED_TESTS config_test registry_test kelvocheck_test)

# Registers the GoogleTest program `target`, built from `sources`, with
# ctest.
# Natively each test suite (the first argument of TEST and TEST_F, read from
# the sources) is one entry, so that ctest -j runs the suites of one program
# side by side; one more entry runs whatever no listed suite covers (macros
# that hide a TEST, say), so nothing is left out. Under Wine every start of a
# program costs seconds: there the program stays one entry. The names are
# left in <target>_ctest_names, and for the top folder's programs (tests are
# properties of their folder) in ORVALIN_TESTS, which get the helper
# programs' paths.
function(orvalin_add_gtest target)
  set(sources ${ARGN})
  if(ORVALIN_TEST_SCOPE STREQUAL "threads"
     AND target IN_LIST ORVALIN_SINGLE_THREADED_TESTS)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()
  target_link_libraries(${target} PRIVATE orvalin_test_flags)
  set(names "")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    list(APPEND names ${target})
  else()
    set(suites "")
    foreach(f ${sources})
      file(STRINGS ${f} lines REGEX "^TEST(_F)?\\(")
      foreach(line ${lines})
        if(line MATCHES "^TEST(_F)?\\( *([A-Za-z0-9_]+)")
          list(APPEND suites ${CMAKE_MATCH_2})
        endif()
      endforeach()
    endforeach()
    list(REMOVE_DUPLICATES suites)
    set(covered "")
    foreach(suite ${suites})
      add_test(NAME ${target}.${suite}
               COMMAND ${target} --gtest_filter=${suite}.*)
      list(APPEND names ${target}.${suite})
      string(APPEND covered ":${suite}.*")
    endforeach()
    if(covered)
      string(SUBSTRING "${covered}" 1 -1 covered)
    endif()
    add_test(NAME ${target}.others COMMAND ${target} --gtest_filter=-${covered})
    list(APPEND names ${target}.others)
  endif()
  set_tests_properties(${names} PROPERTIES LABELS unit TIMEOUT 300)
  set(${target}_ctest_names ${names} PARENT_SCOPE)
  if(CMAKE_CURRENT_SOURCE_DIR STREQUAL CMAKE_SOURCE_DIR)
    set(ORVALIN_TESTS ${ORVALIN_TESTS} ${names} CACHE INTERNAL "")
  endif()
  set(ORVALIN_TEST_PROGRAMS ${ORVALIN_TEST_PROGRAMS} ${target} CACHE INTERNAL "")
endfunction()
set(ORVALIN_TEST_PROGRAMS "" CACHE INTERNAL "")

# Precompiled headers: nlohmann-json and the standard headers most files
# use, and GoogleTest for the test programs, compiled once per build and
# reused by every target with the same flags. toml++ is left out: a single
# file includes it, after setting its options.
function(orvalin_precompile)
  set(common <nlohmann/json.hpp> <string> <vector> <optional> <functional>
      <filesystem> <chrono> <thread> <mutex> <map>)
  add_library(orvalin_pch OBJECT ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
  target_link_libraries(orvalin_pch PRIVATE orvalin_options
    orvalin_product_flags orvalin_thirdparty)
  target_precompile_headers(orvalin_pch PRIVATE ${common})
  # A header is only used with the flags it was made with (GCC silently
  # compiles without it otherwise): the test code has its own.
  add_library(orvalin_test_pch OBJECT ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
  target_link_libraries(orvalin_test_pch PRIVATE orvalin_options
    orvalin_test_flags orvalin_thirdparty ${ORVALIN_GTEST})
  target_precompile_headers(orvalin_test_pch PRIVATE ${common}
    <gtest/gtest.h> <gmock/gmock.h>)
  # A module compiled like the tests (see orvalin_module) takes theirs.
  foreach(m ${ORVALIN_MODULES})
    get_target_property(linked orv_${m} LINK_LIBRARIES)
    if(orvalin_test_flags IN_LIST linked)
      target_precompile_headers(orv_${m} REUSE_FROM orvalin_test_pch)
    else()
      target_precompile_headers(orv_${m} REUSE_FROM orvalin_pch)
    endif()
  endforeach()
  foreach(t ${ORVALIN_TEST_PROGRAMS})
    if(TARGET ${t})
      target_precompile_headers(${t} REUSE_FROM orvalin_test_pch)
    endif()
  endforeach()
  if(TARGET kelvosim_core)
    target_precompile_headers(kelvosim_core REUSE_FROM orvalin_pch)
  endif()
endfunction()
