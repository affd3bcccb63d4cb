# 64-bit Windows build from Linux with Debian's mingw-w64 cross compilers (the posix thread
# model, for std::thread and std::mutex). Tests run under wine64.
set(ULIX_MINGW_TRIPLET x86_64-w64-mingw32)
# Debian's wine64 package installs the loader outside PATH unless the wine wrapper is installed.
find_program(ULIX_WINE wine64 PATHS /usr/lib/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
