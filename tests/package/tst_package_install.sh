#!/usr/bin/env bash
# Installs the build tree below a temporary root (`cmake --install` with
# DESTDIR and the build's prefix, /usr for the Debian package: the files of
# the package) and runs the installed programs from there: the headless tool,
# the window in German with its translation and Qt's from their installed
# places, the manual pages with their examples run as printed (the drive a
# simulated one), the help naming only installed files, and the bash
# completion.
#
# Usage: tst_package_install.sh BUILD-DIR SOURCE-DIR DISPLAY-VERSION PREFIX
set -uo pipefail
build=$1 source=$2 version=$3 prefix=$4
root=$(mktemp -d)
sims=()
trap '[ ${#sims[@]} -eq 0 ] || kill "${sims[@]}" 2>/dev/null; rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
usr=$root$prefix

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$root/install.log" 2>&1 \
  || { cat "$root/install.log"; echo "FAIL: cmake --install"; exit 1; }

for f in bin/servoprog bin/servoprog-cli bin/servoprog-sim \
         share/servoprog/translations/servoprog_de.qm share/servoprog/samples/servo-fw-sample.hex \
         share/applications/servoprog.desktop \
         share/icons/hicolor/16x16/apps/servoprog.png share/icons/hicolor/48x48/apps/servoprog.png \
         lib/udev/rules.d/70-servoprog.rules \
         share/man/man1/servoprog.1.gz share/man/man1/servoprog-cli.1.gz share/man/man1/servoprog-sim.1.gz \
         share/bash-completion/completions/servoprog-cli \
         share/doc/servoprog/copyright share/doc/servoprog/changelog.gz \
         share/doc/servoprog/README.md share/doc/servoprog/docs/install.md share/doc/servoprog/docs/window.png; do
  [ -f "$usr/$f" ] || fail "not installed: $prefix/$f"
done

for program in servoprog servoprog-cli servoprog-sim; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/$program" --version)
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out', expected '$program $version'"
done

# ---- what the programs tell: installed files only ----------------------------------
# Every help text and manual page; the files they name below the prefix must
# be there, and no text may point into the source tree.
texts=$root/texts
{
  "$usr/bin/servoprog-cli" --help
  for command in $("$usr/bin/servoprog-cli" --help | sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p'); do
    "$usr/bin/servoprog-cli" help "$command"
  done
  "$usr/bin/servoprog-sim" --help
  # No display: the window's help comes on standard output.
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LC_ALL=C "$usr/bin/servoprog" --help
  for page in servoprog servoprog-cli servoprog-sim; do
    LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/$page.1.gz" 2>/dev/null | col -b
  done
} >"$texts" 2>&1
grep -q "^-l LANGUAGE, --language=LANGUAGE" "$texts" || fail "servoprog --help without a display printed no help"
grep -n -e "$source" -e "$build" "$texts" && fail "a text names the source or build tree"
grep -nE "(^|[ (])(docs|samples|packaging|sim)/" "$texts" && fail "a text names a path of the source tree"
named=$(grep -oE "$prefix/[A-Za-z0-9._/-]*[A-Za-z0-9_/]" "$texts" | sort -u)
[ -n "$named" ] || fail "no text names an installed file"
for path in $named; do
  [ -e "$root$path" ] || fail "a text names $path, which is not installed"
done

# ---- the window, in German, from the installed place -------------------------------
# The C locale and -l de: the language comes from the option, not from the
# machine. Nothing lies beside the installed program, so the translation must
# come from the installed data folder.
err=$(cd "$root" && env -u LANGUAGE LC_ALL=C LANG=C QT_QPA_PLATFORM=offscreen SERVOPROG_TRACE_TRANSLATION=1 \
        SERVOPROG_SCREENSHOT="$root/window.png" "$usr/bin/servoprog" -l de 2>&1) || fail "window: $err"
grep -qxF "translation servoprog_de: $usr/share/servoprog/translations/servoprog_de.qm" <<<"$err" \
  || fail "window's German translation not taken from the installed folder: $err"
grep -qx "translation qtbase_de: /.*/qtbase_de.qm" <<<"$err" || fail "Qt's German texts not loaded: $err"
grep -qF "window \"Programmierwerkzeug AC-Servoantrieb V$version\" saved" <<<"$err" || fail "window not German: $err"
[ -s "$root/window.png" ] || fail "no screenshot of the window"
# English: neither translation.
err=$(env -u LANGUAGE LC_ALL=C QT_QPA_PLATFORM=offscreen SERVOPROG_TRACE_TRANSLATION=1 \
        SERVOPROG_SCREENSHOT="$root/window-en.png" "$usr/bin/servoprog" -l en 2>&1) || fail "window: $err"
grep -q "qtbase" <<<"$err" && fail "Qt's texts translated in an English window: $err"

# ---- the desktop entry names an installed program and icon -------------------------
entry=$usr/share/applications/servoprog.desktop
exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -x "$usr/bin/$exec" ] || fail "desktop entry runs '$exec', not installed"
[ -f "$usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "desktop entry's icon '$icon' not installed"
grep -q '^Name\[de\]=' "$entry" && grep -q '^Comment\[de\]=' "$entry" || fail "desktop entry not in German"

# ---- manual pages: every command, formatted without complaint, examples run -------
if command -v man >/dev/null; then
  for page in servoprog servoprog-cli servoprog-sim; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
  page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/servoprog-cli.1.gz" 2>/dev/null | col -b)
  for command in $("$usr/bin/servoprog-cli" --help | sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p'); do
    grep -q "servoprog-cli $command" <<<"$page" || fail "servoprog-cli.1 lacks the command $command"
  done
  grep -q -- "--wake-timeout SECONDS" <<<"$page" || fail "servoprog-cli.1 lacks the options"
  page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/servoprog-sim.1.gz" 2>/dev/null | col -b)
  grep -q "^NAME\$" <<<"$page" && grep -q "^ *servoprog-sim - simulated drive" <<<"$page" \
    || fail "servoprog-sim.1 is not named after the program: $(head -3 <<<"$page")"
  grep -q "^ *--fault stream:N\[:B\]$" <<<"$page" || fail "servoprog-sim.1: the fault kinds are no list"

  # Every example as printed, in the order of the page, in an empty folder;
  # the prefix is the temporary root's, the drives /dev/ttyUSB0 and 1 are
  # simulated ones.
  for n in 0 1; do
    "$usr/bin/servoprog-sim" </dev/null >"$root/sim$n.port" 2>"$root/sim$n.err" &
    sims+=($!)
  done
  for n in 0 1; do
    for _ in $(seq 50); do [ -s "$root/sim$n.port" ] && break; sleep 0.1; done
  done
  ports=("$(head -1 "$root/sim0.port")" "$(head -1 "$root/sim1.port")")
  example() {
    local line=$1
    line=${line//" $prefix/"/" $usr/"}
    line=${line//"/dev/ttyUSB0"/"${ports[0]}"}
    line=${line//"/dev/ttyUSB1"/"${ports[1]}"}
    (cd "$root/examples" && PATH="$usr/bin:$PATH" bash -c "$line")
  }
  mkdir "$root/examples"
  examples=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/servoprog-cli.1.gz" 2>/dev/null | col -b \
               | sed -n 's/^ *Example: //p')
  [ "$(wc -l <<<"$examples")" -ge 10 ] || fail "servoprog-cli.1: too few examples: $examples"
  while read -r line; do
    out=$(example "$line" 2>&1) || fail "example failed: $line: $out"
    [[ $line != *" info "* ]] || grep -q "FW 2.14.0" <<<"$out" || fail "info shows no firmware information: $out"
  done <<<"$examples"
  line=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/servoprog.1.gz" 2>/dev/null | col -b \
           | sed -n 's/^ *\(servoprog -[A-Za-z].*\)/\1/p')
  [ -n "$line" ] || fail "servoprog.1 has no example"
  err=$(QT_QPA_PLATFORM=offscreen SERVOPROG_SCREENSHOT="$root/example.png" example "$line" 2>&1) \
    || fail "example failed: $line: $err"
  grep -q "dialog" <<<"$err" && fail "the window's example opens a box: $line: $err"
fi

# ---- bash completion -------------------------------------------------------------
# complete <expected> <words...>: the candidates for the last word.
complete_line() {
  local expected=$1; shift
  local got
  got=$(cd "$source" && bash -c '
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      _servoprog_cli
      printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' \
      _ "$usr/share/bash-completion/completions/servoprog-cli" servoprog-cli "$@")
  [ "${got% }" = "$expected" ] || fail "completion of '$*': '${got% }', expected '$expected'"
}
complete_line "probe program" pro
complete_line "eeprom-erase eeprom-read eeprom-write" help eeprom-
complete_line "--flash0 --flash1" program --fl
complete_line "--eeprom0 --eeprom1" eeprom-write --ee
complete_line "mon off" erase --boot ""
complete_line "0 115200 19200 230400 38400 460800 57600 921600 9600" program --baud ""
complete_line "115200" probe --baud 11
complete_line "samples/servo-fw-sample.hex" info samples/servo-fw
complete_line "--port --ports-from" erase --por
complete_line "--port" read --por

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "installed programs run from $root"
