# Installation and the Debian package. The programs install themselves (app/, tools/ampsim/);
# this adds what makes them a desktop application, and the CPack settings for
#   cpack --config <build>/CPackConfig.cmake      ->  fadelink_4.0_amd64.deb
include(GNUInstallDirs)
# Debian names the folder after the package, in lower case.
set(FADELINK_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/fadelink)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/fadelink.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/fadelink.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/docs/USER_GUIDE.md DESTINATION ${FADELINK_DOCDIR} OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${FADELINK_DOCDIR} OPTIONAL
        FILES_MATCHING PATTERN "guide-*.png")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fadelink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Fadelink developers <fadelink@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "controller for networked two-channel power amplifiers")
set(CPACK_PACKAGE_DESCRIPTION
    "Fadelink builds a project of named groups of amplifiers, each addressed by IPv4, and\n\
watches and drives them from one window: group faders for volume, input sensitivity and\n\
limiter with A/B locks, a global volume offset, a mute matrix, a device search, live\n\
meters and history graphs. The package also holds fadelink-headless, which runs a project\n\
without windows, and ampsim, a simulator of amplifiers on loopback addresses.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps; among them libqt6svg6, which also holds the SVG
# image and icon plugins that draw the program's images, and libqt6gui6, which holds the X11
# platform plugin. setcap, for the maintainer script, is not a library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")

set(FADELINK_CAPABLE_PROGRAMS
    "${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fadelink ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fadelink-headless")
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${PROJECT_BINARY_DIR}/packaging/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
