# Runs a generator writing to OUTPUT and checks that it wrote exactly the
# committed file COMMITTED. GENERATOR_ARGS come before OUTPUT on its command line;
# EMULATOR, if set, runs a cross-built generator.
separate_arguments(args UNIX_COMMAND "${GENERATOR_ARGS}")
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${EMULATOR} ${GENERATOR} ${args} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMMITTED} RESULT_VARIABLE different)
if(different)
  message(FATAL_ERROR "${OUTPUT} differs from the committed ${COMMITTED}; run `make data` and commit, or fix the generator")
endif()
