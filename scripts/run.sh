#!/usr/bin/env bash
# Installs what is missing, builds Sonarelle and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
exec "$root/build/bin/sonarelle" "$@"
