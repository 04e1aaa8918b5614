#!/usr/bin/env bash
# Looks the disc up with the real program in an X server of its own, as a user would: Edit >
# Query Freedb, Query (Enter) in the settings dialog, the wait dialog ends by itself; the titles
# show in the list, and closing writes them with the artist, album, year and genre into
# cdinfo.dat. The server is a local one (cddb_test_server) named in options.ini.
# SONVALE_SCREENSHOT=file.png keeps pictures of the settings dialog and of the list after.
#
#   lookup.sh SONVALE MKDISC CDDB_TEST_SERVER
set -euo pipefail

exe=$1
mkdisc=$2
server=$3
work=$(mktemp -d)
cleanup() {
  exec 7>&- 2>/dev/null || true
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$exe" "$work/sonvale"
mkdir "$work/disc"
"$mkdisc" "$work/disc/lookup.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/lookup.cue

# The server runs while its standard input is open.
mkfifo "$work/server.in"
"$server" < "$work/server.in" > "$work/server.port" &
exec 7>"$work/server.in"
for i in $(seq 1 100); do [ -s "$work/server.port" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/server.port")
printf '[QueryCDDB]\nServer=127.0.0.1:%s\nScript=/~cddb/cddb.cgi\n' "$port" > "$work/options.ini"

export WORK=$work
export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  start_sonvale
  settings=$(open_from_edit_menu q "^Query CDDB$" 5)
  [ -n "$settings" ] || { echo "no settings dialog"; exit 1; }
  if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-settings.png" || true; fi
  xdotool windowfocus --sync "$settings"
  xdotool key Return
  for i in $(seq 1 200); do
    xdotool search --onlyvisible --name "^Query CDDB" >/dev/null 2>&1 || break
    sleep 0.1
  done
  if xdotool search --onlyvisible --name "^Query CDDB" >/dev/null 2>&1; then echo "the lookup dialogs stayed open"; exit 1; fi
  if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-list.png" || true; fi
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
for want in "Artist=E2E Band" "Album=E2E Album" "Year=2026" "Genre=118" "1=Alpha" "2=Beta" "3=Gamma"; do
  grep -qxF "$want" "$work/cdinfo.dat" || { echo "cdinfo.dat lacks $want:"; cat "$work/cdinfo.dat"; exit 1; }
done
grep -q "^Server=127.0.0.1:$port$" "$work/options.ini" || { echo "the server was not kept"; cat "$work/options.ini"; exit 1; }
echo "e2e lookup: ok"
