# Compiles a resource collection into a C++ source that is the same in every checkout.
#
# rcc writes each file's absolute path (as a comment) and its modification time into the
# source it generates, so a fresh clone in another folder, as CI makes every time, would miss
# the compiler cache on that source. Here rcc runs without the times (format version 1) and
# the path comments are dropped.
set(STABLE_RCC_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/stable_rcc.cmake")

function(add_stable_resources target qrc)
    get_filename_component(qrc_path "${qrc}" ABSOLUTE)
    get_filename_component(qrc_dir "${qrc_path}" DIRECTORY)
    get_filename_component(name "${qrc_path}" NAME_WE)
    file(STRINGS "${qrc_path}" lines REGEX "<file[^>]*>[^<]+</file>")
    set(inputs)
    foreach(line IN LISTS lines)
        string(REGEX REPLACE ".*<file[^>]*>([^<]+)</file>.*" "\\1" file "${line}")
        list(APPEND inputs "${qrc_dir}/${file}")
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${qrc_path}")
    set(output "${CMAKE_CURRENT_BINARY_DIR}/qrc_${name}.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" "-DRCC=$<TARGET_FILE:Qt6::rcc>" "-DNAME=${name}"
                "-DQRC=${qrc_path}" "-DOUTPUT=${output}" -P "${STABLE_RCC_SCRIPT}"
        DEPENDS "${qrc_path}" ${inputs} "${STABLE_RCC_SCRIPT}"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
endfunction()
