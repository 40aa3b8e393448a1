# ambrel_version_resource(TARGET DESCRIPTION): gives the Windows program TARGET a
# VERSIONINFO resource with the project's version and DESCRIPTION as its file description.
# A resource file of its own, so that the program's other resources stay as they are.
function(ambrel_version_resource target description)
  set(AMBREL_RC_NAME ${target})
  set(AMBREL_RC_DESCRIPTION "${description}")
  set(rc ${PROJECT_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
