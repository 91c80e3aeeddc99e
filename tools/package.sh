#!/usr/bin/env bash
# Builds the Debian package build/servoprog_<version>_<arch>.deb with CPack
# and checks it with lintian (errors fail the script, warnings are shown).
# Install it with: sudo apt install ./build/servoprog_<version>_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
# The package installs below /usr; the build tree is configured so.
"$root/tools/build.sh" -DCMAKE_INSTALL_PREFIX=/usr
cd "$build"
for f in packaging/man/servoprog-cli.1.gz packaging/servoprog-cli.bash; do
  [ -f "$f" ] || { echo "missing $build/$f: help2man or python3 not found (tools/setup-debian.sh)" >&2; exit 1; }
done
rm -f servoprog_*.deb
cpack -G DEB >/dev/null
deb=$(ls servoprog_*.deb)
echo "$build/$deb"
dpkg-deb --field "$deb" Package Version Depends Recommends
echo "lintian:"
lintian "$deb" && echo "no errors"
