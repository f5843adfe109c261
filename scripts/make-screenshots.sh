#!/usr/bin/env bash
# Retakes the user guide's screenshots in docs/images: builds the program and
# sonarelle_screenshots in build/, installs the program afresh into build/installed and
# photographs it on a private X server and sound server. The pictures are committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --parallel 2
rm -rf "$build/installed"
cmake --install "$build" --prefix "$build/installed" >/dev/null
SONARELLE_PROGRAM=$build/installed/bin/sonarelle SONARELLE_SOURCE_DIR=$root \
  "$build/bin/sonarelle_screenshots" "$root/docs/images"
