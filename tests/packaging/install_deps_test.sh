#!/usr/bin/env bash
# scripts/install-deps with stubs for apt-get, sudo, dpkg-query and id that record their calls.
set -euo pipefail
root=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$tmp/bin" "$tmp/fake"
cat >"$tmp/bin/sudo" <<STUB
#!/bin/sh
echo "sudo \$*" >>"$tmp/calls"
exec "\$@"
STUB
cat >"$tmp/bin/apt-get" <<STUB
#!/bin/sh
echo "apt-get \$*" >>"$tmp/calls"
if [ "\$1" = install ] && [ -z "\${VIRTUAL:-}" ]; then
  for p in "\$@"; do echo "\$p" >>"$tmp/installed"; done
fi
STUB
chmod +x "$tmp/bin/"*

# Everything is installed on this machine (scripts/test ran install-deps first).
PATH="$tmp/bin:$PATH" bash "$root/scripts/install-deps" >"$tmp/out" || fail "second run: $(cat "$tmp/out")"
[ ! -e "$tmp/calls" ] || fail "second run called: $(cat "$tmp/calls")"

# As a user, with the packages in $MISSING missing until apt-get installed them.
cat >"$tmp/fake/dpkg-query" <<STUB
#!/bin/sh
for last; do :; done
if echo " \$MISSING " | grep -q " \$last " && ! grep -qx "\$last" "$tmp/installed" 2>/dev/null; then
  echo "dpkg-query: no packages found matching \$last" >&2; exit 1
fi
printf 'install ok installed'
STUB
export MISSING=qt6-translations-l10n
printf '#!/bin/sh\necho 1000\n' >"$tmp/fake/id"
chmod +x "$tmp/fake/"*
PATH="$tmp/fake:$tmp/bin:$PATH" bash "$root/scripts/install-deps" >"$tmp/out" 2>&1 ||
  fail "missing package: $(cat "$tmp/out")"
grep -qx "sudo apt-get update -qq" "$tmp/calls" || fail "no sudo apt-get update: $(cat "$tmp/calls")"
grep -qx "sudo apt-get install -y -qq --no-install-recommends qt6-translations-l10n" "$tmp/calls" ||
  fail "not installed alone: $(cat "$tmp/calls")"

# Building and running needs none of the tests' and fuzzing's tools; the test group installs them.
rm -f "$tmp/calls"
MISSING="xvfb googletest clang lintian imagemagick trayer" \
  PATH="$tmp/fake:$tmp/bin:$PATH" bash "$root/scripts/install-deps" run >"$tmp/out" 2>&1 ||
  fail "run group: $(cat "$tmp/out")"
[ ! -e "$tmp/calls" ] || fail "the run group asked for: $(cat "$tmp/calls")"
MISSING="xvfb lintian" PATH="$tmp/fake:$tmp/bin:$PATH" bash "$root/scripts/install-deps" test \
  >"$tmp/out" 2>&1 || fail "test group: $(cat "$tmp/out")"
grep -qx "sudo apt-get install -y -qq --no-install-recommends lintian xvfb" "$tmp/calls" ||
  fail "the test group did not install its tools: $(cat "$tmp/calls")"

# apt-get accepts a virtual name, dpkg never reports it: the run says so and fails.
rm -f "$tmp/calls" "$tmp/installed"
if VIRTUAL=1 PATH="$tmp/fake:$tmp/bin:$PATH" bash "$root/scripts/install-deps" >"$tmp/out" 2>&1; then
  fail "a name never reported as installed passed"
fi
grep -q "qt6-translations-l10n" "$tmp/out" || fail "the name is not reported: $(cat "$tmp/out")"
echo ok
