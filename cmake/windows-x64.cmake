# Windows x86-64 with Debian's mingw-w64 compilers; tests under wine64. The
# same sources as the x86 plug-in on a second Windows ABI, and the Windows
# build that runs where 32-bit x86 programs cannot.
set(STRATAMIX_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Debian keeps the 64-bit loader beside the 32-bit one, off the PATH; its
# `wine` would pick the 32-bit loader whenever wine32 is installed.
find_program(STRATAMIX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# Wine in a prefix of the build tree's own (cmake/wine-prefix.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.sh
                                  ${CMAKE_BINARY_DIR}/wine ${STRATAMIX_WINE64})
