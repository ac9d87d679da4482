# Settings shared by the MinGW-w64 toolchain files; TARVOK_MINGW_PREFIX
# names the target triple.
set(CMAKE_C_COMPILER ${TARVOK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVOK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVOK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVOK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The standard-conforming stdio of MinGW: the same number formatting as on
# Linux (two-digit exponents, C99 conversions) instead of the system
# runtime's.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
