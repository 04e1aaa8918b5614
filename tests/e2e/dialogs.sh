#!/usr/bin/env bash
# The real program's dialogs in an X server of its own, opened as a user would: the hint when no
# drive can be opened (it names the image that is missing, as does standard error), the options
# (Ctrl+O; a new output folder typed and confirmed with Enter reaches options.ini at exit), the
# ID3 editor, the about box and the rename dialog (F2). SONVALE_SCREENSHOT=file.png keeps a
# picture of each.
#
#   dialogs.sh SONVALE MKDISC
set -euo pipefail

exe=$1
mkdisc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/sonvale"
mkdir "$work/disc" "$work/NewOut"
"$mkdisc" "$work/disc/d.cue" 3 4 5
export WORK=$work

export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  shot() { if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-$1.png" || true; fi; }
  # open_dialog MAIN TITLE KEY...: the keys to the main window (one at a time, a menu given time
  # to open) until a window titled TITLE shows; its id on standard output.
  open_dialog() {
    local main=$1 title=$2 found=""
    shift 2
    for attempt in 1 2 3 4 5; do
      xdotool windowfocus --sync "$main"; sleep 0.2
      for k in "$@"; do xdotool key "$k"; sleep 0.4; done
      found=$(timeout 4 xdotool search --sync --onlyvisible --name "$title" | head -n 1) || true
      [ -n "$found" ] && break
      xdotool key Escape
    done
    [ -n "$found" ] || { echo "no window \"$title\"" >&2; return 1; }
    echo "$found"
  }

  # No drive: an image that does not exist.
  SONVALE_DISC_IMAGES=$WORK/disc/missing.cue "$WORK/sonvale" >"$WORK/hint.log" 2>&1 &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1) || true
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/hint.log"; exit 1; }
  xdotool windowfocus --sync "$wid"  # the hint comes when the window is first activated
  hint=$(timeout 30 xdotool search --sync --onlyvisible --name "^Sonvale$" | head -n 1) || true
  [ -n "$hint" ] || { echo "no hint"; cat "$WORK/hint.log"; exit 1; }
  shot hint
  xdotool windowfocus --sync "$hint"; xdotool key Return
  exit_through_file_menu "$wid" $pid "$WORK/hint.log"
  grep -qF "sonvale: $WORK/disc/missing.cue: the file does not exist" "$WORK/hint.log" \
    || { echo "standard error does not name the image"; cat "$WORK/hint.log"; exit 1; }

  # The disc image: the dialogs.
  SONVALE_DISC_IMAGES=$WORK/disc/d.cue "$WORK/sonvale" >"$WORK/out.log" 2>&1 &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1) || true
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/out.log"; exit 1; }
  options=$(open_dialog "$wid" "^Options$" ctrl+o)
  shot options
  xdotool key ctrl+a; xdotool type --delay 5 "$WORK/NewOut"; xdotool key Return
  for i in $(seq 1 40); do xdotool search --onlyvisible --name "^Options$" >/dev/null 2>&1 || break; sleep 0.1; done
  open_dialog "$wid" "^ID3 Tag Edit$" alt+e i >/dev/null
  shot id3; xdotool key Escape; sleep 0.5
  open_dialog "$wid" "^About Sonvale$" alt+h a >/dev/null
  shot about; xdotool key Escape; sleep 0.5
  open_dialog "$wid" "^Rename Track Title$" Down F2 >/dev/null
  shot rename; xdotool key Escape; sleep 0.5
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
grep -qx "OutputFolder=$work/NewOut" "$work/options.ini" || { echo "the new folder was not stored:"; cat "$work/options.ini"; exit 1; }
echo "e2e dialogs: ok"
