# What `cmake --install` puts in place, and the Debian package made from it
# with `cpack -G DEB`: the program, its desktop launcher (which takes dropped
# files and folders and offers Punchlet in "Open With" for pictures, never as a
# folder handler), the file-manager actions, the icon, the AppStream metainfo,
# the manual page and the licence.
include(GNUInstallDirs)

set(PUNCHLET_APP_ID jp.tessaly.punchlet)
configure_file(${CMAKE_CURRENT_LIST_DIR}/${PUNCHLET_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/dist/${PUNCHLET_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/punchlet.1 ${CMAKE_BINARY_DIR}/dist/punchlet.1 @ONLY)
# Debian installs manual pages compressed; -n keeps the archive reproducible.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/punchlet.1.gz
                   COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/dist/punchlet.1
                   DEPENDS ${CMAKE_BINARY_DIR}/dist/punchlet.1)
add_custom_target(punchlet_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/punchlet.1.gz)

install(TARGETS punchlet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/punchlet.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Folders are punched through file-manager actions, which never make Punchlet
# a default handler: a Dolphin service menu and a Nemo action.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/punchlet-punch.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/punchlet.nemo_action
        DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)
install(FILES ${CMAKE_BINARY_DIR}/dist/${PUNCHLET_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_BINARY_DIR}/dist/punchlet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/punchlet
        RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME punchlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "punch photos into small decorated JPEG copies")
set(CPACK_PACKAGE_DESCRIPTION
    "Drop picture files or folders onto Punchlet and every BMP or JPEG picture\n"
    "found becomes a small, decorated JPEG copy beside its source: scaled into one\n"
    "of three size classes, optionally cropped square, given rounded corners with a\n"
    "coloured frame and imprinted with a line of text. Existing files are never\n"
    "overwritten. The user interface is in Japanese.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(PUNCHLET_MAINTAINER "The Punchlet developers <punchlet@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${PUNCHLET_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binary; the font that draws the Japanese
# captions and the imprint text is needed at run time only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-ipafont-gothic)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
