# Makes a header of named string-id constants from the names in the string
# table, regenerated whenever the table changes. The run fails, and with it
# the build, when the table's names and ids do not fit together.
function(generate_string_ids input output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output}
            -P ${CMAKE_SOURCE_DIR}/cmake/StringIdsRun.cmake
    DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/StringIdsRun.cmake
    COMMENT "Generating string ids from ${input}")
endfunction()
