#!/usr/bin/env bash
# package-dependencies.sh BUILD_DIR: builds the Debian package and checks that its control
# data declares the package of every library the program loads: the ones its executables are
# linked with, those it opens at run time (the MP3 encoder, the synthesizer's FluidSynth, the
# online update's curl), the GStreamer plugins that play its accompaniments, and a General
# MIDI SoundFont for the built-in synthesizer.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/sonarelle_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Every package named, alternatives included, without versions.
declared=" $(echo "$depends" | sed 's/([^)]*)//g; s/[,|]/ /g' | tr -s ' ') "

missing=0
# The package that owns `file` (merged /usr: dpkg may know it under the other path).
owner() {
  local path=$1
  for candidate in "$path" "/usr${path#/usr}" "${path#/usr}"; do
    if dpkg -S "$candidate" 2>/dev/null | head -1 | cut -d: -f1; then return; fi
  done
}
expect() {
  local what=$1 file=$2 package
  package=$(owner "$file")
  if [ -z "$package" ]; then
    echo "FAIL: no package owns $file ($what)" >&2
    missing=1
  elif [[ $declared != *" $package "* ]]; then
    echo "FAIL: $what comes from $package, which Depends does not name" >&2
    missing=1
  fi
}
library() { ldconfig -p | awk -v name="$1" '$1 == name { print $NF; exit }'; }

dpkg-deb -x "$deb" "$work/root"
for exe in "$work"/root/usr/lib/sonarelle/*; do
  if [ ! -f "$exe" ] || [ ! -x "$exe" ]; then continue; fi
  for soname in $(objdump -p "$exe" | awk '$1 == "NEEDED" { print $2 }'); do
    expect "$(basename "$exe") needs $soname" "$(library "$soname")"
  done
done

program=$work/root/usr/lib/sonarelle/sonarelle
lame=$(strings -a -el "$program" | grep -o -m1 'libmp3lame\.so\.[0-9]*' || true)
[ -n "$lame" ] || { echo "FAIL: the program no longer names the MP3 encoder it opens" >&2; exit 1; }
expect "the MP3 encoder $lame" "$(library "$lame")"
for opened in fluidsynth curl; do
  soname=$(strings -a "$program" | grep -o -m1 "^lib$opened\.so\.[0-9]*" || true)
  [ -n "$soname" ] || { echo "FAIL: the program no longer names the lib$opened it opens" >&2; exit 1; }
  expect "the library $soname it opens" "$(library "$soname")"
done

# Playing a KAR or MIDI song, an MP3 or WAV, an MPEG video or video CD track, an AVI, and the
# sound server's sink.
for element in playbin decodebin audioconvert appsink pulsesink videoconvert fluiddec midiparse \
  wavparse mpegaudioparse mpg123audiodec mpegpsdemux mpegvideoparse avdec_mpeg2video \
  avdec_mp2float avidemux jpegdec; do
  plugin=$(gst-inspect-1.0 "$element" 2>/dev/null | sed -n 's/^ *Filename *//p')
  [ -n "$plugin" ] || { echo "FAIL: this machine has no $element to check" >&2; missing=1; continue; }
  expect "GStreamer's $element" "$plugin"
done

# Any General MIDI SoundFont will do, so one alternative of the Depends line must give one.
fonts=$(echo "$depends" | tr ',' '\n' | grep -E 'soundfont' || true)
found=0
for package in $(echo "$fonts" | tr '|' ' ' | sed 's/([^)]*)//g'); do
  if apt-cache show "$package" 2>/dev/null | grep -q '^Provides:.*sf2-soundfont-gm' ||
    [ "$package" = sf2-soundfont-gm ]; then
    found=1
  fi
done
[ $found -eq 1 ] || { echo "FAIL: no General MIDI SoundFont among: $fonts" >&2; missing=1; }

[ $missing -eq 0 ] || exit 1
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends names every library the program loads"
