# Linux: man pages, the AppStream metainfo file and the Debian package (`cpack -G DEB` in a
# build folder makes kestrel_<version>_amd64.deb).
find_program(KESTREL_GZIP gzip REQUIRED)
set(man_out ${PROJECT_BINARY_DIR}/docs/man)
set(man_pages "")
foreach(page IN ITEMS kestrel.1 kestrel-snapshot.1)
  # Compressed without name or time stamp, as Debian wants them.
  add_custom_command(OUTPUT ${man_out}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_out}
    COMMAND ${KESTREL_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${man_out}/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND man_pages ${man_out}/${page}.gz)
endforeach()
add_custom_command(OUTPUT ${man_out}/changelog.gz
  COMMAND ${KESTREL_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${man_out}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(kestrel_docs ALL DEPENDS ${man_pages} ${man_out}/changelog.gz)

install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/org.example.kestrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${man_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel maintainers <maintainers@kestrel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "see which programs hold network endpoints")
# The summary above is the synopsis line; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kestrel lists every IPv4 TCP connection and listener and every UDP endpoint
of this machine with the program that holds it: process ID, name, path,
description and company. Its window (in Simplified Chinese) refreshes on
demand or every ten seconds and runs without privileges; the small helper
kestrel-helper, holding three capabilities, shows the owners of every user's
sockets and closes a connection of the user's own. kestrel-snapshot prints the same list on the command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KESTREL_HOME_PAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin; setcap comes with libcap2-bin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged through DESTDIR, so that the install step leaves the capabilities to postinst.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
