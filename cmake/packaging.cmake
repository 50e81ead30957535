# The Debian package: `cpack -G DEB` in a build folder packs what `cmake --install` puts under
# /usr. Its dependencies come from the libraries the binary links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kopierwart)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kopierwart-Projekt")
set(CPACK_PACKAGE_CONTACT "Kopierwart-Projekt <${KOPIERWART_CONTACT_MAIL}>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The first packaging of each version: the changelog below is Debian's, not the program's.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(KW_PACKAGE_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Hält das Upload-Verzeichnis leer / keeps the P2P upload folder empty")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KOPIERWART_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs in German; without them the program still runs, with English buttons. The
# folder, mail and homepage links open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
# Players for the desktop's event sounds; without one a second start only beeps.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pulseaudio-utils | pipewire-bin, sound-theme-freedesktop")
# CPack puts the summary above as the synopsis line; the German and the English text follow it
# as two paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kopierwart sitzt im Benachrichtigungsbereich und verschiebt alle paar
Sekunden jede neue Datei aus dem Upload-Verzeichnis eines P2P-Programms
in ein Zielverzeichnis, damit dort nichts zum Hochladen liegen bleibt.
Jede Datei wird erst kopiert und geprüft, dann gelöscht. Das Programm
startet auf Wunsch mit der Sitzung und spricht Deutsch.
.
Kopierwart sits in the notification area and, every few seconds, moves
each new file from the upload folder of a peer-to-peer program into a
destination folder, so nothing stays behind to be shared. Every file is
copied and checked before it is deleted. It can start with the session;
its interface is German.")

# What Debian asks of every package beside the program: the licence in machine-readable form, a
# changelog (compressed without a time stamp), and lintian's notes on tags it gets wrong here.
set(KW_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
configure_file(${CMAKE_SOURCE_DIR}/data/debian/copyright.in
               ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/debian/copyright DESTINATION ${KW_PACKAGE_DOC_DIR})
execute_process(COMMAND date -u -R -d "${KOPIERWART_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE KW_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/changelog.in
               ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9 -n -k -f changelog.Debian
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
add_custom_target(kw_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${KW_PACKAGE_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

include(CPack)
