# Install rules shared by the libraries: the shared object with its SONAME
# links, the header, a CMake package (<name>::<name>) and a pkg-config file.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

function(scanpilot_install_library name description)
  set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  install(TARGETS ${name} EXPORT ${name}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT ${name}Targets NAMESPACE ${name}:: FILE ${name}Config.cmake DESTINATION ${cmakedir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake DESTINATION ${cmakedir})
  # The .pc file finds its prefix from its own place, so --prefix works.
  file(RELATIVE_PATH PC_UP /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" PC_UP "${PC_UP}")
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
