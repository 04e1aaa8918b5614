# Shared by the end-to-end scripts: sourced inside their X sessions through $E2E_LIB.

# Closes the program through File > Exit and waits for it: five tries, as a key can be lost while
# a window takes the focus. A failure (said, with the program's output in log) when the window
# stays or the program ends with an error.
#
#   exit_through_file_menu WINDOW PID LOG
exit_through_file_menu() {
  local wid=$1 pid=$2 log=$3 attempt i status=0
  xdotool windowfocus --sync "$wid"
  for attempt in 1 2 3 4 5; do
    xdotool key --window "$wid" alt+f; sleep 0.5; xdotool key x
    for i in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break 2; sleep 0.25; done
  done
  if kill -0 "$pid" 2>/dev/null; then echo "the window did not close"; kill "$pid"; return 1; fi
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "sonvale exited with $status"; cat "$log"; return 1; }
}

# Starts $WORK/sonvale (its output in $WORK/out.log) and waits for its main window, which it
# focuses: sets pid and wid; a failure (said) when no window comes within 60 s.
start_sonvale() {
  "$WORK/sonvale" >"$WORK/out.log" 2>&1 &
  pid=$!
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" | head -n 1)
  [ -n "$wid" ] || { echo "no window"; cat "$WORK/out.log"; return 1; }
  xdotool windowfocus --sync "$wid"
}

# Picks the Edit menu's item of KEY until a window named PATTERN shows, waiting SECONDS each of
# five tries (a key can be lost while the menu opens); prints its id, nothing when none came.
#
#   open_from_edit_menu KEY PATTERN SECONDS
open_from_edit_menu() {
  local key=$1 pattern=$2 seconds=$3 found="" attempt
  for attempt in 1 2 3 4 5; do
    xdotool key alt+e
    sleep 0.3
    xdotool key "$key"
    found=$(timeout "$seconds" xdotool search --sync --onlyvisible --name "$pattern" | head -n 1) && break
  done
  echo "$found"
}
