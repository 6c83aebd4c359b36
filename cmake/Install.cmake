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

# The prefix is only known for sure at install time (`cmake --install
# --prefix`, `make install PREFIX=...`), so tembra.pc finds it from its own
# place, as the CMake package files do. Absolute install directories are
# taken as they are.
set(TEMBRA_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${TEMBRA_PC_DIR}")
  set(TEMBRA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH TEMBRA_PC_UP "/_prefix_/${TEMBRA_PC_DIR}" "/_prefix_")
  string(REGEX REPLACE "/$" "" TEMBRA_PC_UP "${TEMBRA_PC_UP}")
  set(TEMBRA_PC_PREFIX "\${pcfiledir}/${TEMBRA_PC_UP}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(TEMBRA_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(TEMBRA_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tembra.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tembra.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tembra.pc DESTINATION ${TEMBRA_PC_DIR})
