#!/usr/bin/env bash
# The main window driven as a user would, in an X server of its own with the null sound output:
# a track selected and played, paused, resumed and stopped; a title renamed (F2); the options and
# the about box opened; the RealPlayer history cleared from a Wine registry; two tracks checked and ripped (Ctrl+X, to WAV); File > Exit. cdinfo.dat
# then holds the new title and options.ini its keys. SONVALE_SCREENSHOT=file.png keeps a picture
# of the window in each playback state.
#
#   main_window.sh SONVALE MKDISC
set -euo pipefail

exe=$1
mkdisc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/sonvale"
mkdir "$work/disc" "$work/Output"
"$mkdisc" "$work/disc/d.cue" 6 4 5
printf '[CommonOptions]\nOutputFolder=%s\nOutputFormat=1\n' "$work/Output" > "$work/options.ini"
mkdir "$work/wine"
reg_key='[Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips'
{ printf 'WINE REGISTRY Version 2\n\n'
  for n in 1 2; do printf '%s%d] 1700000001\n@="clip%d.rm"\n\n' "$reg_key" $n $n; done
  printf '[Software\\\\Wine] 1700000003\n"Version"="win10"\n'; } > "$work/wine/user.reg"
export WINEPREFIX=$work/wine
export WORK=$work SONVALE_DISC_IMAGES=$work/disc/d.cue SONVALE_AUDIO=null

export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  shot() { if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-$1.png" || true; fi; }
  "$WORK/sonvale" >"$WORK/out.log" 2>&1 &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1) || true
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/out.log"; exit 1; }
  key() { xdotool windowfocus --sync "$wid"; sleep 0.2; for k in "$@"; do xdotool key "$k"; sleep 0.4; done; }
  key Down Up                   # the first row selected
  shot idle
  key ctrl+p; shot playing      # Play
  key alt+a a; shot paused      # Actions > Pause
  key ctrl+p; shot resumed      # Play resumes
  key alt+a s; shot stopped     # Actions > Stop
  key F2
  rename=$(timeout 5 xdotool search --sync --onlyvisible --name "^Rename Track Title$" | head -n 1) || true
  [ -n "$rename" ] || { echo "no rename dialog"; exit 1; }
  xdotool windowfocus --sync "$rename"; xdotool type --delay 5 "Renamed"; xdotool key Return; sleep 0.5
  key ctrl+o
  options=$(timeout 5 xdotool search --sync --onlyvisible --name "^Options$" | head -n 1) || true
  [ -n "$options" ] || { echo "no options"; exit 1; }
  xdotool windowfocus --sync "$options"; xdotool key Escape; sleep 0.5
  key alt+h a
  about=$(timeout 5 xdotool search --sync --onlyvisible --name "^About Sonvale$" | head -n 1) || true
  [ -n "$about" ] || { echo "no about box"; exit 1; }
  xdotool windowfocus --sync "$about"; xdotool key Escape; sleep 0.5
  key alt+a c r                 # Actions > Clear History > RealPlayer
  box=$(timeout 5 xdotool search --sync --onlyvisible --name "^Sonvale$" | head -n 1) || true
  [ -n "$box" ] || { echo "no Clear History report"; exit 1; }
  xdotool windowfocus --sync "$box"; xdotool key Return; sleep 0.5
  key ctrl+n Home space Down space   # rows 1 and 2 checked
  shot checked
  key ctrl+x
  for i in $(seq 1 100); do
    [ -s "$WORK/Output/Renamed.wav" ] && [ -s "$WORK/Output/Track02.wav" ] && \
      ! xdotool search --onlyvisible --name "^Extracting\(" >/dev/null 2>&1 && break
    sleep 0.1
  done
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
[ -s "$work/Output/Renamed.wav" ] && [ -s "$work/Output/Track02.wav" ] && [ ! -e "$work/Output/Track03.wav" ] \
  || { echo "the two checked tracks were not ripped:"; ls "$work/Output"; exit 1; }
! grep -q MostRecentClips "$work/wine/user.reg" && grep -q '"Version"="win10"' "$work/wine/user.reg" \
  || { echo "the RealPlayer history was not cleared:"; cat "$work/wine/user.reg"; exit 1; }
grep -qx "1=Renamed" "$work/cdinfo.dat" || { echo "cdinfo.dat lacks the new title:"; cat "$work/cdinfo.dat"; exit 1; }
keys=$(grep -c '=' "$work/options.ini")
[ "$keys" -ge 29 ] || { echo "options.ini holds $keys keys"; cat "$work/options.ini"; exit 1; }
echo "e2e main window: ok"
