# CPack settings for the kit's packages. `scripts/package.sh` configures a release build
# and runs `cpack` on it; the Debian package is `k5kit_<version>_<arch>.deb`. The Windows
# build packs a zip and a Windows Installer package instead (cmake/packaging_windows.cmake,
# cmake/Msi.cmake).

set(CPACK_PACKAGE_NAME "k5kit")
set(CPACK_PACKAGE_VENDOR "K5 service kit team")
set(CPACK_PACKAGE_CONTACT "K5 service kit team <k5kit@example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service kit for the K5 digital power amplifier")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${PROJECT_SOURCE_DIR}/packaging/description.txt")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "k5kit")
# Stripped programs in the package; the build keeps its debugging symbols.
set(CPACK_STRIP_FILES ON)

if(NOT WIN32)
  set(CPACK_GENERATOR "DEB")
  set(CPACK_DEBIAN_PACKAGE_NAME "k5kit")
  set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
  set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  # The architecture is the build machine's (dpkg --print-architecture); the run-time
  # libraries come from the programs themselves through dpkg-shlibdeps. Qt loads its
  # display plugins at run time, which no linker record shows: name them here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/packaging_windows.cmake)
endif()

include(CPack)
