# Windows x86 (32-bit) with Debian's mingw-w64 compilers; tests under the
# 32-bit Wine.
set(STRATAMIX_MINGW_TARGET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Scalar SSE2 arithmetic, never x87: float and double operations round as
# IEEE single and double, the same as on x86-64.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Wine in a prefix of the build tree's own (cmake/wine-prefix.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.sh
                                  ${CMAKE_BINARY_DIR}/wine wine)
