#!/usr/bin/env bash
# Compiles every source of the core (image, protocol, serial, worker) and of
# both front ends (ui, app) for Windows: Debian's mingw-w64 compiler with
# Debian's own Qt 6 headers and Qt's win32-g++ mkspec, -fsyntax-only (the
# language and the Windows branches are checked, nothing is linked or run).
# What this does and does not prove: docs/windows.md.
#
#   tools/check-windows.sh [SOURCE ...]     (default: every source)
#
# The simulated drive, the tests and the benchmarks are POSIX programs and
# are not compiled here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cxx=x86_64-w64-mingw32-g++-posix
"$root/tools/setup-debian.sh"

qt_headers=$(qtpaths6 --query QT_INSTALL_HEADERS)
mkspec=$(qtpaths6 --query QT_HOST_DATA)/mkspecs/win32-g++
uic=$(qtpaths6 --query QT_HOST_LIBEXECS)/uic

# The headers a build generates: the window's form and the version and
# path headers (their values do not matter to the compiler).
generated=$(mktemp -d)
trap 'rm -rf "$generated"' EXIT
for form in "$root"/ui/*.ui; do
  "$uic" "$form" -o "$generated/ui_$(basename "${form%.ui}").h"
done
for template in "$root"/resources/*.h.in; do
  sed 's/@[A-Za-z0-9_]*@/0/g' "$template" >"$generated/$(basename "${template%.in}")"
done

if [ $# -gt 0 ]; then
  sources=("$@")
else
  mapfile -t sources < <(cd "$root" && find image protocol serial worker ui app -name '*.cpp' | sort)
fi

flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Werror
  -DUNICODE -D_UNICODE -DWIN32 -DMINGW_HAS_SECURE_API=1 -DQT_NO_DEBUG
  -DSERVOPROG_HAVE_LIBFTDI
  -I"$mkspec" -I"$generated"
  # Qt's headers as CMake hands them on: system headers, whose own warnings
  # are Qt's business.
  -isystem "$qt_headers" -isystem "$qt_headers/QtCore" -isystem "$qt_headers/QtGui"
  -isystem "$qt_headers/QtWidgets" -isystem "$qt_headers/QtSerialPort"
  # libftdi1 and libusb are written for Windows too; only their folders,
  # not the rest of /usr/include, join the search.
  -idirafter /usr/include/libftdi1 -idirafter /usr/include/libusb-1.0)
for dir in image image/flash protocol serial worker worker/compress ui app/cli; do
  flags+=(-I"$root/$dir")
done

# One compiler per core; each failure prints the compiler's own message.
export cxx
printf '%s\n' "${sources[@]}" |
  (cd "$root" && xargs -P "$(nproc)" -I{} sh -c '"$cxx" "$@" {} || { echo "windows: {} does not compile" >&2; exit 1; }' \
     _ "${flags[@]}") ||
  { echo "check-windows: failed" >&2; exit 1; }
echo "check-windows: ${#sources[@]} sources compile for Windows"
