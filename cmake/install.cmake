# Install and export rules: the library and its public headers, a CMake
# package (find_package(qorb) gives the target qorb::qorb and qorb_DRIVER_DIR,
# the folder of the drivers) and a pkg-config file (its variable driverdir).
# The tool, the drivers and the examples add their own install rules. The
# library goes into the package qorb, what a program is built with into
# libqorb-dev (component dev; cmake/packaging.cmake).
include(CMakePackageConfigHelpers)

install(TARGETS qorb EXPORT qorbTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Public headers only: the internal header stays in the source tree.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/qorb DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(QORB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorb)
install(EXPORT qorbTargets NAMESPACE qorb:: DESTINATION ${QORB_CMAKE_DIR} COMPONENT dev)
# The drivers are installed beside the library.
set(QORB_DRIVER_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qorbConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qorbConfig.cmake INSTALL_DESTINATION ${QORB_CMAKE_DIR} PATH_VARS QORB_DRIVER_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qorbConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qorbConfig.cmake ${CMAKE_BINARY_DIR}/qorbConfigVersion.cmake
  DESTINATION ${QORB_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds the prefix from its own place, so that an install
# with "cmake --install --prefix DIR" is found where it went.
file(RELATIVE_PATH QORB_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/qorb.pc.in ${CMAKE_BINARY_DIR}/qorb.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qorb.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
