#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the editor needs to build and run; with "test",
# also those the test command needs (the packaging checks, clang with
# libFuzzer). Does nothing when everything is already there.
#   scripts/setup-deps.sh [test]
set -euo pipefail

packages=(
  build-essential cmake git pkg-config
  qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
  qml-module-qtquick-dialogs qml-module-qtquick-layouts qml-module-qttest
  qml-module-qtqml-models2 qml-module-qtquick-templates2 libqt5svg5
  libarchive-dev zlib1g-dev libisal-dev fonts-liberation
  librsvg2-bin  # the icon's PNG sizes are rendered at build time
)
if [ "${1:-}" = "test" ]; then
  packages+=(
    tar gzip python3
    busybox libarchive-tools  # the other tar programs whose archives are edited
    desktop-file-utils appstream dpkg-dev file man-db lintian  # the .deb and its checks
    # The fuzz targets: clang with libFuzzer (libclang_rt.fuzzer lives in
    # libclang-rt-14-dev) and llvm-symbolizer for readable reports.
    clang libclang-rt-14-dev llvm-14
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
