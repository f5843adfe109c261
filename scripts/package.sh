#!/usr/bin/env bash
# Installs what is missing, builds Sonarelle and makes its Debian package in build/
# (sonarelle_<version>_<arch>.deb); install it with: sudo apt install ./build/sonarelle_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
cpack -G DEB
