#!/usr/bin/env bash
# Installs the Debian 12 packages Kopierwart needs to build, run and test; does nothing when all
# are present.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev
    libgtest-dev googletest libbenchmark-dev
    libxcb1-dev
    xvfb xauth trayer x11-utils xdotool imagemagick fonts-dejavu-core
    qt6-svg-dev dpkg-dev file desktop-file-utils
    # The English translation: Qt Linguist's CMake functions, lupdate and lrelease.
    qt6-tools-dev qt6-l10n-tools
    # The package test: Debian's and AppStream's checkers, and repacking a kopierwart installed
    # before, to put it back afterwards.
    lintian appstream dpkg-repack
    # File systems the destination tests make: exFAT and NTFS sticks on loop devices.
    exfat-fuse exfatprogs ntfs-3g mount
    # Tests of moves: a traced copy (flush before rename), a user without privileges.
    strace util-linux
    # Tests of copies' access control lists: setfacl makes them as a user would.
    acl
    # Tests of hidden writers: a network share through a private sshd, a program whose wall
    # clock jumps.
    openssh-server openssh-client sshfs fuse3 faketime
    # The fuzz targets of the file readers: clang with libFuzzer and its sanitizers.
    clang libclang-rt-14-dev
    # The Wayland desktop of the tray tests: sway (headless), waybar as notification area, mako
    # for notifications, grim for screenshots, Qt on Wayland, a session bus of its own (gdbus and
    # dbus-monitor to look at it), a virtual mouse (Wayland client library).
    sway waybar mako-notifier grim qt6-wayland dbus-daemon dbus-session-bus-common dbus-bin
    libglib2.0-bin libwayland-dev
    # Benchmarks with the real windows (bench/real_windows.py): a window manager, the tools the
    # program is measured beside, ext4 on a loop device, and python3 to drive it all.
    openbox rsync rclone e2fsprogs python3
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
