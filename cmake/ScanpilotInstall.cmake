# What the libraries share: a shared object <name> from <name>.cpp with the
# public header <name>.h, the ALIAS <name>::<name>, hidden visibility with
# <NAME>_BUILDING defined for the export macro, a SONAME, and install rules
# (the shared object with its links, the header, a CMake package and a
# pkg-config file). Each library adds its own compile options and links.
# REQUIRES: libraries of this project its header needs; PRIVATE_REQUIRES:
# ones it only links. Both are found again by its CMake package.
# SOURCES: more sources; PC_PRIVATE: other pkg-config modules it links.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

function(scanpilot_add_library name description)
  cmake_parse_arguments(L "" "" "REQUIRES;PRIVATE_REQUIRES;SOURCES;PC_PRIVATE" ${ARGN})
  add_library(${name} SHARED ${name}.cpp ${name}.h ${L_SOURCES})
  add_library(${name}::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  string(TOUPPER ${name} upper)
  target_compile_definitions(${name} PRIVATE ${upper}_BUILDING)
  target_link_libraries(${name} PRIVATE scanpilot_warnings m)
  target_link_options(${name} PRIVATE -Wl,--as-needed
    $<$<NOT:$<BOOL:${SCANPILOT_SANITIZE}>>:-Wl,--no-undefined>)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    PUBLIC_HEADER ${name}.h)
  scanpilot_install_library(${name} "${description}" "${L_REQUIRES}" "${L_PRIVATE_REQUIRES}" "${L_PC_PRIVATE}")
endfunction()

# An optional fifth argument lists pkg-config modules from outside the project
# that the library links privately (static linking needs them).
function(scanpilot_install_library name description requires private_requires)
  set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  install(TARGETS ${name} EXPORT ${name}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
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
