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
install(FILES ${data}/completion/quillmark-send
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Man pages and the changelog go out gzipped, as Debian wants them: -9 for the smallest
# file, -n to leave out the name and time stamp so that the same text gives the same bytes.
find_program(QUILLMARK_GZIP gzip REQUIRED)
set(copy ${CMAKE_BINARY_DIR}/data/changelog)
add_custom_command(OUTPUT ${copy}.gz
                   COMMAND ${CMAKE_COMMAND} -E copy ${data}/changelog ${copy}
                   COMMAND ${QUILLMARK_GZIP} -9nf ${copy}
                   DEPENDS ${data}/changelog
                   COMMENT "Compressing changelog"
                   VERBATIM)
add_custom_target(quillmark_compressed_docs ALL DEPENDS ${copy}.gz)
# The man pages name the folders the install puts things in, so they are written at
# install time, under the prefix the install uses (the Debian package's is /usr whatever
# the build was configured with).
foreach(page quillmark quillmark-send)
  set(man ${CMAKE_BINARY_DIR}/data/man/${page}.1)
  install(CODE "
    set(QUILLMARK_MAN_DATADIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/quillmark\")
    set(QUILLMARK_MAN_UNITDIR \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    configure_file(\"${data}/man/${page}.1.in\" \"${man}\" @ONLY)
    execute_process(COMMAND \"${QUILLMARK_GZIP}\" -9nf \"${man}\" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR \"gzip ${man} failed: \${status}\")
    endif()")
  install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The copyright file in Debian's machine-readable format, with the licence and its
# copyright line taken from LICENSE so that the two cannot drift apart. It is installed in
# place of LICENSE, whose whole text it carries.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT licence MATCHES "^MIT License\n+Copyright [(]c[)] ([^\n]+)\n+")
  message(FATAL_ERROR "LICENSE is no longer the MIT licence with one copyright line: "
                      "data/copyright.in names the licence and must follow it")
endif()
set(QUILLMARK_COPYRIGHT ${CMAKE_MATCH_1})
string(LENGTH "${CMAKE_MATCH_0}" heading)
string(SUBSTRING "${licence}" ${heading} -1 licence)
string(STRIP "${licence}" licence)
# Continuation lines start with a space; an empty line is written " .".
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " QUILLMARK_LICENSE_TEXT " ${licence}")
configure_file(${data}/copyright.in ${CMAKE_BINARY_DIR}/data/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/copyright ${CMAKE_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmark)

# The lintian overrides belong to the Debian package alone: a component of their own that
# a plain `cmake --install` leaves out and CPack adds below.
install(FILES ${data}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME quillmark COMPONENT debian EXCLUDE_FROM_ALL)

# The headless mode as a systemd user service. Its ExecStart names the installed program,
# so the unit is written at install time, when the prefix is known: the Debian package
# installs under /usr whatever prefix the build was configured with.
if(TARGET quillmark_server)
  set(unit ${CMAKE_BINARY_DIR}/data/quillmark-serve.service)
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${data}/quillmark-serve.service.in\" \"${unit}\" @ONLY)")
  install(FILES ${unit} DESTINATION lib/systemd/user)
endif()

# The Debian package: the programs and their data, depending on the run-time libraries
# only. The Qt platform plugins are a package of their own in Debian and the panel cannot
# open a window without them.
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR "The Quillmark developers")
set(CPACK_PACKAGE_CONTACT "The Quillmark developers <${QUILLMARK_CONTACT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote control for the H3000 effects processor")
# CPack keeps the description's line breaks; lintian wants each line within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "A window laid out like the unit's front panel: every key clicked or typed
sends one MIDI System Exclusive message that presses the same key on the
unit, through the ALSA sequencer or JACK.
quillmark-send presses the same keys from scripts.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUILLMARK_WEBSITE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libjack and libasound are opened at run time, so dpkg-shlibdeps cannot see them: named
# here as their shlibs files and the functions called ask.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libjack-jackd2-0 (>= 1.9.10+20150825) | libjack-0.125, libasound2 (>= 1.0.16)")
# What `cmake --install` installs, and the package's own component.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/;${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")
include(CPack)
