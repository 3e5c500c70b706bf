#!/usr/bin/env bash
# cmake --install into a temporary prefix gives programs that run from there and the files a
# desktop reads, valid where they are; the .deb of the same build names the libraries and
# plug-ins the programs need.
#   staged_install_test.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || fail "$(cat "$tmp/install.log")"
id=net.quorvane.TesselWidget
for f in bin/TesselWidget bin/tesselctl bin/tessel-widget-host share/applications/$id.desktop \
  share/applications/$id.WidgetHost.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/symbolic/apps/$id-symbolic.svg; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
plugin=$(find "$prefix" -path "*/tessel/widgets/TesselWidgets.so")
[ -n "$plugin" ] || fail "no plug-in under <libdir>/tessel/widgets"

# The installed programs, not the build tree's.
version=$("$prefix/bin/TesselWidget" --version) || fail "TesselWidget --version"
[[ $version == "TesselWidget "[0-9]* ]] || fail "TesselWidget --version said: $version"
version=$("$prefix/bin/tesselctl" --version) || fail "tesselctl --version"
[[ $version == "tesselctl "[0-9]* ]] || fail "tesselctl --version said: $version"

version=$("$prefix/bin/tessel-widget-host" --version) || fail "tessel-widget-host --version"
[[ $version == "tessel-widget-host "[0-9]* ]] || fail "tessel-widget-host --version said: $version"
# The host finds the plug-in installed beside it, not the build tree's; with nothing synced yet
# it draws the placeholder.
mkdir -p "$tmp/home"
env -u TESSEL_WIDGET_PLUGIN_PATH HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/data" \
  XDG_CONFIG_HOME="$tmp/home/config" "$prefix/bin/tessel-widget-host" render --family small \
  --out "$tmp/small.png" 2>"$tmp/render.log" || fail "render: $(cat "$tmp/render.log")"
[ "$(head -c 8 "$tmp/small.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
  fail "render wrote no PNG"

desktop-file-validate "$prefix"/share/applications/*.desktop || fail "installed desktop entries"
appstreamcli validate-tree --no-net "$prefix" >"$tmp/tree.log" 2>&1 || fail "$(cat "$tmp/tree.log")"

# The package: cpack runs the same install into its own staging directory.
(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1) ||
  fail "$(cat "$tmp/cpack.log")"
deb=$(ls "$tmp"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6svg6 libqt6dbus6 libsecret-1-0 libcurl4 libicu libxcb1 qt6-qpa-plugins qt6-wayland libwayland-client0; do
  [[ $depends == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in /usr/bin/TesselWidget /usr/bin/tessel-widget-host /tessel/widgets/TesselWidgets.so; do
  [[ $contents == *"$f"* ]] || fail "the package holds no $f"
done
echo ok
