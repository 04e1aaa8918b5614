#!/usr/bin/env bash
# The recorder in the real program, in an X server of its own with the null sound output and the
# synthetic input (SONVALE_AUDIO=null): Ctrl+R, Start > New..., OK, Record, Stop, Start > MP3
# format, Start > Save with a name; the job makes the MP3 copy (the sample disc is the open
# drive). The WAV and its MP3 must both be there and readable by soxi and ffprobe.
# SONVALE_SCREENSHOT=file.png keeps pictures of the recorder and of the new-file dialog.
#
#   record.sh SONVALE MKDISC
set -euo pipefail

exe=$1
mkdisc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/sonvale"
mkdir "$work/disc"
"$mkdisc" "$work/disc/d.cue" 3 4 5
export WORK=$work SONVALE_DISC_IMAGES=$work/disc/d.cue SONVALE_AUDIO=null

export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  shot() { if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-$1.png" || true; fi; }
  "$WORK/sonvale" >"$WORK/out.log" 2>&1 &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1) || true
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/out.log"; exit 1; }
  rec=""
  for attempt in 1 2 3 4 5; do
    xdotool windowfocus --sync "$wid"; sleep 0.2; xdotool key ctrl+r
    rec=$(timeout 4 xdotool search --sync --onlyvisible --name "^Record$" | head -n 1) || true
    [ -n "$rec" ] && break
  done
  [ -n "$rec" ] || { echo "no recorder"; exit 1; }
  # The recorder is 380 x 228: Start at (51, 203), Stop at (110, 161), Record at (316, 161).
  menu() {  # Start, then the item key
    xdotool mousemove --window "$rec" 51 203 click 1; sleep 0.6; xdotool key "$1"; sleep 0.6
  }
  menu n
  new=$(timeout 5 xdotool search --sync --onlyvisible --name "^New sound file$" | head -n 1) || true
  [ -n "$new" ] || { echo "no new-file dialog"; exit 1; }
  shot new
  xdotool windowfocus --sync "$new"; xdotool key Return; sleep 0.5
  xdotool mousemove --window "$rec" 316 161 click 1
  sleep 2
  shot recording
  xdotool mousemove --window "$rec" 110 161 click 1
  sleep 1.5
  menu m
  menu s
  save=$(timeout 5 xdotool search --sync --onlyvisible --name "^Save" | head -n 1) || true
  [ -n "$save" ] || { echo "no save dialog"; exit 1; }
  xdotool windowfocus --sync "$save"; sleep 0.3
  xdotool type --delay 5 "$WORK/take.wav"; xdotool key Return
  for i in $(seq 1 150); do
    [ -s "$WORK/take.mp3" ] && ! xdotool search --onlyvisible --name "^Encoding\(" >/dev/null 2>&1 && break
    sleep 0.1
  done
  shot saved
  xdotool windowfocus --sync "$rec"; xdotool key Escape; sleep 0.5
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
[ -s "$work/take.wav" ] || { echo "no take.wav"; ls -l "$work"; exit 1; }
frames=$(soxi -s "$work/take.wav")
[ "$(soxi -r "$work/take.wav")" = 44100 ] && [ "$(soxi -c "$work/take.wav")" = 2 ] && [ "$(soxi -b "$work/take.wav")" = 16 ] \
  || { echo "take.wav is not 44100 Hz stereo 16-bit"; soxi "$work/take.wav"; exit 1; }
[ "$frames" -ge 44100 ] || { echo "take.wav holds only $frames frames"; exit 1; }
duration=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$work/take.mp3")
awk -v d="$duration" -v f="$frames" 'BEGIN { exit !(d > f / 44100 - 0.2 && d < f / 44100 + 0.2) }' \
  || { echo "take.mp3 lasts $duration s, take.wav $frames frames"; exit 1; }
echo "e2e record: ok ($frames frames)"
