# What the Windows toolchains share, for the mingw-w64 target named by
# STRATAMIX_MINGW_TARGET (set by the including toolchain file). The -posix
# compilers, because GoogleTest needs their threads. Tests and tools run
# under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${STRATAMIX_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${STRATAMIX_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${STRATAMIX_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${STRATAMIX_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtimes go inside the binaries: the plug-in imports only system
# DLLs, and the test programs need no libwinpthread-1.dll beside them.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
