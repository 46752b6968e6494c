# SPDX-License-Identifier: BSD-3-Clause
# What the libraries share: a shared object <name> from <name>.cpp with the
# public header <name>.h, the ALIAS <name>::<name>, hidden visibility with
# <NAME>_BUILDING defined for the export macro, a SONAME, and install rules
# (the shared object with its links, the header, a CMake package and a
# pkg-config file). Each library adds its own compile options and links.
# REQUIRES: libraries of this project its header needs; PRIVATE_REQUIRES:
# ones it only links. Both are found again by its CMake package.
# SOURCES: more sources; HEADERS: more public headers; PC_PRIVATE: other
# pkg-config modules it links.
#
# Headers install into <prefix>/include/scanpilot (scanpilot_include_dir),
# which the CMake packages and the .pc files name, so that `#include
# <scanpilot.h>` works and no name such as `filter` lands directly in
# /usr/include.
# SOVERSION: the library's ABI number (its SONAME is lib<name>.so.<SOVERSION>),
# by default the release's major; raise it where an incompatible ABI change
# lands, and only there (tools/abi-check.sh holds each one to it).
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

# (a macro, not a variable: this file is read once, in the first library's folder)
macro(scanpilot_include_dir var)
  set(${var} ${CMAKE_INSTALL_INCLUDEDIR}/scanpilot)
endmacro()
scanpilot_include_dir(SCANPILOT_INSTALL_INCLUDEDIR)

# scanpilot_version.h, the release's version as macros, for every library's users.
set(SCANPILOT_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/scanpilot_version.h.in
  ${SCANPILOT_GENERATED_INCLUDE}/scanpilot_version.h @ONLY)
install(FILES ${SCANPILOT_GENERATED_INCLUDE}/scanpilot_version.h DESTINATION ${SCANPILOT_INSTALL_INCLUDEDIR})

function(scanpilot_add_library name description)
  cmake_parse_arguments(L "" "SOVERSION" "REQUIRES;PRIVATE_REQUIRES;SOURCES;HEADERS;PC_PRIVATE" ${ARGN})
  scanpilot_include_dir(SCANPILOT_INSTALL_INCLUDEDIR)
  if(NOT DEFINED L_SOVERSION)
    set(L_SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  add_library(${name} SHARED ${name}.cpp ${name}.h ${L_HEADERS} ${L_SOURCES})
  # Every library's ABI is checked against its baseline, abi/lib<name>.abi.
  set_property(GLOBAL APPEND PROPERTY SCANPILOT_LIBRARIES ${name})
  add_library(${name}::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${SCANPILOT_GENERATED_INCLUDE}>
    $<INSTALL_INTERFACE:${SCANPILOT_INSTALL_INCLUDEDIR}>)
  string(TOUPPER ${name} upper)
  target_compile_definitions(${name} PRIVATE ${upper}_BUILDING)
  target_link_libraries(${name} PRIVATE scanpilot_warnings m)
  target_link_options(${name} PRIVATE -Wl,--as-needed
    $<$<NOT:$<BOOL:${SCANPILOT_SANITIZE}>>:-Wl,--no-undefined>)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    VERSION ${L_SOVERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${L_SOVERSION}
    PUBLIC_HEADER "${name}.h;${L_HEADERS}")
  scanpilot_install_library(${name} "${description}" "${L_REQUIRES}" "${L_PRIVATE_REQUIRES}" "${L_PC_PRIVATE}")
endfunction()

# An optional fifth argument lists pkg-config modules from outside the project
# that the library links privately (static linking needs them).
function(scanpilot_install_library name description requires private_requires)
  set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  scanpilot_include_dir(SCANPILOT_INSTALL_INCLUDEDIR)
  install(TARGETS ${name} EXPORT ${name}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${SCANPILOT_INSTALL_INCLUDEDIR})
  install(EXPORT ${name}Targets NAMESPACE ${name}:: DESTINATION ${cmakedir})
  set(config "include(CMakeFindDependencyMacro)\n")
  foreach(dep IN LISTS requires private_requires)
    string(APPEND config "find_dependency(${dep} ${PROJECT_VERSION_MAJOR})\n")
  endforeach()
  string(APPEND config "include(\"\${CMAKE_CURRENT_LIST_DIR}/${name}Targets.cmake\")\n")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake "${config}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake DESTINATION ${cmakedir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake DESTINATION ${cmakedir})
  # The .pc file finds its prefix from its own place, so --prefix works.
  file(RELATIVE_PATH PC_UP /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" PC_UP "${PC_UP}")
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${description}")
  string(REPLACE ";" " " PC_REQUIRES "${requires}")
  set(pc_private ${private_requires})
  if(ARGC GREATER 4)
    list(APPEND pc_private ${ARGV4})
  endif()
  string(REPLACE ";" " " PC_REQUIRES_PRIVATE "${pc_private}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
