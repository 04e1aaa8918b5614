#!/usr/bin/env bash
# The ripping station on two drives whose trays are folders: discs put in one after another (two
# at once) are each ripped to FLAC and Opus, recorded once in the history and ejected; two discs
# of the same CD-TEXT never share a folder; a disc put in again is skipped; a data disc is
# recorded and ejected while the other drive goes on; [Station] OnDisc runs with the disc's
# words; SIGTERM during a rip ends it with no part file left, a history that says it was stopped,
# and exit status 0.
#
#   station.sh SONVALE_CLI MKDISC
set -euo pipefail

cli_src=$1
mkdisc=$2
work=$(mktemp -d)
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "station: $*"; [ -f "$work/err" ] && tr '\r' '\n' < "$work/err" | grep -v '^\(Extracting\|Encoding\|Resampling\)' | tail -20; exit 1; }
cp "$cli_src" "$work/sonvale-cli"
mkdir -p "$work/t1" "$work/t2" "$work/discs"
# Nothing asked of a real host: MusicBrainz is a local stand-in that names every disc (one
# release, in Greek); the disc's words written by OnDisc into a file.
/usr/bin/python3 "$(dirname "$0")/mb_server.py" one.json > "$work/mb.port" &
for _ in $(seq 1 100); do [ -s "$work/mb.port" ] && break; sleep 0.05; done
mb=http://127.0.0.1:$(head -n 1 "$work/mb.port")
printf '[SecureOptions]\nAccurateRipServer=http://127.0.0.1:1\n[CTDB]\nServer=http://127.0.0.1:1\n[MusicBrainz]\nServer=%s\nCoverArtServer=%s\nFetchCover=0\n[Station]\nOnDisc=sh -c "echo \\"%%result%% %%album%%\\" >> %s/ondisc"\n' \
  "$mb" "$mb" "$work" > "$work/options.ini"
"$mkdisc" "$work/discs/a.cue" 3 4 >/dev/null
"$mkdisc" "$work/discs/b.cue" 2 2 2 >/dev/null
"$mkdisc" --title Other "$work/discs/c.cue" 5 >/dev/null
# A data disc: one data track and nothing else.
printf 'FILE "d.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' > "$work/discs/d.cue"
head -c $((300 * 2352)) /dev/zero > "$work/discs/d.bin"
"$mkdisc" "$work/discs/long.cue" 240 >/dev/null
# A disc put in as a user does it: the data file first, the sheet (which makes it a disc) last.
put() { cp "$work/discs/$1.bin" "$work/$2/"; cp "$work/discs/$1.cue" "$work/$2/.$1.cue"; mv "$work/$2/.$1.cue" "$work/$2/$1.cue"; }
history=$work/data/sonvale/station.json
# until SECONDS CONDITION: waits for a condition the station brings about.
until_true() {
  local n=$(($1 * 10)); shift
  for _ in $(seq 1 "$n"); do eval "$@" && return 0; sleep 0.1; done
  return 1
}
records() { python3 -c "import json,sys; print(len(json.load(open(sys.argv[1]))['discs']))" "$history" 2>/dev/null || echo 0; }

export XDG_DATA_HOME=$work/data SONVALE_DISC_IMAGES=$work/t1/:$work/t2/
"$work/sonvale-cli" station --output "$work/music" --format flac,opus > "$work/out" 2> "$work/err" &
station=$!
until_true 30 '[ -f "$history" ]' || fail "no history"
put a t1; put b t2        # two at once
until_true 120 '[ "$(records)" -ge 2 ]' || fail "the first two discs were not done"
put c t1; put d t2        # a data disc beside an audio one
until_true 120 '[ "$(records)" -ge 4 ]' || fail "the next two discs were not done"
put a t2                  # ripped before
until_true 60 '[ "$(records)" -ge 5 ]' || fail "the disc put in again was not seen"
for d in a c; do [ -f "$work/t1/ejected/$d.cue" ] || fail "$d not ejected"; done
for d in b d a; do [ -f "$work/t2/ejected/$d.cue" ] || fail "$d not ejected"; done
python3 - "$history" "$work/music" <<'PY' || fail "the history"
import json, os, sys
discs = json.load(open(sys.argv[1]))["discs"]
by = {}
for d in discs:
    by.setdefault(d["result"], []).append(d)
assert len(by.get("ripped", [])) == 3, discs
assert len(by.get("skipped", [])) == 1 and "ripped before" in by["skipped"][0]["note"], discs
assert len(by.get("failed", [])) == 1 and by["failed"][0]["note"] == "no audio on the disc", discs
folders = set()
for d in by["ripped"]:
    assert d["formats"] == ["flac", "opus"], d
    assert d["artist"].startswith("Άννα") and d["album"].startswith("Νύχτα και μέρα") and d["release"], d
    assert all(t["result"] == "done" and t["accuraterip"].startswith("not checked") for t in d["tracks"]), d
    assert os.path.isfile(d["log"]) and os.path.isfile(d["cue"]), d
    folders.add(d["folder"])
    # Each format's files: "flac/<artist>/<album>/01 <title>.flac", one a track.
    for fmt in ("flac", "opus"):
        folder = d["folder"].replace(os.sep + "flac" + os.sep, os.sep + fmt + os.sep)
        names = sorted(f for f in os.listdir(folder) if f.endswith("." + fmt))
        assert [n[:2] for n in names] == ["%02d" % t["number"] for t in d["tracks"]], (folder, names)
assert len(folders) == 3, folders  # a and b have the same CD-TEXT, and stay apart
PY
# (OnDisc runs on its own, beside the station: its lines come when they come.)
until_true 30 'grep -q "^skipped " "$work/ondisc" 2>/dev/null' && grep -q "^ripped Νύχτα και μέρα$" "$work/ondisc" \
  || { cat "$work/ondisc"; fail "OnDisc"; }
# SIGTERM during a rip: ended, no part file, the history says so; exit status 0.
put long t1
until_true 60 'find "$work/music" -name ".sonvale-*" | grep -q .' || fail "the long disc's rip did not start"
kill -TERM $station
status=0; wait $station || status=$?
[ $status -eq 0 ] || fail "SIGTERM: exit status $status"
[ -z "$(find "$work/music" -name '.sonvale-*')" ] || fail "part files left: $(find "$work/music" -name '.sonvale-*')"
python3 -c "
import json, sys
d = json.load(open(sys.argv[1]))['discs'][-1]
assert d['result'] == 'stopped' and d['tracks'][0]['result'] != 'done', d
" "$history" || fail "the stopped rip's record"
[ -f "$work/t1/long.cue" ] || fail "a stopped disc is not ejected"
echo "e2e station: ok"
