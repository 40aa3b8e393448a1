# The Linux installation: bin/ambrel, its man page and bash completion (both generated at
# build time from the built program's --help texts, so that they cannot drift from it),
# the README, and the Debian package's copyright and changelog.
find_program(HELP2MAN_EXECUTABLE help2man)
find_package(Python3 COMPONENTS Interpreter REQUIRED)
if(NOT HELP2MAN_EXECUTABLE)
  message(FATAL_ERROR "help2man is missing (Debian: apt-get install help2man)")
endif()

set(docs ${PROJECT_BINARY_DIR}/docs)
set(AMBREL_MAN_PAGE ${docs}/ambrel.1)
set(AMBREL_COMPLETION ${docs}/ambrel)
add_custom_command(
  OUTPUT ${docs}/ambrel_commands.h2m ${docs}/ambrel
  COMMAND ${CMAKE_COMMAND} -E make_directory ${docs}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/docs/help_docs.py $<TARGET_FILE:ambrel>
          ${docs}/ambrel_commands.h2m ${docs}/ambrel
  DEPENDS ambrel ${PROJECT_SOURCE_DIR}/cmake/docs/help_docs.py
  COMMENT "Generating the command sections and the bash completion from ambrel's --help")
add_custom_command(
  OUTPUT ${docs}/ambrel.1
  COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1
          --include=${PROJECT_SOURCE_DIR}/doc/ambrel.h2m --include=${docs}/ambrel_commands.h2m
          --output=${docs}/ambrel.1 $<TARGET_FILE:ambrel>
  COMMAND ${CMAKE_COMMAND} -DPAGE=${docs}/ambrel.1 -P ${PROJECT_SOURCE_DIR}/cmake/docs/man_date.cmake
  DEPENDS ambrel ${PROJECT_SOURCE_DIR}/doc/ambrel.h2m ${docs}/ambrel_commands.h2m
          ${PROJECT_SOURCE_DIR}/cmake/docs/man_date.cmake
  COMMENT "Generating the man page ambrel.1 with help2man")
# Debian keeps a native package's changelog compressed, without a time stamp in the gzip
# header so that the same sources give the same package.
add_custom_command(
  OUTPUT ${docs}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${docs}/changelog
  COMMAND gzip -9nf ${docs}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(ambrel_docs ALL DEPENDS ${docs}/ambrel.1 ${docs}/ambrel ${docs}/changelog.gz)

install(TARGETS ambrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${docs}/ambrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${docs}/ambrel DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright ${docs}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: ambrel_VERSION_ARCH.deb, its library dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY, which CPack puts first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ambrel applies upgrade packages to an installed program's folder in
place: every file is verified before anything changes, and new versions are
rebuilt into a temporary folder and verified before they replace the old ones.
It also verifies folders against packages, shows what a package holds, and
builds packages from two folder trees.")
# Debian keeps man pages compressed: the package's copy is gzipped after CPack's
# installation, before it is packed. `cmake --install` leaves the page as it is.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/docs/compress_man_pages.cmake)
