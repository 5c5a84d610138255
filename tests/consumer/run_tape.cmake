# The installed tape on the installed demo program: by its full path, by a
# name relative to the executable (found beside it, whatever directory it
# starts in), and with no name at all (bin/ holds no code.txt).
file(WRITE ${WORK}/enter.txt "\n")
get_filename_component(bin ${TAPE} DIRECTORY)
file(RELATIVE_PATH relative ${bin} ${EXAMPLES}/code.txt)
file(READ ${EXAMPLES}/code.expected output)

set(cases
  "${EXAMPLES}/code.txt|Executing ${EXAMPLES}/code.txt\r\n\r\n${output}\r\n\r\nExecution complete.\r\n>"
  "${relative}|Executing ${relative}\r\n\r\n${output}\r\n\r\nExecution complete.\r\n>"
  "|Could not load code.txt\r\n>")
foreach(case IN LISTS cases)
  string(FIND "${case}" "|" bar)
  string(SUBSTRING "${case}" 0 ${bar} name)
  math(EXPR bar "${bar} + 1")
  string(SUBSTRING "${case}" ${bar} -1 expected)
  if(name STREQUAL "")
    set(command ${TAPE})
  else()
    set(command ${TAPE} ${name})
  endif()
  # Compared as hexadecimal: CMake drops carriage returns from text it reads.
  execute_process(COMMAND ${command} WORKING_DIRECTORY ${WORK} INPUT_FILE ${WORK}/enter.txt
                  OUTPUT_FILE ${WORK}/tape.out ERROR_VARIABLE err RESULT_VARIABLE status)
  file(READ ${WORK}/tape.out out_hex HEX)
  string(HEX "${expected}" expected_hex)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out_hex STREQUAL expected_hex)
    file(READ ${WORK}/tape.out out)
    message(FATAL_ERROR "tape ${name} ended with ${status}\n"
                        "standard error:\n${err}\nstandard output:\n${out}\nexpected:\n${expected}")
  endif()
endforeach()
