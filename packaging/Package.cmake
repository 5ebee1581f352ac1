# The Debian package (`make package`, or `cpack -G DEB` in the build folder). Its dependencies come
# from dpkg-shlibdeps over every program and library it holds; the Qt platform plugins are named
# because Qt loads them at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandorfile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tandor File developers")
set(CPACK_PACKAGE_CONTACT "${TANDOR_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "archive utility for zip, RAR, tar and gzip archives")
set(CPACK_PACKAGE_DESCRIPTION
"Tandor File opens zip, RAR, tar, gzip and tar.gz archives, lists and extracts
them, adds to and deletes from zip archives, makes zip, tar, gzip and tar.gz
archives, unzips many archives in one batch, and turns zip archives into
self-extracting programs and back. Its pages lead through numbered steps.
It never writes outside the folder it extracts into.

The command-line front tandor does the same without a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tandorfile.example.org/software)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
