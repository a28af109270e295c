# Runs PROGRAM with ARGS (separated by |) and checks its exit status and that its
# output (stdout, then stderr) contains EXPECTED_OUTPUT.
string(REPLACE "|" ";" ARGS "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${ARGS}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL EXPECTED_EXIT)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED_EXIT}\n${out}${err}")
endif()
string(FIND "${out}${err}" "${EXPECTED_OUTPUT}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "output lacks:\n${EXPECTED_OUTPUT}\n--- got:\n${out}${err}")
endif()
