# The "docs" target: the API reference (Doxygen, HTML) in build/docs/html,
# built with everything when Doxygen is found and installed with libqorb-dev.
find_package(Doxygen QUIET)
option(QORB_BUILD_DOCS "Build the API reference with Doxygen" ${DOXYGEN_FOUND})
if(NOT QORB_BUILD_DOCS OR NOT DOXYGEN_FOUND)
  return()
endif()
set(QORB_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Doxyfile.in ${QORB_DOCS_DIR}/Doxyfile @ONLY)
file(GLOB QORB_PUBLIC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/qorb/*.h)
add_custom_command(OUTPUT ${QORB_DOCS_DIR}/html/index.html
  COMMAND ${DOXYGEN_EXECUTABLE} ${QORB_DOCS_DIR}/Doxyfile
  DEPENDS ${QORB_DOCS_DIR}/Doxyfile ${QORB_PUBLIC_HEADERS} ${CMAKE_SOURCE_DIR}/docs/api.md
  COMMENT "API reference (Doxygen)" VERBATIM)
add_custom_target(docs ALL DEPENDS ${QORB_DOCS_DIR}/html/index.html)
install(DIRECTORY ${QORB_DOCS_DIR}/html DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libqorb-dev COMPONENT dev)
