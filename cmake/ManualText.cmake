# The manual page as plain text: cmake -DGROFF=... -DIN=tape.1 -DOUT=tape.txt -P ManualText.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u ${IN}
  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "groff could not set ${IN}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
