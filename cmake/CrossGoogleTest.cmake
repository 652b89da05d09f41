# GoogleTest for the Windows cross-build, compiled from Debian's googletest sources with
# the cross compiler (the packaged libraries are built for the host). The targets get
# the same GTest:: names that find_package(GTest) gives.
set(QUILLMARK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross-build")
if(NOT EXISTS ${QUILLMARK_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QUILLMARK_GOOGLETEST_SOURCE}: install googletest (tools/setup.sh)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUILLMARK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
