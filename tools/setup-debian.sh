#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# This is the only place that lists them; the README commands call it.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libftdi1-dev
  srecord binutils
  clang libclang-rt-14-dev clang-format
  python3 gcovr
  help2man lintian dpkg-dev qt6-translations-l10n
  g++-mingw-w64-x86-64-posix
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
