# The same check against an optimised library without sanitizers, where a use of destroyed objects
# at exit shows as a crash: configures the project once more (Release, no sanitizers) in BINARY_DIR,
# builds only the library and the program, then runs run_exit_check.cmake on them.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DGENERATOR=... -DCXX=... -DC=... [-DLAUNCHER=...] -P release_exit_check.cmake
foreach(var SOURCE_DIR BINARY_DIR GENERATOR CXX C)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "release_exit_check: ${var} is not set")
  endif()
endforeach()

set(options -G "${GENERATOR}" -DCMAKE_BUILD_TYPE=Release -DTAVRIN_SANITIZE= -DTAVRIN_RELEASE_EXIT_CHECK=OFF
            -DCMAKE_C_COMPILER=${C} -DCMAKE_CXX_COMPILER=${CXX})
if(LAUNCHER)
  list(APPEND options -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${BINARY_DIR}" ${options}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring the release check failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY_DIR}" -j 2 --target Tavrin tavrin_exit_program
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building the release check failed:\n${out}")
endif()

set(PROGRAM "${BINARY_DIR}/bin/tavrin_exit_program")
set(LIBRARY "${BINARY_DIR}/lib/libTavrin.so")
set(WORK_DIR "${BINARY_DIR}/exit-run")
include("${CMAKE_CURRENT_LIST_DIR}/run_exit_check.cmake")
