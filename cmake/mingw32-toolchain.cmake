# 32-bit Windows (x86) build from Linux with Debian's mingw-w64 cross compilers. The kernels of
# our build machines run no 32-bit code, so its tests are built but not run; the record layouts
# of the host interface are checked while compiling.
set(ULIX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
