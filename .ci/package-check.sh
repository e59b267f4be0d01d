#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian finds no error, and the
# package unpacked into a clean folder runs: ratemover-batch --version and a
# transfer of the sample workbook, with the launcher, icon and manual pages in
# their places and the maintainer scripts that share the program directory;
# every form read is listed; the programs are hardened; where it runs as root,
# the package is installed and purged with an operator's file left behind.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" lintian desktop-file-utils
deb="$("$root/scripts/package.sh" | tail -n 1)"
echo "package: $deb"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

lintian --fail-on error --display-info "$deb" > "$work/lintian.txt" || fail "lintian reports errors"
cat "$work/lintian.txt"
# built with Debian's hardening flags: no note about bindnow, fortify, PIE,
# RELRO or stack protection
! grep -q 'hardening-' "$work/lintian.txt" || fail "lintian: the programs are not hardened"
# a manual page line that starts with a dot is read as a macro and its text lost
! grep -q 'groff-message' "$work/lintian.txt" || fail "lintian: a manual page does not render cleanly"

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

# Every form read is listed, the same in the usage text, both manual pages and
# the package description: each test workbook that a reader other than the
# one for delimited text (which takes whatever text is left) opens has its
# extension in the list.
usage="$("$program_dir/ratemover-batch" --help)" || fail "--help failed"
forms="$(printf '%s\n' "$usage" | tr '\n' ' ' | sed -n 's/.*delovnega zvezka (\([^)]*\)).*/\1/p')"
echo "forms read: $forms"
[ -n "$forms" ] || fail "the usage text lists no forms"
description="$(dpkg-deb -f "$deb" Description | tr '\n' ' ')"
case "$description" in *"($forms)"*) ;; *) fail "the package description does not list ($forms)" ;; esac
for page in ratemover ratemover-batch; do
  zcat "$work/root/usr/share/man/man1/$page.1.gz" | grep -qF "($forms)" || fail "man page $page does not list ($forms)"
done
while IFS= read -r -d '' workbook; do
  form="$("$program_dir/ratemover-batch" --cells --rows 1 "$workbook" 2>/dev/null | head -n 1)" || true
  case "$form" in "# csv" | "# cannot be opened"* | "") continue ;; esac
  extension=".${workbook##*.}"
  case ", $forms," in *", ${extension,,},"*) ;; *) fail "${workbook#"$root/"} is read as ${form#\# }, but $extension is not listed" ;; esac
done < <(find "$root/tests/data/workbooks" "$root/examples" -type f -name '*.*' -print0)

# Installed and purged for real, where this runs as root and the package is
# not installed already: the program directory belongs to the group
# ratemover; a file an operator leaves keeps the directory after a purge, but
# nothing that is left can be written by anyone but its owner, nor by a group
# number that no longer has a name.
if [ "$(id -u)" -ne 0 ]; then
  echo "not root: installing and purging skipped"
elif dpkg-query -W -f='${Status}' ratemover 2>/dev/null | grep -q installed || [ -e /opt/ratemover ]; then
  echo "ratemover is installed here: installing and purging skipped"
else
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null ||
    fail "apt-get install failed"
  [ "$(stat -c '%G %a' /opt/ratemover)" = "ratemover 2775" ] || fail "installed: /opt/ratemover is $(stat -c '%G %a' /opt/ratemover)"
  [ "$(stat -c '%G' /opt/ratemover/Ratemover.CONF)" = ratemover ] || fail "installed: Ratemover.CONF is not the group's"
  # what an operator with umask 002 leaves behind
  (umask 002 && echo x > /opt/ratemover/operator.txt && mkdir /opt/ratemover/operator)
  echo y > /opt/ratemover/operator/inside.txt && chmod g+w /opt/ratemover/operator/inside.txt
  ln -s /etc/hostname /opt/ratemover/link
  hostname_mode="$(stat -c '%G %a' /etc/hostname)"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ratemover >/dev/null || fail "apt-get purge failed"
  ! getent group ratemover >/dev/null || fail "purged: the group ratemover is still there"
  [ ! -e /opt/ratemover/Ratemover.CONF ] || fail "purged: Ratemover.CONF is still there"
  [ -f /opt/ratemover/operator.txt ] || fail "purged: the operator's file is gone"
  writable="$(find /opt/ratemover \( \( -perm /g+w,o+w,g+s ! -type l \) -o -nogroup \) -printf '%p ' 2>&1)"
  [ -z "$writable" ] || fail "purged: left writable or with a group that has no name: $writable"
  [ "$(stat -c '%U %G %a' /opt/ratemover)" = "root root 755" ] || fail "purged: /opt/ratemover is $(stat -c '%U %G %a' /opt/ratemover)"
  [ "$(stat -c '%G %a' /etc/hostname)" = "$hostname_mode" ] || fail "purged: a link was followed out of /opt/ratemover"
  rm -rf /opt/ratemover
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "package checked: $deb"
