#!/usr/bin/env bash
# Rebuilds resources/help/karaoke.chm from the HTML help with chmcmd (Free Pascal's CHM
# compiler). The result is committed, so building the program does not need chmcmd.
set -euo pipefail
help=$(cd "$(dirname "$0")/../resources/help" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$help/karaoke.html" "$help/karaoke.css" "$work/"
cat >"$work/karaoke.hhp" <<'HHP'
[OPTIONS]
Compiled file=karaoke.chm
Default topic=karaoke.html
Title=Sonarelle recorder help
Language=0x409 English (United States)

[FILES]
karaoke.html
karaoke.css
HHP
(cd "$work" && chmcmd karaoke.hhp >/dev/null)
cp "$work/karaoke.chm" "$help/karaoke.chm"
echo "wrote $help/karaoke.chm"
