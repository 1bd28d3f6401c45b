# Runs example-config on a copy of the demo configuration twice: each run prints the value the
# pointer names, and writes the file back indented, the second run exactly as the first.
#   cmake -DPROGRAM=... -DCONFIG=... -DWORK=... [-DEMULATOR=...] -P check-example-config.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${CONFIG} ${WORK}/hub.json)

function(run pointer expected_status expected_output)
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} hub.json ${pointer} WORKING_DIRECTORY ${WORK}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output)
    string(REPLACE "\r\n" "\n" output "${output}")
    if(NOT status EQUAL expected_status OR NOT output STREQUAL expected_output)
        message(FATAL_ERROR "${pointer}: exit ${status}, printed [${output}]")
    endif()
endfunction()

run(/updater/parameters/1 0 "\"updater-arguments.txt\"\n")
file(READ ${WORK}/hub.json first)
string(FIND "${first}" "{\n  \"sources\": [\n    {\n      \"application\": " at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "not written back indented by two blanks:\n${first}")
endif()
run(/sources/1/response 0 "\"tools-response.json\"\n")
run(/updater/timeout 0 "300\n")
file(READ ${WORK}/hub.json second)
if(NOT first STREQUAL second)
    message(FATAL_ERROR "the second run wrote another text:\n${second}")
endif()
run(/sources/3 2 "")
run(updater 2 "")
