# The Windows installer, made with NSIS (Debian's makensis) from cmake/windows/Quillmark.nsi.in:
# build/<preset>/Quillmark-<version>-setup.exe, built with the programs.
find_program(QUILLMARK_MAKENSIS makensis NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLMARK_MAKENSIS)
  message(FATAL_ERROR "makensis not found: the Windows installer needs NSIS (tools/setup.sh installs it)")
endif()

set(QUILLMARK_INSTALLER ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-setup.exe)
# The programs go in without their debugging information.
set(files ${CMAKE_BINARY_DIR}/installer/files)
set(QUILLMARK_INSTALL_EXE ${files}/quillmark.exe)
set(QUILLMARK_INSTALL_SEND_EXE ${files}/quillmark-send.exe)
set(QUILLMARK_INSTALL_BACKGROUND ${CMAKE_BINARY_DIR}/bin/DarkRivets.bmp)
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/Quillmark.nsi.in ${CMAKE_BINARY_DIR}/installer/Quillmark.nsi @ONLY)

add_custom_command(OUTPUT ${QUILLMARK_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${files}
  COMMAND ${CMAKE_STRIP} -o ${QUILLMARK_INSTALL_EXE} $<TARGET_FILE:quillmark>
  COMMAND ${CMAKE_STRIP} -o ${QUILLMARK_INSTALL_SEND_EXE} $<TARGET_FILE:quillmark-send>
  COMMAND ${QUILLMARK_MAKENSIS} -V2 -NOCD ${CMAKE_BINARY_DIR}/installer/Quillmark.nsi
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/Quillmark.nsi.in quillmark quillmark-send ${QUILLMARK_INSTALL_BACKGROUND}
  COMMENT "Making the Windows installer ${PROJECT_NAME}-${PROJECT_VERSION}-setup.exe")
add_custom_target(windows_installer ALL DEPENDS ${QUILLMARK_INSTALLER})
