# What an installation of Quorvel carries besides the program and its page (desktop entry,
# icons, AppStream metadata, documentation) and the Debian package that holds it all.
# scripts/package builds the package: <build>/quorvel_<version>_<arch>.deb.

set(QUORVEL_LINUX_DIR ${QUORVEL_RESOURCES_DIR}/linux)
set(QUORVEL_GENERATED ${CMAKE_BINARY_DIR}/generated)
set(QUORVEL_APP_ICON ${QUORVEL_RESOURCES_DIR}/icons/hicolor/scalable/apps/quorvel.svg)
set(QUORVEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorvel)

install(FILES ${QUORVEL_LINUX_DIR}/quorvel.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${QUORVEL_LINUX_DIR}/app.quorvel.Quorvel.metainfo.xml
  ${QUORVEL_GENERATED}/app.quorvel.Quorvel.metainfo.xml @ONLY)
install(FILES ${QUORVEL_GENERATED}/app.quorvel.Quorvel.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${QUORVEL_RESOURCES_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# PNG sizes of the application icon, rendered from its SVG.
find_program(RSVG_CONVERT rsvg-convert)
set(QUORVEL_ICON_PNGS)
if(RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(folder ${QUORVEL_GENERATED}/icons/hicolor/${size}x${size}/apps)
    add_custom_command(OUTPUT ${folder}/quorvel.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${folder}/quorvel.png ${QUORVEL_APP_ICON}
      DEPENDS ${QUORVEL_APP_ICON} VERBATIM)
    list(APPEND QUORVEL_ICON_PNGS ${folder}/quorvel.png)
  endforeach()
  install(DIRECTORY ${QUORVEL_GENERATED}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
else()
  message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: no PNG icons")
endif()

# Documentation as Debian wants it: the copyright file and a compressed changelog.
configure_file(${QUORVEL_LINUX_DIR}/changelog.in ${QUORVEL_GENERATED}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${QUORVEL_GENERATED}/doc/changelog.gz
  COMMAND gzip -9nkf ${QUORVEL_GENERATED}/doc/changelog
  DEPENDS ${QUORVEL_GENERATED}/doc/changelog VERBATIM)
configure_file(${QUORVEL_LINUX_DIR}/quorvel.1 ${QUORVEL_GENERATED}/man/quorvel.1 @ONLY)
add_custom_command(OUTPUT ${QUORVEL_GENERATED}/man/quorvel.1.gz
  COMMAND gzip -9nkf ${QUORVEL_GENERATED}/man/quorvel.1
  DEPENDS ${QUORVEL_GENERATED}/man/quorvel.1 VERBATIM)
install(FILES ${QUORVEL_GENERATED}/man/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
add_custom_target(quorvel_install_files ALL
  DEPENDS ${QUORVEL_ICON_PNGS} ${QUORVEL_GENERATED}/doc/changelog.gz
  ${QUORVEL_GENERATED}/man/quorvel.1.gz)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${QUORVEL_LINUX_DIR}/copyright
  ${QUORVEL_GENERATED}/doc/changelog.gz DESTINATION ${QUORVEL_DOC_DIR})

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE QUORVEL_DEB_ARCH
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT QUORVEL_DEB_ARCH)
  set(QUORVEL_DEB_ARCH amd64)
endif()
set(QUORVEL_PACKAGE_FILE ${CMAKE_BINARY_DIR}/quorvel_${PROJECT_VERSION}_${QUORVEL_DEB_ARCH}.deb)

# Installing (and so packaging) takes what is built: scripts/package builds just the program and
# its files, so a package never waits for the tests and benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_CONTACT "The Quorvel developers <dev@quorvel.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dictation from the tray, speech to polished text")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorvel lives in the tray of the desktop. Press F6, or the record button
of its popover, and speak: the running transcript shows live, and when you
stop it is rewritten into concise text by a chat-completion service
(DeepSeek with your own key, or a hosted relay). Speech is recognised on
the machine with pocketsphinx.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME quorvel_${PROJECT_VERSION}_${QUORVEL_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUORVEL_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quorvel.app)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The English model is a data package that no shared library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS pocketsphinx-en-us)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
