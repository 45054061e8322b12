# morvane_embed(<target> <symbol> <file>): compiles <file> into <target> as
#   extern const unsigned char <symbol>[];  extern const std::size_t <symbol>Size;
# The generated source is rebuilt whenever the file changes.
function(morvane_embed target symbol file)
  set(out ${CMAKE_BINARY_DIR}/embedded/${symbol}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${out} -DSYMBOL=${symbol}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
    DEPENDS ${file} ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
    COMMENT "Embedding ${file}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
