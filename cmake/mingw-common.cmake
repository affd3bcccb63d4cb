# What both Windows toolchains share; the including file sets ULIX_MINGW_TRIPLET and, when the
# tests can run on this machine, ULIX_WINE.
set(CMAKE_SYSTEM_NAME Windows)
if(ULIX_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
set(CMAKE_C_COMPILER ${ULIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ULIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ULIX_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ULIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads go into every binary, so the DLL and the test programs
# need only DLLs that come with Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(ULIX_WINE)
  # A prefix of the build's own, made on the first run; no display and no installer prompts.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
      WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${ULIX_WINE})
endif()
