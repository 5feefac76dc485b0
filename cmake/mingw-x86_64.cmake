# Cross-build for 64-bit Windows with MinGW-w64. Used to run the Windows tests under wine64 on hosts
# whose kernel cannot start 32-bit programs; the shipped libraries are the 32-bit ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVRIN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
