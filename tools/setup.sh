#!/usr/bin/env bash
# Shared by run.sh and test.sh: installs the Debian packages that are missing, then
# configures and builds into ./build (everything, or the one target given). Quick when
# nothing changed.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev openssl
          poppler-utils ccache fonts-liberation curl
          desktop-file-utils appstream groff-base dpkg-dev file xvfb lintian libacl1-dev acl
          lego pebble systemd nginx apache2 haproxy knot clang-format)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# Paths below the checkout reach the compiler cache as relative paths, so that a fresh clone in
# another folder (as CI makes every time) finds what an earlier one compiled.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=true

if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build ${1:+--target "$1"}
