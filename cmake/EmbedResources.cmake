# ambrel_embed_resources(OUTPUT SYMBOL "ID=FILE" ...): generates a C++ file that defines the
# os::ResourceTable SYMBOL holding the bytes of each FILE under its numeric or text ID.
function(ambrel_embed_resources output symbol)
  set(args)
  set(deps)
  foreach(resource ${ARGN})
    list(APPEND args "${resource}")
    string(REGEX REPLACE "^[^=]*=" "" file "${resource}")
    list(APPEND deps "${file}")
  endforeach()
  string(REPLACE ";" "|" joined "${args}")
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DSYMBOL=${symbol} "-DITEMS=${joined}"
            -P ${PROJECT_SOURCE_DIR}/cmake/GenerateResourceTable.cmake
    DEPENDS ${deps} ${PROJECT_SOURCE_DIR}/cmake/GenerateResourceTable.cmake
    COMMENT "Embedding resources into ${output}")
endfunction()
