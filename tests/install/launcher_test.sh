#!/bin/sh
# Installs the programs into folders whose names need quoting in a launcher and
# checks each launcher: it passes desktop-file-validate, it is executable, its
# Exec names the installed program once unquoted, its Path is the folder, its
# icon is there, and gio launch starts the program in the folder.
# Usage: launcher_test.sh BUILD_DIR
set -eu
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
# gio (libglib2.0-bin) starts a launcher as GNOME does
gio="$(command -v gio)" || { echo "FAIL: gio is not installed (scripts/setup.sh installs it)"; exit 1; }

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

  # Exec's quoting is the shell's double quoting; %% stands for %. A program
  # whose path holds % is started through env.
  exec_line="$(value "$launcher" Exec | sed 's/%%/%/g')"
  eval "set -- $exec_line"
  [ "$1" = env ] && [ "$#" -eq 2 ] && shift
  [ "$#" -eq 1 ] || fail "$name" "Exec splits into $# words: $exec_line"
  [ "$1" = "$prefix/ratemover" ] || fail "$name" "Exec names '$1', not '$prefix/ratemover'"
  [ -x "$1" ] || fail "$name" "Exec names no program: '$1'"
  [ "$(value "$launcher" Path)" = "$prefix" ] || fail "$name" "Path is '$(value "$launcher" Path)'"
  icon="$(value "$launcher" Icon)"
  [ -f "$icon" ] || fail "$name" "Icon names no file: '$icon'"
  [ -x "$prefix/ratemover-batch" ] || fail "$name" "ratemover-batch not installed"

  # The launcher starts the program, in its folder, as a desktop starts it.
  # A stand-in that notes where it ran replaces the desktop program, which
  # would wait for an operator.
  rm -f "$work/started"
  printf '#!/bin/sh\npwd > "%s/started.tmp" && mv "%s/started.tmp" "%s/started"\n' "$work" "$work" "$work" \
    > "$prefix/ratemover"
  if report="$("$gio" launch "$launcher" 2>&1)"; then
    # a safety net only: the stand-in starts at once however busy the machine
    waited=0
    while [ ! -f "$work/started" ] && [ "$waited" -lt 600 ]; do sleep 0.1; waited=$((waited + 1)); done
    if [ ! -f "$work/started" ]; then
      fail "$name" "gio launch started nothing"
    elif [ "$(cat "$work/started")" != "$prefix" ]; then
      fail "$name" "the program ran in '$(cat "$work/started")', not in '$prefix'"
    fi
  else
    fail "$name" "gio launch: $report"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "every launcher passed"
