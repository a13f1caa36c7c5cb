# The Debian package of what install.cmake installs: `cpack -G DEB` in a
# configured and built tree (the prefix is /usr).
set(CPACK_PACKAGE_NAME linkbay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LINKBAY_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "add-in library for multichannel analysers on serial ports")
# The synopsis above, then these paragraphs.
set(CPACK_PACKAGE_DESCRIPTION "Host programs reach spectroscopy instruments on the serial ports COM1 to
COM5 through the add-in library, loaded at run time or linked: it reads the
port configuration, shares the ports between processes, identifies each
instrument and accepts one command language for every instrument family.

The package holds the library with its headers, CMake package and
pkg-config file, the host program linkbay and the simulated instruments
of linkbay-sim.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Instruments on other machines are reached through these (see the README).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "socat, ser2net")
# Dependencies from the binaries themselves (dpkg-shlibdeps), the library's
# shlibs file for packages built on it, and the ldconfig trigger, which
# Debian wants besides the call CPack puts in the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
