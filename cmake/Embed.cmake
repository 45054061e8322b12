# morvane_embed(<target> <symbol> <file>): compiles <file> into <target> as
#   extern const unsigned char <symbol>[];  extern const std::size_t <symbol>Size;
# The source is written at configure time; a change of the file re-runs the
# configuration, so the build always embeds the file as it is on disk.
function(morvane_embed target symbol file)
  set(out ${CMAKE_BINARY_DIR}/embedded/${symbol}.cpp)
  set(INPUT ${file})
  set(OUTPUT ${out}.new)
  set(SYMBOL ${symbol})
  include(${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake)
  file(COPY_FILE ${out}.new ${out} ONLY_IF_DIFFERENT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  target_sources(${target} PRIVATE ${out})
endfunction()
