# Turns a file into a C++ source defining `std::string_view <symbol>()`
# holding its bytes, regenerated whenever the file changes.
function(embed_resource input output symbol)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResourceRun.cmake
    DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedResourceRun.cmake
    COMMENT "Embedding ${input}")
endfunction()
