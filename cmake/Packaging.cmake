# Debian package built by `cpack` in a configured build tree (the `package` target of the Makefile).
# Included last by the top-level CMakeLists.txt, because CPack only sees install() rules made
# before it.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "teskmanager")
set(CPACK_PACKAGE_VENDOR "TeskManager developers")
set(CPACK_PACKAGE_CONTACT "TeskManager developers <dev@example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "serial and TCP test tool with four channels in one window")
set(CPACK_PACKAGE_DESCRIPTION
"TeskManager exercises devices over a serial line and over TCP. One window holds
four independent channels: one serial port and three TCP clients. For each
channel the user opens the link, sends a typed command as text or as
hexadecimal bytes, optionally repeats it on a timer, and watches sent and
received traffic in different colours with per-channel counters. Everything
shown is also written to per-run log files under ~/Documents/TeskManager.
Lua scripts drive the channels and give a verdict (JUnit report, exit
status), in the window or, with teskmanager-run, without one.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")

# The install rules use relative destinations, so the package can place them under /usr
# whatever CMAKE_INSTALL_PREFIX a developer configured for `cmake --install`.
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TeskManager developers <dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/teskmanager")
# The Qt libraries come from whichever Debian release and Qt major version (QT_MAJOR_VERSION)
# built the package; dpkg-shlibdeps derives the matching versioned dependencies instead of a
# hand-kept list going stale. Debian's libqt5gui5 and libqt6gui6 both carry the X11 platform
# plugin, so no plugin package needs naming.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
