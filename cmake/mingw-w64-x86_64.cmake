# Cross toolchain: 64-bit Windows with Debian's MinGW-w64 (posix threads).
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OV_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER   NAMES ${OV_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${OV_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER  NAMES ${OV_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_AR           NAMES ${OV_MINGW_TRIPLE}-gcc-ar-posix ${OV_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB       NAMES ${OV_MINGW_TRIPLE}-gcc-ranlib-posix ${OV_MINGW_TRIPLE}-ranlib)
find_program(CMAKE_OBJDUMP      NAMES ${OV_MINGW_TRIPLE}-objdump)

# Headers and libraries come from the MinGW sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
