# What `cmake --install` puts where, relative to the prefix:
#   lib/libzpk-be-ulix-auth.so.<version> and its links (Linux), bin/zpk-be-ulix-auth.dll (Windows)
#   include/plugin_host_interface.h
#   share/zpk-be-ulix-auth/openapi.json              the plug-in's API
#   share/doc/zpk-be-ulix-auth/README.md, licences/  the licence texts of what is linked in
#   lib/cmake/ZpkBeUlixAuth/                         find_package(ZpkBeUlixAuth)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ULIX_PACKAGE_NAME zpk-be-ulix-auth)
set(ULIX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/${ULIX_PACKAGE_NAME})
set(ULIX_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${ULIX_PACKAGE_NAME})
set(ULIX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZpkBeUlixAuth)

if(WIN32)
  # The DLL alone: hosts load it at run time, no import library is needed.
  install(FILES $<TARGET_FILE:zpk_be_ulix_auth> DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(ULIX_INSTALL_LIBRARY ${CMAKE_INSTALL_BINDIR}/zpk-be-ulix-auth.dll)
  set(ULIX_LIBRARY_SONAME "")
else()
  install(TARGETS zpk_be_ulix_auth LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set(ULIX_INSTALL_LIBRARY ${CMAKE_INSTALL_LIBDIR}/libzpk-be-ulix-auth.so.${PROJECT_VERSION})
  set(ULIX_LIBRARY_SONAME libzpk-be-ulix-auth.so.${PROJECT_VERSION_MAJOR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/plugin_host_interface.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The OpenAPI document: this build's own, or the one a native build made.
if(ULIX_BUILD_OPENAPI_DOCUMENT)
  set(ulix_openapi_source ${ULIX_OPENAPI_OUTPUT})
else()
  set(ulix_openapi_source ${ULIX_OPENAPI_DOCUMENT})
endif()
set(ULIX_INSTALL_OPENAPI ${ULIX_INSTALL_DATADIR}/openapi.json)
if(ulix_openapi_source)
  install(FILES ${ulix_openapi_source} DESTINATION ${ULIX_INSTALL_DATADIR} RENAME openapi.json)
  set(ULIX_HAS_OPENAPI TRUE)
else()
  message(STATUS "No OpenAPI document to install: set ULIX_OPENAPI_DOCUMENT to a native build's")
  set(ULIX_HAS_OPENAPI FALSE)
endif()

# Licence texts, from Debian's packages of what the library is built with: RapidJSON (headers,
# compiled in) and libyaml (linked in on Windows, a shared library the Linux one needs). The DLLs
# also carry the static C and C++ runtimes and winpthreads of mingw-w64.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ULIX_INSTALL_DOCDIR})
set(ulix_licences rapidjson=/usr/share/doc/rapidjson-dev/copyright
                  libyaml=/usr/share/doc/libyaml-dev/copyright)
if(WIN32)
  list(APPEND ulix_licences mingw-w64=/usr/share/doc/mingw-w64-common/copyright
                            gcc-runtime=/usr/share/doc/gcc-mingw-w64-base/copyright)
endif()
foreach(entry IN LISTS ulix_licences)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 file)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "licence text of ${name} not found: ${file}")
  endif()
  install(FILES ${file} DESTINATION ${ULIX_INSTALL_DOCDIR}/licences RENAME ${name}.txt)
endforeach()

# The CMake package: imported targets for the library and the header, relocatable.
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZpkBeUlixAuthConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZpkBeUlixAuthConfig.cmake
  INSTALL_DESTINATION ${ULIX_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR ULIX_INSTALL_LIBRARY ULIX_INSTALL_OPENAPI)
# A 64-bit host finds no 32-bit package, and the major version is the plug-in API's.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZpkBeUlixAuthConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZpkBeUlixAuthConfig.cmake
              ${PROJECT_BINARY_DIR}/ZpkBeUlixAuthConfigVersion.cmake
        DESTINATION ${ULIX_INSTALL_CMAKEDIR})
