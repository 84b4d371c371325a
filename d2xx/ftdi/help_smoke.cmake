# Runs PROGRAM without arguments: with no USB module attached it must print
# the help ending in " No devices present.", nothing on standard error, and
# end with status 0.
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL "0" OR NOT out MATCHES "^PAL dumping and analysis utility\n.*\n\n No devices present\\.\n$"
   OR NOT err STREQUAL "")
    message(FATAL_ERROR "${PROGRAM}: status ${status}\n--- standard output:\n${out}--- standard error:\n${err}")
endif()
