# What `cmake --install` puts where, and the packages CPack makes of it: on Linux the
# program, its man page, its bash completion and the README (cpack -G DEB makes the Debian
# package); in a Windows build the three programs and a publishers' README.txt
# (cpack -G ZIP makes the release zip).
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME ambrel)
set(CPACK_PACKAGE_VENDOR "The Ambrel developers")
set(CPACK_PACKAGE_CONTACT "Ambrel Developer <dev@ambrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-place upgrades of installed programs' folders")
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

if(WIN32)
  include(cmake/InstallWindows.cmake)
else()
  include(cmake/InstallLinux.cmake)
endif()
include(CPack)
