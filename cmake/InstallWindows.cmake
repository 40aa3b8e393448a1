# The Windows installation, which cpack -G ZIP makes the release zip of: ambrel32.exe,
# brackpatch.exe and ambrel.exe (stripped by CPack) beside a README.txt for publishers,
# with CR LF line ends as Windows editors expect.
install(TARGETS ambrel32 brackpatch ambrel RUNTIME DESTINATION .)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
