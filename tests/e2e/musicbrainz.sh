#!/usr/bin/env bash
# Looks the disc up on MusicBrainz with the real program in an X server of its own, as a user
# would: Edit > Query MusicBrainz; two releases hold the disc, the choice dialog lists them,
# Down and Enter take the second (a double album whose second disc this is); the titles show in
# the list, and closing writes them and the release into cdinfo.dat. The service is a local
# stand-in (mb_server.py) named in options.ini. SONVALE_SCREENSHOT=file.png keeps pictures of the
# choice and of the list after.
#
#   musicbrainz.sh SONVALE MKDISC
set -euo pipefail

exe=$1
mkdisc=$2
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$exe" "$work/sonvale"
mkdir "$work/disc"
"$mkdisc" "$work/disc/mb.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/mb.cue

/usr/bin/python3 "$(dirname "$0")/mb_server.py" two.json > "$work/server.port" &
server_pid=$!
for i in $(seq 1 100); do [ -s "$work/server.port" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/server.port")
printf '[MusicBrainz]\nServer=http://127.0.0.1:%s\nCoverArtServer=http://127.0.0.1:%s\n' "$port" "$port" > "$work/options.ini"

export WORK=$work
export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  . "$E2E_LIB"
  start_sonvale
  choice=$(open_from_edit_menu m "^Choose the release$" 10)
  [ -n "$choice" ] || { echo "no choice of a release"; cat "$WORK/out.log"; exit 1; }
  if [ -n "${SONVALE_SCREENSHOT:-}" ]; then sleep 0.5; import -window root "${SONVALE_SCREENSHOT%.png}-choice.png" || true; fi
  xdotool windowfocus --sync "$choice"
  xdotool key Down
  xdotool key Return
  for i in $(seq 1 100); do
    xdotool search --onlyvisible --name "^(Choose the release|Query MusicBrainz)" >/dev/null 2>&1 || break
    sleep 0.1
  done
  if xdotool search --onlyvisible --name "^(Choose the release|Query MusicBrainz)" >/dev/null 2>&1; then
    echo "the lookup dialogs stayed open"; exit 1
  fi
  if [ -n "${SONVALE_SCREENSHOT:-}" ]; then import -window root "${SONVALE_SCREENSHOT%.png}-list.png" || true; fi
  exit_through_file_menu "$wid" $pid "$WORK/out.log"
'
for want in "Artist=Solo" "Album=Double Album" "Year=2001" "1=Second 1" "2=Second 2" "3=Second 3" \
            "MusicBrainzRelease=bbbbbbbb-0000-4000-8000-000000000002"; do
  grep -qxF "$want" "$work/cdinfo.dat" || { echo "cdinfo.dat lacks $want:"; cat "$work/cdinfo.dat"; exit 1; }
done
[ "$(tail -n 1 "$work/cdinfo.dat")" = "MusicBrainzRelease=bbbbbbbb-0000-4000-8000-000000000002" ] \
  || { echo "the release is not after the section's other keys"; cat "$work/cdinfo.dat"; exit 1; }
echo "e2e musicbrainz: ok"
