# Runs a program of the "Tasks" section: it must exit with 0 and, when the environment names
# an EXPECTED file, print exactly its text.
#   cmake -DPROGRAM=... [-DEMULATOR=...] -P run-task.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE output)
string(REPLACE "\r\n" "\n" output "${output}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "exit ${status}, printed:\n${output}")
endif()
if(DEFINED ENV{EXPECTED})
    file(READ $ENV{EXPECTED} expected)
    if(NOT output STREQUAL expected)
        message(FATAL_ERROR "printed:\n${output}\ninstead of:\n${expected}")
    endif()
endif()
