#!/usr/bin/env bash
# Starts the real program in an X server of its own with a disc image as its drive, checks that
# its window appears and that nothing is written while it runs, closes it through File > Exit and
# checks that options.ini then holds every key and cdinfo.dat the disc's titles.
# SONVALE_SCREENSHOT=file.png keeps a picture of the window.
#
#   start_close.sh SONVALE MKDISC
set -euo pipefail

exe=$1
mkdisc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program keeps options.ini in its own folder: run a copy from a folder of this test.
cp "$exe" "$work/sonvale"
mkdir "$work/disc"
"$mkdisc" "$work/disc/e2e.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/e2e.cue
# --version and --help answer without a display, and leave no files.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$work/sonvale" --version)" = "Sonvale 2.1" ] || { echo "sonvale --version"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$work/sonvale" --help > "$work/help"
grep -q "^Usage: sonvale" "$work/help" && grep -q "FLAC or Opus" "$work/help" || { echo "sonvale --help"; exit 1; }
# Without a display: said, status 1, no core dump.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$work/sonvale" 2> "$work/nodisplay" || status=$?
[ "$status" -eq 1 ] && grep -q "^sonvale: no display could be opened" "$work/nodisplay" \
  || { echo "sonvale without a display ended with $status"; cat "$work/nodisplay"; exit 1; }
rm -f "$work/help" "$work/nodisplay" "$work"/core*

export WORK=$work
export QT_QPA_PLATFORM=xcb
export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  "$WORK/sonvale" >"$WORK/out.log" 2>&1 &
  pid=$!
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1)
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/out.log"; exit 1; }
  if [ -n "${SONVALE_SCREENSHOT:-}" ]; then
    sleep 1   # the first paint, for the picture only
    import -window root "$SONVALE_SCREENSHOT"
  fi
  if [ -e "$WORK/options.ini" ] || [ -e "$WORK/cdinfo.dat" ]; then echo "written before the close"; exit 1; fi
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
keys=$(grep -c '=' "$work/options.ini")
# The 29 keys of the options, the 6 of secure ripping, then the FLAC level, the Opus bit rate,
# ReplayGain, the naming template and its portable names, the 3 of MusicBrainz, burst-first and its confidence, and
# the encoders at once and the further formats, the cue sheet's, the hidden track's and the disc
# image's switches, CTDB's server and switch, and the station's command.
if [ "$keys" -ne 53 ]; then
  echo "options.ini holds $keys keys, not 53:"; cat "$work/options.ini"; exit 1
fi
grep -q "^OutputFolder=$work/Output$" "$work/options.ini" || { echo "wrong output folder"; cat "$work/options.ini"; exit 1; }
# The image is the only drive (this machine's drives may add more before it; the disc key is the
# same either way): 3 tracks under a section of their own.
grep -q '^TrackNumber=3$' "$work/cdinfo.dat" || { echo "cdinfo.dat lacks the disc:"; cat "$work/cdinfo.dat"; exit 1; }
grep -q '^3=Track03$' "$work/cdinfo.dat" || { echo "cdinfo.dat lacks the titles:"; cat "$work/cdinfo.dat"; exit 1; }
echo "e2e start and close: ok"
