#!/usr/bin/env bash
# Installs the build tree below a temporary root (`cmake --install` with
# DESTDIR and the package's prefix /usr: the files of the Debian package) and
# runs the installed programs from there: the headless tool, the window in
# German with its translation and Qt's from their installed places, the
# manual pages and the bash completion.
#
# Usage: tst_package_install.sh BUILD-DIR SOURCE-DIR DISPLAY-VERSION
set -uo pipefail
build=$1 source=$2 version=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
usr=$root/usr

DESTDIR=$root cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1 \
  || { cat "$root/install.log"; echo "FAIL: cmake --install"; exit 1; }

for f in bin/servoprog bin/servoprog-cli bin/servoprog-sim \
         share/servoprog/translations/servoprog_de.qm \
         share/applications/servoprog.desktop \
         share/icons/hicolor/16x16/apps/servoprog.png share/icons/hicolor/48x48/apps/servoprog.png \
         lib/udev/rules.d/70-servoprog.rules \
         share/man/man1/servoprog.1.gz share/man/man1/servoprog-cli.1.gz share/man/man1/servoprog-sim.1.gz \
         share/bash-completion/completions/servoprog-cli \
         share/doc/servoprog/copyright share/doc/servoprog/changelog.gz; do
  [ -f "$usr/$f" ] || fail "not installed: /usr/$f"
done

# ---- the headless tool -----------------------------------------------------------
out=$("$usr/bin/servoprog-cli" --version)
[ "$out" = "servoprog-cli $version" ] || fail "--version printed '$out', expected 'servoprog-cli $version'"
out=$(cd "$source" && "$usr/bin/servoprog-cli" info samples/servo-fw-sample.hex) || fail "info failed: $out"
grep -q "FW 2.14.0" <<<"$out" || fail "info shows no firmware information: $out"

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

# ---- manual pages: every command of the tool, formatted without complaint ----------
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
complete_line "" program --baud ""
complete_line "samples/servo-fw-sample.hex" info samples/servo-fw
complete_line "--port --ports-from" read --por

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "installed programs run from $root"
