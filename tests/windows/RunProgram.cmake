# Runs one Windows program under wine and checks its exit status and output:
#   cmake -DWINE=... -DPROGRAM=... -DARGS=a,b -DEXIT=n [-DOUT_FILE=f] [-DOUT_EMPTY=1]
#         [-DERR_REGEX=r] [-DSTORE_DEVICE=dword] -P RunProgram.cmake
# STORE_DEVICE first sets "MIDI Output Device" in the registry with wine's own reg tool.
# Wine's time is bounded by the test's TIMEOUT; the program's own waits have bounds too.
if(DEFINED STORE_DEVICE)
  execute_process(COMMAND ${WINE} reg.exe add "HKCU\\Software\\Vellicor\\Quillmark\\Settings"
                          /v "MIDI Output Device" /t REG_DWORD /d ${STORE_DEVICE} /f
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "reg add failed: ${status}")
  endif()
endif()

string(REPLACE "," ";" ARGS "${ARGS}")
execute_process(COMMAND ${WINE} ${PROGRAM} ${ARGS}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
# The console's line ends are CR LF on Windows.
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")

set(failures "")
if(NOT status STREQUAL "${EXIT}")
  string(APPEND failures "exit status ${status}, expected ${EXIT}\n")
endif()
if(DEFINED OUT_FILE)
  file(READ ${OUT_FILE} expected)
  if(NOT out STREQUAL expected)
    string(APPEND failures "standard output differs from ${OUT_FILE}\n")
  endif()
endif()
if(OUT_EMPTY AND NOT out STREQUAL "")
  string(APPEND failures "standard output is not empty\n")
endif()
if(DEFINED ERR_REGEX AND NOT err MATCHES "${ERR_REGEX}")
  string(APPEND failures "standard error does not match: ${ERR_REGEX}\n")
endif()
if(failures)
  message(FATAL_ERROR "${PROGRAM} ${ARGS}\n${failures}--- stdout:\n${out}--- stderr:\n${err}")
endif()
