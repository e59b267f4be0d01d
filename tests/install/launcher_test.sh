#!/bin/sh
# Installs the programs into folders whose names need quoting in a launcher and
# checks each launcher: it passes desktop-file-validate, it is executable, its
# Exec names the installed program once unquoted, its Path is the folder and
# its icon is there.
# Usage: launcher_test.sh BUILD_DIR
set -eu
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL [$1]: $2"; failures=$((failures + 1)); }

# The value of KEY= in the launcher, with the string escapes undone (\\ to \,
# \s to a blank).
value() {
  sed -n "s/^$2=//p" "$1" | sed -e 's/\\\\/\x01/g' -e 's/\\s/ /g' -e 's/\x01/\\/g'
}

for name in "plain" "s presledki" "tečaji \$HOME" "narekovaji \"in\" 'enojni'" "odstotek 100%" "grave \`x\`"; do
  prefix="$work/$name/ratemover"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  launcher="$prefix/ratemover.desktop"
  [ -f "$launcher" ] || { fail "$name" "no launcher"; continue; }
  [ -x "$launcher" ] || fail "$name" "launcher not executable"
  report="$(desktop-file-validate "$launcher" 2>&1)" || fail "$name" "desktop-file-validate: $report"
  [ -z "$report" ] || fail "$name" "desktop-file-validate complains: $report"

  # Exec's quoting is the shell's double quoting; %% stands for %.
  exec_line="$(value "$launcher" Exec | sed 's/%%/%/g')"
  eval "set -- $exec_line"
  [ "$#" -eq 1 ] || fail "$name" "Exec splits into $# words: $exec_line"
  [ "$1" = "$prefix/ratemover" ] || fail "$name" "Exec names '$1', not '$prefix/ratemover'"
  [ -x "$1" ] || fail "$name" "Exec names no program: '$1'"
  [ "$(value "$launcher" Path)" = "$prefix" ] || fail "$name" "Path is '$(value "$launcher" Path)'"
  icon="$(value "$launcher" Icon)"
  [ -f "$icon" ] || fail "$name" "Icon names no file: '$icon'"
  [ -x "$prefix/ratemover-batch" ] || fail "$name" "ratemover-batch not installed"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "every launcher passed"
