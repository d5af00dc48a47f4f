# The tests' Python interpreter, as the real program: a launcher in front of
# it (a version manager's shim, a shell script) can take longer to start than
# a whole test takes to run, and the tests start Python a score of times.
if(NOT DEFINED Python3_EXECUTABLE)
  find_program(HADROK_PYTHON3_ON_PATH NAMES python3)
  if(HADROK_PYTHON3_ON_PATH)
    execute_process(COMMAND ${HADROK_PYTHON3_ON_PATH} -c "import sys; print(sys.executable)"
      OUTPUT_VARIABLE python3_itself OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE python3_status ERROR_QUIET)
    if(python3_status EQUAL 0 AND EXISTS "${python3_itself}")
      set(Python3_EXECUTABLE ${python3_itself} CACHE FILEPATH "The tests' Python interpreter")
    endif()
  endif()
endif()
