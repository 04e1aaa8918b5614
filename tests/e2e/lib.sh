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
