# Fails unless the dynamic symbol table of LIBRARY defines exactly one symbol, load_ulix_auth.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "[0-9a-fA-F]+ [A-Za-z] " "" names "${symbols}")
string(STRIP "${names}" names)
if(NOT names STREQUAL "load_ulix_auth")
  message(FATAL_ERROR "the library exports more than load_ulix_auth:\n${symbols}")
endif()
message(STATUS "exports: ${names}")
