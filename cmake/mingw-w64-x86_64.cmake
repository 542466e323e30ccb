# Cross build for 64-bit Windows: the same sources, for running the Windows tests under a
# 64-bit Wine on machines whose kernel cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ILVARC_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
