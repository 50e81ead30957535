#!/usr/bin/env bash
# The README's two Wayland screenshots, docs/wayland-notification.png (a full destination) and
# docs/wayland-tray-menu.png (the tray's menu after a right click): sway on its headless backend,
# waybar as notification area and mako, as the ordinary user kwdesktop on a session bus of its
# own, the built program in a folder of that user, a virtual pointer (scripts/pointer.cpp) as the
# mouse. Needs root, sway, waybar, mako, grim, gdbus and a build folder (build/ unless given).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
docs=$PWD/docs
user=kwdesktop
id -u "$user" >/dev/null 2>&1 || useradd -m "$user"
work=$(mktemp -d /tmp/kw-shots-XXXXXX)
chmod 755 "$work"
mkdir -p "$work/runtime" "$work/program" "$work/upload" "$work/stick"
mount -t tmpfs -o size=1m tmpfs "$work/stick"
trap 'kill -- -$session 2>/dev/null || true; umount -l "$work/stick"; rm -rf "$work"' EXIT
c++ -O1 -o "$work/pointer" scripts/pointer.cpp $(pkg-config --cflags --libs wayland-client)
cp "$build/app/Kopierwart" "$work/program/"
printf '[Source]\r\nSource=%s/upload/\r\n[Destination]\r\nDestination=%s/stick/\r\n[Intervall]\r\nIntervall=1\r\n' \
    "$work" "$work" >"$work/program/Kopierwart.ini"
printf 'xwayland disable\noutput HEADLESS-1 resolution 1024x768 position 0 0\n' >"$work/sway.conf"
printf '{"layer": "top", "position": "bottom", "height": 28, "modules-right": ["tray"], "tray": {"icon-size": 20}}\n' \
    >"$work/waybar.json"
chown -R "$user:" "$work"
chmod 700 "$work/runtime"
cat >"$work/session.sh" <<'INNER'
set -eu
cd "$1"
export XDG_RUNTIME_DIR=$1/runtime WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
sway -c sway.conf &
until ls "$XDG_RUNTIME_DIR"/wayland-? >/dev/null 2>&1; do sleep 0.2; done
WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-? | head -1)")
export WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland NO_AT_BRIDGE=1 GTK_A11Y=none
coproc mouse { ./pointer 1024 768; }
read -r ready <&"${mouse[0]}"
waybar -c waybar.json &
mako --width 460 --height 200 &
sleep 2
(cd program && exec ./Kopierwart) &
sleep 4
head -c 3000000 /dev/zero >staged.avi && mv staged.avi upload/film.avi
sleep 4
grim notification.png
makoctl dismiss --all
echo "click 1013 754 right" >&"${mouse[1]}"
read -r done <&"${mouse[0]}"
sleep 1
grim tray-menu.png
INNER
setsid setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$(getent passwd "$user" | cut -d: -f6)" \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 dbus-run-session -- bash "$work/session.sh" "$work" &
session=$!
wait "$session"
cp "$work/notification.png" "$docs/wayland-notification.png"
cp "$work/tray-menu.png" "$docs/wayland-tray-menu.png"
echo "written: docs/wayland-notification.png docs/wayland-tray-menu.png"
