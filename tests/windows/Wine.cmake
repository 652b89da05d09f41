# The Windows tests run under wine, in a wine prefix of this build's own, made once by the
# fixture below before the first test.
if(NOT QUILLMARK_WINE)
  message(FATAL_ERROR "wine64 not found: the Windows tests run under wine (tools/setup.sh installs it)")
endif()
set(QUILLMARK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# No debug chatter; no prompts to install wine's .NET and HTML engines into the prefix;
# no display, so that nothing opens a window whatever display the tests run under.
set(QUILLMARK_WINE_ENVIRONMENT
  "WINEPREFIX=${QUILLMARK_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
  "DISPLAY=" "WAYLAND_DISPLAY=")

add_test(NAME wine_prefix COMMAND ${QUILLMARK_WINE} wineboot.exe --init)
set_tests_properties(wine_prefix PROPERTIES TIMEOUT 180 FIXTURES_SETUP wine
                     ENVIRONMENT "${QUILLMARK_WINE_ENVIRONMENT}")

# Runs a test under the wine prefix.
function(quillmark_under_wine test)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "${QUILLMARK_WINE_ENVIRONMENT}")
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
endfunction()
