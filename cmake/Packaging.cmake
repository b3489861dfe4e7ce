# What `cmake --install` puts in place (the gateway, its tools, the desktop entry and the
# README) and the Debian package that CPack makes of it (`cpack -G DEB` or the `package` target).
# The executables install themselves next to their targets; tests and benchmarks install nothing.

# Debian keeps a package's documents under its package name.
set(GATEWAY_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zorvan-server)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorvan-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The README shows the window's pictures from docs/ beside it.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${GATEWAY_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${GATEWAY_DOC_DIR}/docs
        FILES_MATCHING PATTERN "*.png")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvan-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zorvan_Server developers")
# The Maintainer field of the package; a site that ships it sets its own.
set(GATEWAY_PACKAGE_MAINTAINER "Zorvan_Server maintainers <root@localhost>"
    CACHE STRING "Name and address for the Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${GATEWAY_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Contact ID gateway between alarm communicators and the Zorvan monitoring console")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack indents it under the summary and marks the empty line.
set(CPACK_PACKAGE_DESCRIPTION
    "Zorvan_Server accepts 21-character Contact ID receiver lines from GPRS
communicators over TCP and from a GSM modem on a serial port, translates
them into the binary frames of the Zorvan console's serial protocol and
acknowledges each sender once the console has acknowledged. It supervises
the objects of its object list and sends the console periodic link tests.

The package also holds frame-tool (translation and checksums on the command
line), console-sim (a virtual console on a pseudo-terminal) and
communicator-sim (a simulated GPRS communicator).")
# The shared libraries come from dpkg-shlibdeps (package dpkg-dev); Qt's window-system plugins
# are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The window's designed narrow font; virtual serial ports for trying the gateway without a modem.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "socat")

include(CPack)
