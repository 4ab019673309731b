# Run by add_stable_resources: rcc without modification times, then without path comments.
execute_process(
    COMMAND "${RCC}" --name "${NAME}" --format-version 1 "${QRC}" -o "${OUTPUT}.tmp"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "rcc failed on ${QRC}")
endif()
file(READ "${OUTPUT}.tmp" source)
string(REGEX REPLACE "\n *// [^\n]*" "" source "${source}")
file(WRITE "${OUTPUT}" "${source}")
file(REMOVE "${OUTPUT}.tmp")
