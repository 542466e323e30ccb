# Shared by the mingw-w64 toolchain files; ILVARC_MINGW_TRIPLE is set by the includer.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: the win32 one has no std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${ILVARC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ILVARC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ILVARC_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ILVARC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No mingw runtime DLL may be needed beside a built program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# -O3 makes GCC 12 report false array bounds inside std::vector::insert.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
