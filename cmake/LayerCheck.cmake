# ambrel_layer_check(LIBRARY): a program that links every object of the static LIBRARY
# (whole, not only what a caller pulls in) against the libraries LIBRARY declares it links,
# and nothing else. A call from LIBRARY into a layer it does not link, such as io calling
# the package reader, leaves a symbol undefined and fails the build.
set(AMBREL_LAYER_CHECK_MAIN ${CMAKE_BINARY_DIR}/layer_check_main.cpp)
file(WRITE ${AMBREL_LAYER_CHECK_MAIN} "// Generated: the empty program of the layer checks.\nint main() { return 0; }\n")

function(ambrel_layer_check library)
  if(NOT AMBREL_BUILD_TESTS)
    return()  # the fuzz builds make only their targets
  endif()
  add_executable(${library}_layer_check ${AMBREL_LAYER_CHECK_MAIN})
  target_link_libraries(${library}_layer_check PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${library}>")
endfunction()
