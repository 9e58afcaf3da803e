# The Debian package (scripts/package.sh OUTDIR builds it): dependencies from the binaries
# (dpkg-shlibdeps) plus the plug-ins Qt loads at run time, stripped binaries, no maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvelle-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ostrand Manufacturing, Inc.")
set(CPACK_PACKAGE_CONTACT "Ostrand Manufacturing <support@ostrand-mfg.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Loaded as plug-ins, so the binaries do not name them: the window system, the history's SQLite.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libqt6sql6-psql, bash-completion")
# The window's "Permission denied" box gives the same advice (app/senderport.cpp).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "service utility for Orvelle VX4 pressure senders
A desktop program for the Orvelle VX4 digital pressure sender on a serial
port: it shows the sender's identity and live pressure, zeroes the reading,
writes its serial number, switches its application and mode, updates its
firmware from a package file and runs a guided five-point calibration with a
PDF certificate and a calibration history.
.
Also included: vx4ctl, the same functions without a window for scripts and
production lines; vx4sim, a simulated sender on a pseudo-terminal for
training; vx4pack, which writes firmware package files.
.
Serial ports belong to the dialout group: a user whose port fails to open
with Permission denied must be added to it (sudo usermod -aG dialout $USER)
and log in again.")
include(CPack)
