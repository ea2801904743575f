# Test helpers shared by every layer.

set(KORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests of this build tree")

# Debian's googletest package installs the sources, not a library: they are built here.
set(KORVANE_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "googletest sources, built with the tests")
if(KORVANE_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KORVANE_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Test streams made by ffmpeg (scripts/make-test-material.sh), once per folder: the build
# tree's own unless another tree's is named (the win32 tree reads the win64 tree's). Tests
# find the folder in the environment variable KORVANE_MATERIAL (a Z:\ path for Windows tests).
set(KORVANE_MATERIAL_DIR "${CMAKE_BINARY_DIR}/material" CACHE PATH "Folder of the ffmpeg-made test streams")
string(REPLACE "/" "\\" KORVANE_MATERIAL_DIR_WINE "Z:${KORVANE_MATERIAL_DIR}")

# korvane_wine_environment(<out> [PREFIX dir])
#   The environment of a Windows test: quiet Wine without Mono and Gecko, in the build tree's
#   shared prefix unless PREFIX names another. scripts/wine-env.sh says the same to the scripts.
function(korvane_wine_environment out)
  cmake_parse_arguments(ARG "" "PREFIX" "" ${ARGN})
  if(NOT ARG_PREFIX)
    set(ARG_PREFIX "${KORVANE_WINEPREFIX}")
  endif()
  set(${out}
      "WINEPREFIX=${ARG_PREFIX}"
      "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml="
      PARENT_SCOPE)
endfunction()

# korvane_add_test(<name> [COMMAND command arg...] [MATERIAL] [TIMEOUT s] [LABELS ...]
#                  [ENVIRONMENT var=value...] [RESOURCE_LOCK lock...])
#   Registers a test with ctest: the executable target <name>, or COMMAND (a script, or another
#   target with arguments). Native tests run directly; Windows ones run under wine64 in the
#   build tree's own prefix, so a user's ~/.wine is never touched. The prefix is prepared (and
#   the filter pack registered in it) by the "wine_prefix" fixture. MATERIAL: the test reads
#   the ffmpeg-made streams. ENVIRONMENT and RESOURCE_LOCK add to what every test gets.
function(korvane_add_test name)
  cmake_parse_arguments(ARG "MATERIAL" "TIMEOUT" "COMMAND;LABELS;ENVIRONMENT;RESOURCE_LOCK" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(NOT ARG_COMMAND)
    set(ARG_COMMAND ${name})
  endif()
  add_test(NAME ${name} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  set(fixtures "")
  if(ARG_MATERIAL)
    list(APPEND fixtures test_material)
  endif()
  set(locks ${ARG_RESOURCE_LOCK})
  if(WIN32)
    korvane_wine_environment(env)
    list(APPEND env "KORVANE_MATERIAL=${KORVANE_MATERIAL_DIR_WINE}")
    list(APPEND fixtures wine_prefix)
    # Windows tests share one display and one wineserver: run them one at a time.
    list(APPEND locks wine_desktop)
  else()
    set(env "KORVANE_MATERIAL=${KORVANE_MATERIAL_DIR}")
  endif()
  list(APPEND env ${ARG_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  if(fixtures)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
  if(locks)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${locks}")
  endif()
endfunction()

# DLLs that the prefix fixture registers with regsvr32 (the filter pack, test filters).
function(korvane_register_in_prefix target)
  set_property(GLOBAL APPEND PROPERTY KORVANE_PREFIX_DLLS "$<TARGET_FILE:${target}>")
endfunction()

function(korvane_add_material_fixture)
  add_test(NAME test_material
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/make-test-material.sh ${KORVANE_MATERIAL_DIR})
  set_tests_properties(test_material PROPERTIES FIXTURES_SETUP test_material TIMEOUT 600)
endfunction()

# Called once at the end of the top-level CMakeLists.txt.
function(korvane_add_prefix_fixture)
  get_property(dlls GLOBAL PROPERTY KORVANE_PREFIX_DLLS)
  add_test(NAME wine_prefix
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${KORVANE_WINEPREFIX} ${dlls})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endfunction()
