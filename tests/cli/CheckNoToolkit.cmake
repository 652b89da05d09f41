# Fails when the program loads Qt or the libraries that come with it (ICU, GLib, PCRE2),
# libjack or libasound, or with STATIC_RUNTIME on the shared C++ runtime, directly or
# through another library: the loader's own list, as ldd prints it.
#   cmake -DPROGRAM=<file> [-DSTATIC_RUNTIME=ON] -P CheckNoToolkit.cmake
execute_process(COMMAND ldd ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE libraries
                ERROR_VARIABLE error TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed (${status}): ${error}")
endif()
if(NOT libraries MATCHES "libc\\.so")
  message(FATAL_ERROR "ldd listed no C library, so it did not list anything: ${libraries}")
endif()
set(unwanted "Qt[0-9]*[A-Za-z]+|icu[a-z0-9]+|glib-2\\.0|pcre2-[0-9]+|jack|asound")
if(STATIC_RUNTIME)
  string(APPEND unwanted "|stdc\\+\\+|gcc_s")
endif()
string(REGEX MATCHALL "lib(${unwanted})\\.so[^ \t\n]*" toolkit "${libraries}")
if(toolkit)
  list(REMOVE_DUPLICATES toolkit)
  message(FATAL_ERROR "${PROGRAM} loads ${toolkit}")
endif()
