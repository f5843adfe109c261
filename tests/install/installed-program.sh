#!/usr/bin/env bash
# installed-program.sh BUILD_DIR: installs the build into a temporary prefix, checks the
# shipped desktop files with the desktop's own validators, then starts the program the way its
# desktop entry does and waits for its main window on a private X server.
set -euo pipefail
build=$1
work=$(mktemp -d)
xvfb=
program=
cleanup() {
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.sonarelle.Sonarelle
for file in lib/sonarelle/sonarelle lib/sonarelle/sonarelle-convert lib/sonarelle/sonarelle-updater \
  lib/sonarelle/language/en.ini lib/sonarelle/themes/bluestorm.sui lib/sonarelle/help/karaoke.html \
  lib/sonarelle/karaoke.chm share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
file "$prefix/share/icons/hicolor/48x48/apps/$id.png" | grep -q '48 x 48' || fail "the 48 px icon is not 48 x 48"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.txt" ||
  fail "appstreamcli validate: $(cat "$work/appstream.txt")"

# The installed program reads its texts from its own folder, reached through the link in bin/:
# a caption of the installed language file's own proves it.
caption="Installed Sonarelle $$"
sed -i "/^\[FrmMain\]/,/^\[/ s/^caption=.*/caption=$caption/" "$prefix/lib/sonarelle/language/en.ini"

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 20 display <&"$displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

read -r -a command <<<"$(sed -n 's/^Exec=//p' "$prefix/share/applications/$id.desktop")"
mkdir -p "$work/home"
env -u QT_QPA_PLATFORM DISPLAY=":$display" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  PATH="$prefix/bin:$PATH" "${command[@]}" >"$work/program.log" 2>&1 &
program=$!
# Polled: "search --sync" gives up at the first X error, from any window going away meanwhile.
window=
for _ in $(seq 300); do
  window=$(DISPLAY=":$display" xdotool search --onlyvisible --name "^$caption" 2>/dev/null | head -1) || true
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || fail "no main window titled \"$caption\"; the program said: $(cat "$work/program.log")"
kill -0 "$program" 2>/dev/null || fail "the program ended: $(cat "$work/program.log")"
# The desktop matches the window to its entry by class and shows the entry's icon.
properties=$(DISPLAY=":$display" xprop -id "$window" WM_CLASS _NET_WM_ICON)
wmclass=$(sed -n 's/^WM_CLASS(STRING) = //p' <<<"$properties")
startup=$(sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/$id.desktop")
[[ $wmclass == *"\"$startup\""* ]] || fail "window class $wmclass, the desktop entry expects $startup"
grep -q 'Icon (48 x 48)' <<<"$properties" || fail "the window has no 48 px icon"
echo "the installed program's main window is up"
