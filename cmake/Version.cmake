# The version is written once, in project(VERSION) of the top CMakeLists.txt. What needs it
# takes it from the build tree, never from a copy of its own:
#   generated/korvane/Version.h  the version records of the program and the filter pack
#                                (res/version.rc, filters/VersionInfo.rc) and the About box;
#                                a target links korvane_version to include it, and names
#                                KORVANE_VERSION_HEADER in OBJECT_DEPENDS, since windres does
#                                not report what it includes
#   version.txt                  the four numbers with dots and nothing else, for scripts
#                                (the setup programs' file names and records)
# A part that project() leaves out counts as 0: a version record always has four.
foreach(part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    set(KORVANE_VERSION_${part} 0)
  else()
    set(KORVANE_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()
set(KORVANE_VERSION
    "${KORVANE_VERSION_MAJOR}.${KORVANE_VERSION_MINOR}.${KORVANE_VERSION_PATCH}.${KORVANE_VERSION_TWEAK}")

set(KORVANE_VERSION_HEADER ${CMAKE_BINARY_DIR}/generated/korvane/Version.h)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${KORVANE_VERSION_HEADER} @ONLY)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/version.txt CONTENT "${KORVANE_VERSION}\n")

add_library(korvane_version INTERFACE)
target_include_directories(korvane_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
