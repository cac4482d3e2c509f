# Cross build of a self-contained 64-bit Windows console program with MinGW-w64
# (Debian: g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev). The "posix" thread
# model is needed for std::thread. Everything the program uses beyond Windows'
# own DLLs is linked in: libstdc++, libgcc, winpthread and zlib. The tests are
# skipped in a cross build.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build/windows --target quillmap
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${QM_MINGW_TRIPLE}-g++-posix ${QM_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QM_MINGW_TRIPLE}-gcc-posix ${QM_MINGW_TRIPLE}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${QM_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross sysroot only; programs run here.
set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static zlib, not the import library of zlib1.dll that a search finds first.
set(ZLIB_USE_STATIC_LIBS ON)
# -static also makes the runtime libraries static (libstdc++, libgcc, winpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
