# The Debian package morlane_<version>_amd64.deb: `cpack` in the build folder (see
# scripts/package.sh). What goes in it is installed by packaging/CMakeLists.txt.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morlane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MORLANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MORLANE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "firmware programming and service tool for a power-conversion unit
A service technician connects the unit (an inverter or UPS) by RS232 or USB
and, in one window, programs the flash of the unit's two CPUs through their
bootloader, programs the unit's MCU over USB HID, prepares the MCU image from
a Motorola S-record file and sends service commands.
.
morlane-cli offers the same functions to scripts and production lines, and
morlane-unit-sim simulates the unit for tests, demos and training. A udev
rule gives the user at the seat access to the unit's USB device.")
# The libraries the programs link decide the dependencies; adduser makes the dashboard
# service's system user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The dashboard's page draws its charts with the system's Chart.js; without it, tables.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libjs-chart.js)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
