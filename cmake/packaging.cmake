# The Debian package (cpack -G DEB). Its library dependencies come from the installed programs
# themselves (dpkg-shlibdeps); the packages listed here are what they need at run time without
# linking: Qt's X11 platform plugin and French translations, and the decoders' helpers.
set(CPACK_PACKAGE_NAME movaro-gif)
set(CPACK_PACKAGE_VENDOR "Movaro Gif")
set(CPACK_PACKAGE_CONTACT "Movaro Gif <contact@movarogif.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://movarogif.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for animated GIF images")
set(CPACK_PACKAGE_DESCRIPTION
    "Movaro Gif builds animated GIF images from pictures, the clipboard or the frames of a GIF:\n"
    "frames in order, each with its delay and disposal, looping and comment, transition frames,\n"
    "playback in the window, plain or optimised save. French user interface.\n"
    "movaro-gif-cli runs the same engine from the command line.\n"
    "License: GPL-3.0-or-later")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ghostscript, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
