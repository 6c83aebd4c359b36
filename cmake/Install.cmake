include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS tembra EXPORT tembraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tembra)

set(TEMBRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tembra)
install(EXPORT tembraTargets NAMESPACE tembra:: DESTINATION ${TEMBRA_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tembraConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tembraConfig.cmake
  INSTALL_DESTINATION ${TEMBRA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tembraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tembraConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/tembraConfigVersion.cmake
        DESTINATION ${TEMBRA_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/tembra.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tembra.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tembra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
