#!/bin/sh
# Runs a command inside dbus-run-session with a fresh, unlocked gnome-keyring that has a login
# collection (one started with an empty password has none).
set -eu
home=$(mktemp -d)
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
eval "$(printf tessel-test | gnome-keyring-daemon --unlock --components=secrets --daemonize)"
pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
  tr -dc '0-9 ' | awk '{print $NF}')
status=0
TESSEL_SECRET_SERVICE=1 "$@" || status=$?
[ -n "$pid" ] && kill "$pid" 2>/dev/null || true
rm -rf "$home"
exit $status
