#!/usr/bin/env bash
# cmake --install into a temporary prefix: programs that run from there and valid desktop files;
# the .deb of the same build names what the programs need, and lintian accepts it.
#   staged_install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
root=$2
tmp=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || fail "$(cat "$tmp/install.log")"
id=net.quorvane.TesselWidget
programs=(TesselWidget tesselctl tessel-widget-host)
for f in bin/TesselWidget bin/tesselctl bin/tessel-widget-host share/applications/$id.desktop \
  share/applications/$id.WidgetHost.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/symbolic/apps/$id-symbolic.svg \
  share/doc/tesselwidget/copyright share/doc/tesselwidget/changelog.gz \
  share/man/man1/TesselWidget.1.gz share/man/man1/tesselctl.1.gz \
  share/man/man1/tessel-widget-host.1.gz; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
plugin=$(find "$prefix" -path "*/tessel/widgets/TesselWidgets.so")
[ -n "$plugin" ] || fail "no plug-in under <libdir>/tessel/widgets"

# The installed programs, not the build tree's.
for program in "${programs[@]}"; do
  version=$("$prefix/bin/$program" --version) || fail "$program --version"
  [[ $version == "$program "[0-9]* ]] || fail "$program --version said: $version"
done
# The host finds the plug-in installed beside it and draws the placeholder.
mkdir -p "$tmp/home/config" "$tmp/home/data" "$tmp/home/state" "$tmp/home/run"
chmod 700 "$tmp/home/run"
env -u TESSEL_WIDGET_PLUGIN_PATH HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/data" \
  XDG_CONFIG_HOME="$tmp/home/config" "$prefix/bin/tessel-widget-host" render --family small \
  --out "$tmp/small.png" 2>"$tmp/render.log" || fail "render: $(cat "$tmp/render.log")"
[ "$(head -c 8 "$tmp/small.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
  fail "render wrote no PNG"

desktop-file-validate "$prefix"/share/applications/*.desktop || fail "installed desktop entries"
appstreamcli validate-tree --no-net "$prefix" >"$tmp/tree.log" 2>&1 || fail "$(cat "$tmp/tree.log")"

# Each manual page formats without a complaint and holds every line of its program's --help.
for program in "${programs[@]}"; do
  page=$prefix/share/man/man1/$program.1.gz
  complaints=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$complaints" ] || fail "$program.1: $complaints"
  manual=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" | tr -d '[:space:]')
  while IFS= read -r line; do
    [[ $line == 用法：* || $line == " "* ]] || continue
    words=$(printf '%s' "${line#用法：}" | tr -d '[:space:]')
    [[ -z $words || $manual == *"$words"* ]] || fail "$program --help says \"$line\", its manual not"
  done < <("$prefix/bin/$program" --help)
done

# The install refreshed the MIME cache, so GIO finds the installed link handler.
grep -qx "x-scheme-handler/tesselwidget=$id.desktop;" "$prefix/share/applications/mimeinfo.cache" ||
  fail "no MIME cache for the links"
handler=$(env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/config" XDG_DATA_HOME="$tmp/home/data" \
  XDG_DATA_DIRS="$prefix/share" PATH="$prefix/bin:$PATH" gio mime x-scheme-handler/tesselwidget)
[[ ${handler%%$'\n'*} == *"$id.desktop"* ]] || fail "GIO does not find the installed handler: $handler"

# The windows' class is the one their desktop entry names, and the gallery has the icon.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$tmp/display" 2>/dev/null &
pids+=($!)
for ((i = 0; i < 200; i++)); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start"
mkdir -p "$tmp/home/config/quorvane"
# Nothing listens on port 9: the dashboard opens without a gateway.
printf '[General]\nendpoint=http://127.0.0.1:9\n' >"$tmp/home/config/quorvane/TesselWidget.ini"
session=(env -u TESSEL_WIDGET_PLUGIN_PATH HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/config"
  XDG_DATA_HOME="$tmp/home/data" XDG_STATE_HOME="$tmp/home/state" XDG_RUNTIME_DIR="$tmp/home/run"
  QT_QPA_PLATFORM=xcb DISPLAY=":$(cat "$tmp/display")")
"${session[@]}" "$prefix/bin/TesselWidget" tesselwidget://overview >/dev/null 2>&1 &
pids+=($!)
"${session[@]}" "$prefix/bin/tessel-widget-host" --gallery >/dev/null 2>&1 &
pids+=($!)
window_of() {
  local found
  found=$("${session[@]}" timeout 60 xdotool search --sync --onlyvisible --name "$1") || return 1
  echo "${found%%$'\n'*}"
}
class_of() { "${session[@]}" xprop -id "$1" WM_CLASS | sed -n 's/.*, "\(.*\)"$/\1/p'; }
wants() { sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/$1"; }
dashboard=$(window_of '^Tessel Widget$') || fail "no dashboard window"
[ -n "$(wants $id.desktop)" ] && [ "$(class_of "$dashboard")" = "$(wants $id.desktop)" ] ||
  fail "dashboard class \"$(class_of "$dashboard")\", entry \"$(wants $id.desktop)\""
gallery=$(window_of '^添加小组件') || fail "no gallery window"
[ -n "$(wants $id.WidgetHost.desktop)" ] &&
  [ "$(class_of "$gallery")" = "$(wants $id.WidgetHost.desktop)" ] ||
  fail "gallery class \"$(class_of "$gallery")\", entry \"$(wants $id.WidgetHost.desktop)\""
[[ $("${session[@]}" xprop -id "$gallery" _NET_WM_ICON) == *CARDINAL* ]] || fail "the gallery has no icon"

# The package: cpack runs the same install into its own staging directory.
(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1) ||
  fail "$(cat "$tmp/cpack.log")"
deb=$(ls "$tmp"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6svg6 libqt6dbus6 libsecret-1-0 libcurl4 libicu libxcb1 qt6-qpa-plugins qt6-wayland libwayland-client0; do
  [[ $depends == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for advice in fonts-noto-cjk "gnome-keyring | " qt6-translations-l10n xwayland; do
  [[ $recommends == *"$advice"* ]] || fail "the package does not recommend $advice: $recommends"
done
[ "$(dpkg-deb -f "$deb" Suggests)" = fonts-noto-color-emoji ] || fail "no colour emoji suggested"
contents=$(dpkg-deb -c "$deb")
for f in /usr/bin/TesselWidget /usr/bin/tessel-widget-host /tessel/widgets/TesselWidgets.so \
  /usr/share/man/man1/tesselctl.1.gz /usr/share/doc/tesselwidget/copyright; do
  [[ $contents == *"$f"* ]] || fail "the package holds no $f"
done
[[ $contents != *mimeinfo.cache* ]] || fail "the package holds a MIME cache (dpkg's trigger makes it)"
if command -v lintian >/dev/null; then
  bash "$root/scripts/package" --check "$deb" || fail "lintian"
else
  echo "lintian not installed: the package was not checked with it"
fi
echo ok
