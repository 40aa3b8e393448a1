# ambrel_host_header_package(PACKAGE TARGET DEBIAN_PACKAGE): finds a header-only CMake
# package of the build machine (CLI11, nlohmann_json) through its own config file.
# A cross build cannot take the package's include folder as it is: that folder is the build
# machine's /usr/include, whose C headers would stand before the cross compiler's own. There
# the folder is searched only after all of the compiler's folders (-idirafter), so it
# supplies just the headers the compiler lacks.
function(ambrel_host_header_package package target debian_package)
  find_package(${package} CONFIG QUIET NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${package}_FOUND)
    message(FATAL_ERROR "The header-only package ${package} is missing (Debian: ${debian_package})")
  endif()
  if(CMAKE_CROSSCOMPILING)
    get_target_property(folders ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "")
    foreach(folder ${folders})
      set_property(TARGET ${target} APPEND PROPERTY INTERFACE_COMPILE_OPTIONS "SHELL:-idirafter ${folder}")
    endforeach()
  endif()
endfunction()
