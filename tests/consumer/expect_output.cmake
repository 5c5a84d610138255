# Runs PROGRAM and compares its standard output with the file EXPECTED; it
# must end with status 0 and write nothing to standard error.
execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE status INPUT_FILE /dev/null)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}\n"
                      "standard error:\n${err}\nstandard output:\n${out}\nexpected:\n${expected}")
endif()
