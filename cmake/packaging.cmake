# `make package`: a Debian package of the program (cpack -G DEB).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clipvault)
set(CPACK_PACKAGE_VENDOR "The Clip Vault developers")
set(CPACK_PACKAGE_CONTACT "The Clip Vault developers <clipvault@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collect, file and play Flash movies met on the web")
set(CPACK_PACKAGE_DESCRIPTION
  "Clip Vault collects Flash movies (SWF files) from the pages you visit, files\n\
them in a catalogue sorted into categories, downloads them in the background\n\
and plays them with Ruffle, the Flash Player emulator. It detects the movies\n\
of a page and of its frames, walks the browser's cache, and offers a small bar\n\
over a movie in a Chromium-family browser that saves it with one click.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/clipvault/clipvault")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; what they need at run time besides:
# the web engine's helper process and resources, the desktop's opener, certificates for https.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/src/hook)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6webengine6-data, qt6-qpa-plugins, qt6-wayland, xdg-utils, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The host manifest in /etc is the administrator's to change: an upgrade keeps their changes.
file(WRITE ${CMAKE_BINARY_DIR}/debian-control/conffiles
     "/etc/chromium/native-messaging-hosts/io.github.clipvault.companion.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-control/conffiles)
include(CPack)
