# `make package` / `cpack`: a Debian package of everything `cmake --install` puts in place
# (the programs, their man pages, the udev rule, the systemd units, the desktop entry and the
# icon), installed below /usr.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quarvel-config")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quarvel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration and monitoring tool for a GPS-referenced clock generator")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(QUARVEL_PACKAGE_MAINTAINER "quarvel-config maintainers <quarvel-config@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUARVEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The library dependencies are read from the programs themselves (dpkg-shlibdeps), so they
# match what was linked: Qt 6 Widgets, hidapi (hidraw), the C++ runtime.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The rule is only a file until udev reloads its rules.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
# The summary above is the first line of the Description field; CPack indents this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "quarvel-config finds the clock generators attached by USB (HID, vendor 6b4e,
product 3c59), shows their settings and the lock state of their GPS reference
and PLL, searches a divider set for a requested output frequency and uploads
it, and sends the device's output, sleep and register commands.

quarvel-demo shows the same window on simulated devices, quarvel-probe lists
the attached devices and explains why one cannot be opened, quarvel-plan
prints the frequency plan for a requested frequency, and quarvel-ctl sends
every device command from the command line, for scripts and headless stations.

A udev rule gives the user at the seat, and group plugdev, access to the device.
The systemd units quarvel-watch@SERIAL and quarvel-wspr@SERIAL run quarvel-ctl
watch and wspr as services, as system user quarvel.")

# Reload the rules so that a device plugged in after the installation is accessible at once;
# where udev is not running (containers, chroots) there is nothing to reload.
set(_quarvel_postinst "${CMAKE_CURRENT_BINARY_DIR}/packaging/postinst")
# The station services run as system user quarvel, in group plugdev, which the udev rule gives
# the device to; useradd is in every Debian system, adduser is not.
file(WRITE "${_quarvel_postinst}" "#!/bin/sh
set -e
if [ \"$1\" = configure ]; then
    getent group plugdev >/dev/null || groupadd --system plugdev
    if ! getent passwd quarvel >/dev/null; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \\
            --shell /usr/sbin/nologin --comment 'quarvel-config station services' quarvel
    fi
    usermod -a -G plugdev quarvel
    if [ -d /run/systemd/system ]; then
        systemctl daemon-reload || true
    fi
fi
if [ \"$1\" = configure ] && command -v udevadm >/dev/null 2>&1 && [ -d /run/udev ]; then
    udevadm control --reload-rules || true
    udevadm trigger --subsystem-match=hidraw --action=change || true
fi
")
file(CHMOD "${_quarvel_postinst}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${_quarvel_postinst}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
