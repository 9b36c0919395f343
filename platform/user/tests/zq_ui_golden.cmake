# Runs `zq ui dialog` on the gallery (id 103) and compares its picture with
# the golden, byte for byte.
execute_process(COMMAND ${ZQ} ui dialog ${MODULE} 103 --png ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zq ui dialog failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${GOLDEN} RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "the picture ${OUT} differs from the golden ${GOLDEN}")
endif()
