# Test helpers shared by every layer.
#
# korvane_add_test(<target> [LABELS ...] [TIMEOUT s])
#   Registers a test executable with ctest. Native executables run directly;
#   Windows ones run under wine64 in the build tree's own prefix, so a user's
#   ~/.wine is never touched. The prefix is prepared (and the filter pack
#   registered in it) by the "wine_prefix" fixture before any Windows test.

set(KORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests of this build tree")

if(KORVANE_TESTS AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

function(korvane_wine_environment out)
  set(${out}
      "WINEPREFIX=${KORVANE_WINEPREFIX}"
      "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml="
      PARENT_SCOPE)
endfunction()

function(korvane_add_test target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;ARGS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${target} COMMAND ${target} ${ARG_ARGS})
  set_tests_properties(${target} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(WIN32)
    korvane_wine_environment(env)
    set_tests_properties(${target} PROPERTIES
      ENVIRONMENT "${env}"
      FIXTURES_REQUIRED wine_prefix
      # Dialog tests share one display and one wineserver: run them one at a time.
      RESOURCE_LOCK wine_desktop)
  endif()
endfunction()

# DLLs that the prefix fixture registers with regsvr32 (the filter pack, test filters).
function(korvane_register_in_prefix target)
  set_property(GLOBAL APPEND PROPERTY KORVANE_PREFIX_DLLS "$<TARGET_FILE:${target}>")
endfunction()

# Called once at the end of the top-level CMakeLists.txt.
function(korvane_add_prefix_fixture)
  get_property(dlls GLOBAL PROPERTY KORVANE_PREFIX_DLLS)
  add_test(NAME wine_prefix
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${KORVANE_WINEPREFIX} ${dlls})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endfunction()
