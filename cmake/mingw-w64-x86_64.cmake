# Cross-build for 64-bit Windows with Debian's mingw-w64. The -posix compilers are the
# ones whose libstdc++ has std::thread and std::mutex; the -win32 ones do not in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMARK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMARK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMARK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMARK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMARK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their compiler's runtime, so that they start from the build folder
# (and under wine) without the mingw DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and build steps run the Windows programs under wine.
find_program(QUILLMARK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILLMARK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLMARK_WINE})
endif()
