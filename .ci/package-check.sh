#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian finds no error, and the
# package unpacked into a clean folder runs: ratemover-batch --version and a
# transfer of the sample workbook, with the launcher, icon and manual pages in
# their places and the maintainer scripts that share the program directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" lintian desktop-file-utils
deb="$("$root/scripts/package.sh" | tail -n 1)"
echo "package: $deb"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

lintian --fail-on error "$deb" || fail "lintian reports errors"

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
program_dir="$work/root/opt/ratemover"
for path in opt/ratemover/ratemover opt/ratemover/ratemover-batch; do
  [ -x "$work/root/$path" ] || fail "$path missing or not executable"
done
for path in usr/share/applications/ratemover.desktop usr/share/icons/hicolor/scalable/apps/ratemover.svg \
            usr/share/man/man1/ratemover.1.gz usr/share/man/man1/ratemover-batch.1.gz \
            usr/share/doc/ratemover/copyright; do
  [ -f "$work/root/$path" ] || fail "$path missing"
done
desktop-file-validate "$work/root/usr/share/applications/ratemover.desktop" || fail "launcher not valid"
grep -qx 'Exec="/opt/ratemover/ratemover"' "$work/root/usr/share/applications/ratemover.desktop" ||
  fail "launcher does not start /opt/ratemover/ratemover"
grep -qx 'Icon=ratemover' "$work/root/usr/share/applications/ratemover.desktop" || fail "launcher has no icon"
grep -q 'chmod 2775' "$work/control/postinst" || fail "postinst does not share the program directory"
grep -q 'purge' "$work/control/postrm" || fail "postrm does not handle purge"
sh -n "$work/control/postinst" && sh -n "$work/control/postrm" || fail "maintainer scripts do not parse"

version="$("$program_dir/ratemover-batch" --version)" || fail "--version failed"
echo "ratemover-batch --version: $version"
case "$version" in *3.4.0.0*) ;; *) fail "--version prints '$version'" ;; esac

# No configuration beside the unpacked program: the default profile fits the sample.
cp "$root/examples/TECAJI_PAPIRJEV.xls" "$work/"
status=0
"$program_dir/ratemover-batch" "$work/TECAJI_PAPIRJEV.xls" || status=$?
[ "$status" -eq 0 ] || fail "transfer ended with status $status"
[ -s "$work/TECAJI_PAPIRJEV.ztr" ] || fail "no rate file written"
[ "$(head -c 5 "$work/TECAJI_PAPIRJEV.ztr")" = " 0002" ] || fail "rate file does not begin with its date line"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "package checked: $deb"
