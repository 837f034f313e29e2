# The Debian package, made by CPack's DEB generator from the install
# component "deb" (share/CMakeLists.txt) under the prefix /usr:
#   cpack -G DEB --config <build>/CPackConfig.cmake
# gives vrksearch_<version>_<arch>.deb. Its Depends are computed from the
# programs' shared libraries (dpkg-shlibdeps), the programs are stripped.
# scripts/package makes it from a Release build and checks it.
set(CPACK_PACKAGE_NAME vrksearch)
set(CPACK_PACKAGE_VENDOR "VRKSearch developers")
set(CPACK_PACKAGE_CONTACT "${VRK_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VRK_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client for the Quorvane archive of programming components")
# The extended description, in lines of the width a package list shows.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "VRKSearch keeps a local copy of the catalogue of the Quorvane archive of"
  "programming components and tools, searches it by target tool and version,"
  "freeware, source, category and description text, downloads entries from a"
  "mirror over HTTP (directly or through a proxy) and unpacks them, and"
  "refreshes the catalogue all at once. vrk does the same on the command line."
  "Every user keeps settings, catalogue and downloads of his own under the XDG"
  "base directories.")
set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};VRKSearch;deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
