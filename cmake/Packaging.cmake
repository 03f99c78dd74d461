# The Debian package: `cpack -G DEB --config <build>/CPackConfig.cmake` (see the README).
# Library dependencies come from dpkg-shlibdeps; the tools and the display plugins the
# application runs with are named here.

set(CPACK_PACKAGE_NAME hotspot-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Hotspot Updater developers <devel@hotspot-updater.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for USB Wi-Fi hotspots")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The record of attempts is SQLite; its Qt driver, like PostgreSQL's, is a plugin loaded at run
# time that dpkg-shlibdeps cannot see. PostgreSQL's only serves a shared record (--history-db).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adb, fastboot, qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libqt6sql6-psql")
# The synopsis comes from the summary above; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "One window, one button: finds a USB-attached mobile Wi-Fi hotspot, reads its
 firmware version and offers the update when the firmware package it carries
 is newer. The device's Wi-Fi calibration and settings are saved before the
 update and restored after it.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/resources/debian/postinst
    ${CMAKE_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# What Debian wants beside the program: the copyright and a compressed changelog.
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright DESTINATION ${_doc})
hotspot_install_gzipped(hotspot_changelog ${CMAKE_SOURCE_DIR}/resources/debian/changelog ${_doc})

include(CPack)
