# Cross build for 32-bit Windows with Debian's mingw-w64 (posix thread model,
# so that std::thread and std::mutex work). Used by `scripts/build.sh win32`.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(SUITE_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SUITE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SUITE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SUITE_MINGW_PREFIX}-windres)
set(CMAKE_OBJCOPY ${SUITE_MINGW_PREFIX}-objcopy)
set(CMAKE_OBJDUMP ${SUITE_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SUITE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes (and winpthread, zlib) linked in: the files run on a
# bare Windows with no DLLs beside them but the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


# Floating point in SSE2 registers, as on x86-64 Linux: the x87 unit's wider
# intermediates would round some conversions (the readers' pixels per metre)
# differently from the Linux build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
