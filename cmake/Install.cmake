# What `cmake --install` puts where (GNU layout), and the Debian package made from it with
# `cpack -G DEB`.
set(QUILLMARK_APP_ID example.vellicor.Quillmark)
set(QUILLMARK_SCREENSHOT_URL "${QUILLMARK_WEBSITE_URL}screenshot.png" CACHE STRING
    "Address of the panel's screenshot named in the AppStream metainfo")
set(QUILLMARK_RELEASE_DATE "2026-12-07" CACHE STRING "Release date in the AppStream metainfo")

if(NOT TARGET quillmark)
  # Windows without Qt: the command-line companion alone.
  install(TARGETS quillmark-send RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  return()
endif()

install(TARGETS quillmark quillmark-send RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/DarkRivets.bmp DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmark)
if(WIN32)
  # The desktop entry, metainfo, icons, man pages and completion below are for Linux
  # desktops.
  return()
endif()

set(data ${PROJECT_SOURCE_DIR}/data)
configure_file(${data}/${QUILLMARK_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/data/${QUILLMARK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${data}/${QUILLMARK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/data/${QUILLMARK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${data}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${data}/man/quillmark.1 ${data}/man/quillmark-send.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${data}/completion/quillmark-send
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmark)
# The headless mode as a systemd user service, with the installed program's path.
if(TARGET quillmark_server)
  configure_file(${data}/quillmark-serve.service.in ${CMAKE_BINARY_DIR}/data/quillmark-serve.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/data/quillmark-serve.service
          DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
endif()

# The Debian package: the programs and their data, depending on the run-time libraries
# only. The Qt platform plugins are a package of their own in Debian and the panel cannot
# open a window without them.
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR "The Quillmark developers")
set(CPACK_PACKAGE_CONTACT "The Quillmark developers <${QUILLMARK_CONTACT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote control for the H3000 effects processor")
set(CPACK_PACKAGE_DESCRIPTION
    "A window laid out like the unit's front panel: every key clicked or typed sends one MIDI \
System Exclusive message that presses the same key on the unit, through the ALSA sequencer \
or JACK. quillmark-send presses the same keys from scripts.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUILLMARK_WEBSITE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
