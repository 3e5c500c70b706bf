#!/usr/bin/env bash
# The desktop entries of data/ and of scripts/register-desktop are valid, and the links reach
# the registered program through xdg-open and GIO, or the installed one beside it; --remove
# takes back every file.
set -euo pipefail
root=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for entry in "$root"/data/*.desktop; do
  desktop-file-validate "$entry" || fail "$entry"
  awk '/^\[/ { if (action && !icon) exit 1; action = /^\[Desktop Action /; icon = 0 }
       /^Icon=./ { icon = 1 }
       END { if (action && !icon) exit 1 }' "$entry" || fail "$entry: an action without Icon"
done

# Waits up to 20 s for the program, which GIO starts without waiting for it.
opened() {
  local i
  for ((i = 0; i < 400; i++)); do
    [ -s "$1" ] && [ "$(cat "$1")" = "$2" ] && return 0
    sleep 0.05
  done
  fail "expected \"$2\", got \"$(cat "$1" 2>/dev/null)\""
}

n=0
for dir in "$tmp/build" "$tmp/my build"; do
  n=$((n + 1))
  mkdir -p "$dir"
  printf '#!/bin/sh\nprintf "%%s" "$*" >"%s/opened-%s"\n' "$tmp" "$n" >"$dir/TesselWidget"
  chmod +x "$dir/TesselWidget"
  home=$tmp/home$n
  mkdir -p "$home"
  # No desktop environment (xdg-open's generic opener), no system data directory.
  run() {
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u KDE_SESSION_VERSION \
      -u GNOME_DESKTOP_SESSION_ID XDG_DATA_DIRS="$tmp/none" HOME="$home" \
      XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" DISPLAY=:99 \
      BROWSER=false "$@"
  }
  run bash "$root/scripts/register-desktop" "$dir/TesselWidget"
  registered=$home/.local/share/applications/net.quorvane.TesselWidget.Devel.desktop
  desktop-file-validate "$registered" || fail "registered entry for $dir"

  run xdg-open tesselwidget://overview || fail "xdg-open from $dir"
  opened "$tmp/opened-$n" tesselwidget://overview
  rm -f "$tmp/opened-$n"
  run gio open tesselwidget://refresh || fail "gio open from $dir"
  opened "$tmp/opened-$n" tesselwidget://refresh
done

# Registering again beside an installed package hands the links to the package.
home=$tmp/home-installed
system=$tmp/system/applications
mkdir -p "$home/.local/share" "$home/.config" "$system"
files() { (cd "$home" && find . -type f -printf '%p %s\n' | sort); }
before=$(files)
# The package's program, on PATH as /usr/bin is (GIO skips entries whose program is missing).
mkdir -p "$tmp/system/bin"
printf '#!/bin/sh\nprintf "%%s" "$*" >"%s/opened-installed"\n' "$tmp" >"$tmp/system/bin/TesselWidget"
chmod +x "$tmp/system/bin/TesselWidget"
installed() { run env XDG_DATA_DIRS="$tmp/system" PATH="$tmp/system/bin:$PATH" "$@"; }
handler() { installed xdg-mime query default x-scheme-handler/tesselwidget; }
installed bash "$root/scripts/register-desktop" "$tmp/build/TesselWidget"
[ "$(handler)" = net.quorvane.TesselWidget.Devel.desktop ] || fail "no handler: $(handler)"
cp "$root/data/net.quorvane.TesselWidget.desktop" "$system/"
update-desktop-database -q "$system"
installed bash "$root/scripts/register-desktop" "$tmp/build/TesselWidget"
[ "$(handler)" = net.quorvane.TesselWidget.desktop ] || fail "the build shadows the package: $(handler)"
rm -f "$tmp"/opened-*
installed xdg-open tesselwidget://overview || fail "xdg-open beside the package"
opened "$tmp/opened-installed" tesselwidget://overview
installed gio open tesselwidget://refresh || fail "gio open beside the package"
opened "$tmp/opened-installed" tesselwidget://refresh
[ ! -e "$tmp/opened-1" ] || fail "the build got a link: $(cat "$tmp/opened-1")"
installed bash "$root/scripts/register-desktop" --remove
[ "$(files)" = "$before" ] || fail "left behind: $(diff <(echo "$before") <(files))"
echo ok
