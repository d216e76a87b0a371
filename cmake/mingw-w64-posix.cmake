# Cross build for Windows x86-64 with the posix-threads variant of
# mingw-w64 (the win32 variant has no std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW}-g++-posix)
set(CMAKE_ASM_COMPILER ${QM_MINGW}-gcc-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW}-windres)
set(CMAKE_AR ${QM_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QM_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run under wine (scripts/test.sh prepares the prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
