# Decodes SCRAMBLED with TOOL into WORK and fails unless it equals PLAIN.
execute_process(COMMAND ${TOOL} decode ${SCRAMBLED} ${WORK} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "decoding ${SCRAMBLED} failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK} ${PLAIN} RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${SCRAMBLED} does not decode to ${PLAIN}")
endif()
