# 64-bit Windows programs from Debian's MinGW-w64, posix thread model (the
# win32 model has no std::thread or std::mutex). Run them under Wine here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside the programs: libstdc++, libgcc and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# The MinGW printf family with C99 formats (%zu, %lld), and 64-bit off_t.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -D_FILE_OFFSET_BITS=64")
