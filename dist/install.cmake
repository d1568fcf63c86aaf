# What `cmake --install` puts in place, and the Debian package made from it
# with `cpack -G DEB`: the program, its desktop launcher (which takes dropped
# files and folders and offers Punchlet in "Open With" for pictures, never as a
# folder handler), the file-manager actions, the icon, the AppStream metainfo,
# the manual page, the changelog and the copyright.
include(GNUInstallDirs)

set(PUNCHLET_APP_ID jp.tessaly.punchlet)
configure_file(${CMAKE_CURRENT_LIST_DIR}/${PUNCHLET_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/dist/${PUNCHLET_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/punchlet.1 ${CMAKE_BINARY_DIR}/dist/punchlet.1 @ONLY)
set(PUNCHLET_MAINTAINER "The Punchlet developers <punchlet@tessaly.jp>"
    CACHE STRING "Maintainer field of the Debian package")
set(PUNCHLET_DEB_RELEASE 1)
set(PUNCHLET_DEB_VERSION ${PROJECT_VERSION}-${PUNCHLET_DEB_RELEASE})
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${CMAKE_BINARY_DIR}/dist/changelog.Debian
               @ONLY)
# Debian installs manual pages and changelogs compressed; -n keeps the archive
# reproducible.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/punchlet.1.gz
                   ${CMAKE_BINARY_DIR}/dist/changelog.Debian.gz
                   COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/dist/punchlet.1
                           ${CMAKE_BINARY_DIR}/dist/changelog.Debian
                   DEPENDS ${CMAKE_BINARY_DIR}/dist/punchlet.1 ${CMAKE_BINARY_DIR}/dist/changelog.Debian)
add_custom_target(punchlet_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/punchlet.1.gz
                                               ${CMAKE_BINARY_DIR}/dist/changelog.Debian.gz)

install(TARGETS punchlet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripping keeps the compiler's version notes in .comment; nobody needs them.
install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/punchlet\"
  COMMAND_ERROR_IS_FATAL ANY)")
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
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/dist/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/punchlet)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME punchlet)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME punchlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PUNCHLET_DEB_RELEASE})
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
set(CPACK_PACKAGE_CONTACT ${PUNCHLET_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The page the settings window's "Info." button opens.
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessaly.example/info.php?pf=w&sn=punchlet")
# Library dependencies come from the binary; the font that draws the Japanese
# captions and the imprint text is needed at run time only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-japanese-gothic")
# A pure Wayland session needs Qt's Wayland plugin; X11 and XWayland do not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
