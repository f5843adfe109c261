#!/usr/bin/env bash
# Renders the 48 px icon from the scalable one (rsvg-convert, Debian's librsvg2-bin). The
# result is committed, so building the program does not need it.
set -euo pipefail
desktop=$(cd "$(dirname "$0")/../resources/desktop" && pwd)
rsvg-convert -w 48 -h 48 "$desktop/org.sonarelle.Sonarelle.svg" -o "$desktop/org.sonarelle.Sonarelle-48.png"
echo "wrote $desktop/org.sonarelle.Sonarelle-48.png"
