# Cross-compiles velk for 64-bit Windows with Debian's MinGW-w64 tool chain
# (package g++-mingw-w64-x86-64-posix). Use it through the "windows" preset,
# or pass -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake yourself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(velk_mingw_triple x86_64-w64-mingw32)
# The posix thread model variant, whose libstdc++ is complete for C++20
# (the win32 variant lacks std::thread and friends).
set(CMAKE_C_COMPILER ${velk_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${velk_mingw_triple}-g++-posix)

# Link the C++ runtime, libgcc and winpthread into the executables, so a
# .exe runs on its own on any 64-bit Windows, with no MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Headers and libraries come from the MinGW sysroot only; programs that run
# during the build (none so far) would come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${velk_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
