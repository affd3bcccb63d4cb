# The two third-party libraries for the Windows cross builds.
#
# RapidJSON is headers only and the same for every target, but its Debian package installs them
# straight into /usr/include, which must never be searched by the cross compiler (the Linux C
# headers there would shadow the Windows ones). A folder of the build's own holds a link to
# the rapidjson folder alone.
if(NOT EXISTS /usr/include/rapidjson/rapidjson.h)
  message(FATAL_ERROR "RapidJSON headers not found: run scripts/install-deps")
endif()
set(ULIX_RAPIDJSON_LINK_DIR ${CMAKE_BINARY_DIR}/rapidjson-include)
file(MAKE_DIRECTORY ${ULIX_RAPIDJSON_LINK_DIR})
file(CREATE_LINK /usr/include/rapidjson ${ULIX_RAPIDJSON_LINK_DIR}/rapidjson SYMBOLIC)
add_library(ulix_rapidjson INTERFACE)
target_include_directories(ulix_rapidjson SYSTEM INTERFACE ${ULIX_RAPIDJSON_LINK_DIR})

# libyaml has no mingw package: it is built here from Debian's source package of the version the
# archive ships, which scripts/install-deps --windows unpacks under build/deps/.
set(ULIX_LIBYAML_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build/deps/libyaml
    CACHE PATH "Debian's libyaml source, unpacked")
if(NOT EXISTS ${ULIX_LIBYAML_SOURCE_DIR}/src/api.c)
  message(FATAL_ERROR "libyaml source not found in ${ULIX_LIBYAML_SOURCE_DIR}: "
                      "run scripts/install-deps --windows")
endif()
file(STRINGS ${ULIX_LIBYAML_SOURCE_DIR}/CMakeLists.txt libyaml_version_lines
     REGEX "^set \\(YAML_VERSION_(MAJOR|MINOR|PATCH) [0-9]+\\)")
set(libyaml_version_definitions)
foreach(line IN LISTS libyaml_version_lines)
  string(REGEX REPLACE "^set \\((YAML_VERSION_[A-Z]+) ([0-9]+)\\)" "\\1=\\2" definition "${line}")
  list(APPEND libyaml_version_definitions ${definition})
  string(REGEX REPLACE "^set \\(YAML_VERSION_([A-Z]+) ([0-9]+)\\)" "\\2" number "${line}")
  list(APPEND libyaml_version_numbers ${number})
endforeach()
list(LENGTH libyaml_version_numbers libyaml_version_count)
if(NOT libyaml_version_count EQUAL 3)
  message(FATAL_ERROR "cannot read libyaml's version from ${ULIX_LIBYAML_SOURCE_DIR}")
endif()
list(JOIN libyaml_version_numbers "." libyaml_version)
add_library(ulix_libyaml STATIC
  ${ULIX_LIBYAML_SOURCE_DIR}/src/api.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/dumper.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/emitter.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/loader.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/parser.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/reader.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/scanner.c
  ${ULIX_LIBYAML_SOURCE_DIR}/src/writer.c)
target_include_directories(ulix_libyaml SYSTEM PUBLIC ${ULIX_LIBYAML_SOURCE_DIR}/include)
target_compile_definitions(ulix_libyaml
  PUBLIC YAML_DECLARE_STATIC
  PRIVATE ${libyaml_version_definitions} YAML_VERSION_STRING="${libyaml_version}")
# Third-party code: its own warnings are not ours to fix, and its sources are written to be
# compiled one at a time (a unity build would define its private header's types twice).
target_compile_options(ulix_libyaml PRIVATE -w)
set_target_properties(ulix_libyaml PROPERTIES UNITY_BUILD OFF)
# The name the rest of the build links, as on Linux.
add_library(PkgConfig::YAML ALIAS ulix_libyaml)
