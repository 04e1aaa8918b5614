#!/usr/bin/env bash
# sonvale-cli run as a user would, on mkdisc images, without a display: the track list; a WAV rip
# whose data are the image's bytes; an MP3 rip with titles from a local CDDB server (--lookup),
# tagged; a 22050 Hz WAV converted to Ogg (resampled, read by oggdec); tag set and show; usage
# errors (2); a missing input (1); the --no-overwrite answer (1); SIGINT while the second track is
# encoded, with one encoder and with two side by side (130, what is left whole, no lame running);
# a CD-TEXT disc ripped to FLAC, its titles naming the files and filling the tags; MusicBrainz's
# releases listed and chosen, and the cover fetched; a secure rip's cue sheet, and verify.
#
#   cli.sh SONVALE_CLI MKDISC CDDB_TEST_SERVER
set -euo pipefail

cli_src=$1
mkdisc=$2
server=$3
work=$(mktemp -d)
# On every way out: the servers and programs started in the background end, the folder goes.
cleanup() {
  exec 7>&- 2>/dev/null || true
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
cp "$cli_src" "$work/sonvale-cli"  # options.ini and cdinfo.dat go beside it
cli=$work/sonvale-cli
fail() { echo "cli: $*"; exit 1; }
# expect STATUS COMMAND...: runs it, output in $work/out and $work/err, and checks its status.
expect() {
  local want=$1 got=0
  shift
  "$cli" "$@" >"$work/out" 2>"$work/err" </dev/null || got=$?
  [ "$got" -eq "$want" ] || { cat "$work/err"; fail "sonvale-cli $* ended with $got, not $want"; }
}

mkdir "$work/disc"
# Tracks of 3, 4 and 5 seconds: 225, 300 and 375 sectors from sectors 0, 225 and 525.
"$mkdisc" "$work/disc/cli.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/cli.cue

# The list as the main window shows it (the same lengths and sizes), the disc key and CDDB ID.
expect 0 tracks --json
python3 - "$work/out" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1]))
rows = [(t["number"], t["title"], t["length"], t["size_mb"], t["checked"]) for t in d["tracks"]]
want = [(1, "Track01", "00:03", "00.50", True), (2, "Track02", "00:04", "00.67", True), (3, "Track03", "00:05", "00.84", True)]
assert rows == want, rows
assert d["disc_key"] == "4096", d["disc_key"]          # 0x000200 + 0x000500 + 0x000900
# Starts at 2, 5 and 9 s: digit sums 2 + 5 + 9 = 0x10; 14 - 2 = 12 s long (0x000c); 3 tracks.
assert d["cddb_id"] == "10000c03", d["cddb_id"]
# The CUETools database's TOC ID: SHA-1 of "000000E1" "0000020D" "00000384" (tracks 2, 3 and the
# lead-out from track 1's start, in sectors) and 97 places of "00000000", in base64.
import base64, hashlib
want = base64.b64encode(hashlib.sha1(("000000E1" "0000020D" "00000384" + "0" * 8 * 97).encode()).digest()).decode()
assert d["ctdb_id"] == want.replace("+", ".").replace("/", "_").replace("=", "-"), d["ctdb_id"]
EOF
expect 0 drives
grep -q "^1  Sonvale Image cli.cue *audio disc$" "$work/out" || { cat "$work/out"; fail "drives"; }
# The drive's model and the read offset a secure rip would use: none known, then the drive list
# kept in the cache (beside options.ini here), then the drive's own entry; offset show says the
# same, offset search finds models in the list.
expect 0 drives --json
python3 -c "import json,sys; d=json.load(open(sys.argv[1]))['drives'][0]; assert (d['vendor'], d['model'], d['read_offset'], d['read_offset_source']) == ('Sonvale', 'Image cli.cue', 0, 'none known'), d" "$work/out" \
  || fail "drives --json: $(cat "$work/out")"
python3 -c "
import struct, sys
def rec(o, n, s): return struct.pack('<h', o) + n.encode().ljust(32, b'\\0') + bytes([0, s]) + bytes(33)
sys.stdout.buffer.write(rec(667, 'PLEXTOR - DVDR PX-716A', 200) + rec(30, 'Sonvale - Image cli.cue', 5) + rec(48, 'SONVALE - IMAGE CLI.CUE', 9))
" > "$work/DriveOffsets.bin"
expect 0 offset show
grep -qx "Read offset: +48 (from the AccurateRip drive list)" "$work/out" && grep -q "also listed: +30 (5 submissions)" "$work/out" \
  || { cat "$work/out" "$work/err"; fail "offset show from the list"; }
expect 0 offset search px-716
grep -q "^  +667  PLEXTOR - DVDR PX-716A  *200 submissions$" "$work/out" || { cat "$work/out"; fail "offset search"; }
expect 1 offset search nosuchdrive
printf '[DriveOffsets]\nSonvale - Image cli.cue=-6 manual\n' > "$work/options.ini"
expect 0 offset show --json
python3 -c "import json,sys; d=json.load(open(sys.argv[1])); assert (d['drive'], d['offset'], d['source']) == ('Sonvale - Image cli.cue', -6, 'set by hand'), d" "$work/out" \
  || fail "offset show of the drive's own entry: $(cat "$work/out")"
rm "$work/options.ini" "$work/DriveOffsets.bin"
expect 2 offset
expect 0 --version
[ "$(cat "$work/out")" = "sonvale-cli 2.1" ] || fail "--version"
expect 0 --help
grep -q -- "--secure" "$work/out" && grep -q -- "--offset N" "$work/out" || fail "the help lists no --secure or --offset"

# A disc image with a long name is listed by its whole name; the track table keeps its columns
# when a title is longer than the column.
cp "$work/disc/cli.cue" "$work/disc/a-rather-long-name-of-an-album.cue"
SONVALE_DISC_IMAGES=$work/disc/a-rather-long-name-of-an-album.cue expect 0 drives
grep -q "^1  Sonvale Image a-rather-long-name-of-an-album.cue  audio disc$" "$work/out" || { cat "$work/out"; fail "the name was cut"; }
printf '[4096]\nTrackNumber=3\n1=A title much longer than the thirty-two characters of the column\n2=Ünïcödé\n' > "$work/cdinfo.dat"
expect 0 tracks
python3 - "$work/out" <<'EOF2'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()[1:]
cols = {line.index("00:0") for line in lines[1:]}
assert len(cols) == 1 and lines[0].index("Length") == cols.pop(), lines
EOF2
rm "$work/cdinfo.dat"

# Usage errors: status 2 and the usage text.
for args in "rip --offset 6x" "rip --offset 5881" "rip --burst-first --no-burst-first" "rip --format aiff" "rip --tracks 3-1" "rip --tracks 9" "bogus" "tag show" "convert --to ogg" "rip --drive 0" \
            "tracks extra" "convert --to mp3 --overwrite --no-overwrite a.wav" "rip --overwrite --no-overwrite" \
            "rip --jobs 0" "rip --jobs 17" "rip --jobs two" "convert --to mp3 --jobs 0 a.wav"; do
  # shellcheck disable=SC2086
  expect 2 $args
  grep -q "^Usage: sonvale-cli" "$work/err" || fail "no usage text after: $args"
done

# WAV: the data are the image's bytes.
expect 0 rip --format wav --tracks 1,3 --output "$work/wav"
starts=(0 225 525); lengths=(225 300 375)
for t in 0 2; do
  cmp <(tail -c +45 "$work/wav/Track0$((t + 1)).wav") \
      <(dd if="$work/disc/cli.bin" bs=2352 skip="${starts[t]}" count="${lengths[t]}" status=none) \
    || fail "Track0$((t + 1)).wav differs from the image"
done
[ ! -e "$work/wav/Track02.wav" ] || fail "track 2 was ripped"
# Ripped again into the same folder: the first rip's files are kept (1) unless --overwrite.
echo "first rip" > "$work/wav/Track01.wav"
expect 1 rip --format wav --tracks 1 --output "$work/wav"
grep -q "Track01.wav has existed,overite it? no" "$work/err" || { cat "$work/err"; fail "no question before replacing a file"; }
[ "$(cat "$work/wav/Track01.wav")" = "first rip" ] || fail "the earlier rip's file was replaced"
expect 0 rip --format wav --tracks 1 --overwrite --output "$work/wav"
[ "$(stat -c %s "$work/wav/Track01.wav")" -eq $((44 + 225 * 2352)) ] || fail "--overwrite did not replace the file"

# A second disc image is drive 2: its own key, titles and tracks, never drive 1's.
"$mkdisc" "$work/disc/two.cue" 6 7
printf '[4096]\nTrackNumber=3\n1=Disc one\n' > "$work/cdinfo.dat"
SONVALE_DISC_IMAGES=$work/disc/cli.cue:$work/disc/two.cue expect 0 tracks --drive 2 --json
python3 - "$work/out" <<'EOF2'
import json, sys
d = json.load(open(sys.argv[1]))
assert d["disc_key"] == "3535", d["disc_key"]          # 0x000200 + 0x000800 + 975 frames (two tracks)
assert [t["title"] for t in d["tracks"]] == ["Track01", "Track02"], d["tracks"]
EOF2
rm "$work/cdinfo.dat"
# Secure mode with a read offset of 6 samples: the track shifted by 24 bytes, and a log.
printf '[SecureOptions]\nAccurateRipServer=http://127.0.0.1:1\n[CTDB]\nServer=http://127.0.0.1:1\n' > "$work/options.ini"
expect 0 rip --secure --offset 6 --format wav --tracks 2 --output "$work/secure"
cmp <(tail -c +45 "$work/secure/Track02.wav") \
    <(tail -c +$((225 * 2352 + 24 + 1)) "$work/disc/cli.bin" | head -c $((300 * 2352))) || fail "the secure rip is not shifted by 6 samples"
log=$(ls "$work/secure"/*.log)
grep -q "^Read offset: +6 (given with --offset)$" "$log" && grep -q "AccurateRip: not checked (no connection" "$log" || { cat "$log"; fail "the log"; }
grep -q "^Track 02: AccurateRip: not checked (no connection" "$work/err" && grep -q "^Log: $log$" "$work/err" || { cat "$work/err"; fail "no verdicts said"; }
expect 0 rip --secure --format wav --tracks 1 --output "$work/secure" --json
python3 - "$work/out" <<'EOF2'
import json, sys
d = json.load(open(sys.argv[1]))
t = d["secure"]["tracks"]
assert d["ok"] and len(t) == 1 and t[0]["track"] == 1 and t[0]["accuraterip"].startswith("not checked"), d
assert d["secure"]["summary"].startswith("1 track, 0 accurately ripped"), d
assert t[0]["ctdb"].startswith("not checked (no connection") and d["secure"]["ctdb"].startswith("not checked"), d
EOF2
[ "$(tail -n 1 "$log")" = "Log checksum: $(head -n -1 "$log" | sha256sum | cut -c1-64)" ] || fail "the log's checksum"
grep -q "^ReadOffset=0$" "$work/options.ini" && grep -q "^SecureMode=0$" "$work/options.ini" || fail "--secure was kept in options.ini"
grep -q "^OutputFolder=" "$work/options.ini" || fail "options.ini not written"
! grep -q "$work/wav" "$work/options.ini" || fail "--output was kept in options.ini"

# MP3 with titles from a CDDB server on 127.0.0.1 (it names the tracks Alpha, Beta, Gamma).
mkfifo "$work/server.in"
"$server" < "$work/server.in" > "$work/server.port" &
exec 7>"$work/server.in"
for _ in $(seq 1 100); do [ -s "$work/server.port" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/server.port")
printf '[QueryCDDB]\nServer=127.0.0.1:%s\nScript=/~cddb/cddb.cgi\n[ID3]\nUse=1\n' "$port" > "$work/options.ini"
expect 0 rip --format mp3 --lookup --output "$work/mp3"
for title in Alpha Beta Gamma; do
  tags=$(id3v2 -l "$work/mp3/$title.mp3")
  for want in "Title  : $title" "Artist: E2E Band" "Album  : E2E Album"; do
    grep -qF "$want" <<<"$tags" || { echo "$tags"; fail "$title.mp3 lacks \"$want\""; }
  done
done
grep -qx "1=Alpha" "$work/cdinfo.dat" || fail "the looked-up titles are not in cdinfo.dat"
rm "$work/cdinfo.dat"
expect 0 lookup --json
grep -q '"artist": "E2E Band"' "$work/out" || fail "lookup --json"
[ ! -e "$work/cdinfo.dat" ] || fail "lookup without --apply wrote cdinfo.dat"
expect 0 lookup --apply
grep -q "^Artist: E2E Band$" "$work/out" || fail "lookup prints no artist"
grep -qx "Artist=E2E Band" "$work/cdinfo.dat" && grep -qx "3=Gamma" "$work/cdinfo.dat" || fail "lookup --apply"
saved_options=$(cat "$work/options.ini")
printf '[QueryCDDB]\nServer=127.0.0.1:1\n' > "$work/options.ini"  # nothing listens there
expect 1 lookup
grep -q "could not be reached" "$work/err" || fail "no message for an unreachable server"
expect 1 rip --format wav --lookup --tracks 1 --output "$work/nolookup" --json  # ripped all the same, under the old title
[ -s "$work/nolookup/Alpha.wav" ] || fail "rip --lookup without a server did not rip"
python3 - "$work/out" "$work/nolookup/Alpha.wav" <<'EOF2'
import json, sys
d = json.load(open(sys.argv[1]))
assert d["ok"] is False and d["status"] == 1, d
assert any("could not be reached" in m for m in d["messages"]), d["messages"]
assert d["results"] == [{"item": "01Alpha", "output": sys.argv[2], "result": "done"}], d["results"]
EOF2
printf '%s\n' "$saved_options" > "$work/options.ini"

# Convert: a 22050 Hz WAV to Ogg, resampled to 44100 Hz.
sox -n -r 22050 -c 2 -b 16 "$work/low.wav" synth 2 sine 440 vol 0.3
expect 0 convert --to ogg --output "$work/ogg" "$work/low.wav"
oggdec -Q -o "$work/low.decoded.wav" "$work/ogg/low.ogg"
[ "$(soxi -r "$work/low.decoded.wav")" = 44100 ] || fail "the Ogg is not 44100 Hz"
frames=$(soxi -s "$work/low.decoded.wav")
[ "$frames" -ge 88000 ] && [ "$frames" -le 88400 ] || fail "the Ogg holds $frames frames, not about 88200"
[ ! -e "$work/ogg/MyReTemp.wav" ] || fail "the resampled temporary file was left"

# A missing input: 1 and its message; an MP3 that exists, not overwritten: 1 and the question.
expect 1 convert --to mp3 --output "$work/mp3" "$work/missing.wav"
grep -q "missing.wav: no such file" "$work/err" || fail "no message for a missing input"
# One missing and one good input: the good one converted, 1, and the JSON agrees.
expect 1 convert --to ogg --output "$work/mixed" --json "$work/missing.wav" "$work/low.wav"
python3 - "$work/out" "$work/mixed/low.ogg" <<'EOF2'
import json, sys
d = json.load(open(sys.argv[1]))
assert d["ok"] is False and any("missing.wav: no such file" in m for m in d["messages"]), d
assert d["results"][0]["output"] == sys.argv[2] and d["results"][0]["result"] == "done", d["results"]
EOF2
cp "$work/wav/Track01.wav" "$work/again.wav"
expect 0 convert --to mp3 --output "$work/conv" "$work/again.wav"
expect 1 convert --to mp3 --output "$work/conv" "$work/again.wav"
grep -q "again.mp3 has existed,overite it? no" "$work/err" || { cat "$work/err"; fail "no question answered"; }
expect 0 convert --to mp3 --overwrite --output "$work/conv" "$work/again.wav"

# The tag.
expect 0 tag set "$work/conv/again.mp3" --title "Café" --artist A --genre Rock --track 7 --year 2026
expect 0 tag show --json "$work/conv/again.mp3"
python3 - "$work/out" <<'EOF'
import json, sys
t = json.load(open(sys.argv[1]))["tag"]
assert (t["title"], t["artist"], t["genre"], t["track"], t["year"]) == ("Café", "A", "Rock", 7, "2026"), t
EOF
# Never a pipe into grep -q under pipefail: the writer may die of SIGPIPE when grep has seen enough.
id3v2 -l "$work/conv/again.mp3" > "$work/id3"
grep -q "Genre: Rock (17)" "$work/id3" || fail "id3v2 does not read the genre"
# What an ID3v1 tag cannot keep is said; a genre in any letter case; a file that is no MP3 refused.
expect 0 tag set "$work/conv/again.mp3" --title "A title far longer than thirty characters" --artist "Дмитрий" --genre "hip-hop"
grep -q -- '--title is stored as "A title far longer than thirty"' "$work/err" || { cat "$work/err"; fail "no word on a cut title"; }
grep -q -- '--artist is stored as "???????"' "$work/err" || { cat "$work/err"; fail "no word on characters outside Latin-1"; }
id3v2 -l "$work/conv/again.mp3" > "$work/id3"
grep -q "Genre: Hip-Hop (7)" "$work/id3" || fail "--genre hip-hop"
cp "$work/low.wav" "$work/notmp3.wav"
expect 1 tag set "$work/notmp3.wav" --title X
grep -q "is not an MP3 file" "$work/err" || fail "a WAV was tagged"
cmp -s "$work/low.wav" "$work/notmp3.wav" || fail "the WAV was changed"
expect 0 tag remove "$work/conv/again.mp3"
expect 0 tag show "$work/conv/again.mp3"
grep -q "no ID3v1 tag" "$work/out" || fail "the tag was not removed"
expect 1 tag show "$work/nothing.mp3"

# A disc whose CUE sheet carries CD-TEXT and an ISRC, never named before: its titles name the files
# and fill the tags (FLAC, read by metaflac). A cover.jpg that is no picture is passed over with a
# line on standard error, and the rip succeeds.
"$mkdisc" --title "Πρώτο φως" --title "Second" "$work/disc/text.cue" 3 4
sed -i 's/^PERFORMER .*/PERFORMER "Η μπάντα"/; s/^\( *TRACK 01 AUDIO\)$/\1\n    ISRC USABC1234567/' "$work/disc/text.cue"
mkdir "$work/text"
echo "<html>not a picture</html>" > "$work/text/cover.jpg"
SONVALE_DISC_IMAGES=$work/disc/text.cue expect 0 rip --format flac --output "$work/text"
grep -q "cover.jpg is not a JPEG or PNG image" "$work/err" || { cat "$work/err"; fail "no word on a cover that is no picture"; }
tags=$(metaflac --export-tags-to=- "$work/text/Πρώτο φως.flac") || fail "the first file is not named by its CD-TEXT title"
for want in "TITLE=Πρώτο φως" "ARTIST=Η μπάντα" "ISRC=USABC1234567" "TRACKNUMBER=1" "TRACKTOTAL=2"; do
  grep -qxF "$want" <<<"$tags" || { echo "$tags"; fail "the FLAC tags lack $want"; }
done
[ -e "$work/text/Second.flac" ] || fail "Second.flac"
# A FLAC has no ID3 tag to show or change: refused, the file untouched.
cp "$work/text/Second.flac" "$work/before.flac"
expect 1 tag show "$work/text/Second.flac"
grep -q "is not an MP3 file" "$work/err" || { cat "$work/err"; fail "tag show of a FLAC"; }
expect 1 tag remove "$work/text/Second.flac"
cmp -s "$work/text/Second.flac" "$work/before.flac" || fail "tag remove changed a FLAC"
metaflac --list --block-type=PICTURE "$work/text/Second.flac" > "$work/pictures"
! grep -q PICTURE "$work/pictures" || fail "a cover that is no picture was embedded"

# MusicBrainz (a local stand-in of the service): two releases are listed and none taken without
# --release; --release 2 takes the double album's second disc; a rip after it fetches the cover
# behind the archive's redirect and embeds it.
mb_server() {
  rm -f "$work/mb.port"  # a second server's port is not the first's
  CTDB_ANSWER=$work/ctdb.xml /usr/bin/python3 "$(dirname "$0")/mb_server.py" "$1" > "$work/mb.port" &
  mb_pid=$!
  for _ in $(seq 1 100); do [ -s "$work/mb.port" ] && break; sleep 0.05; done
  mb_port=$(head -n 1 "$work/mb.port")
  # The program has written its [MusicBrainz] section by now: the stand-in's address replaces it.
  python3 - "$work/options.ini" "$mb_port" <<'PY'
import sys
path, port = sys.argv[1], sys.argv[2]
lines, section = [], None
for line in open(path, encoding="utf-8").read().splitlines():
    if line.startswith("["):
        section = line
    if section != "[MusicBrainz]":
        lines.append(line)
lines += ["[MusicBrainz]", "Server=http://127.0.0.1:" + port, "CoverArtServer=http://127.0.0.1:" + port]
open(path, "w", encoding="utf-8").write("\n".join(lines) + "\n")
PY
}
"$mkdisc" "$work/disc/mb.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/mb.cue
mb_server two.json
expect 1 lookup --source musicbrainz --json
python3 -c "import json,sys; d=json.load(open(sys.argv[1])); assert [r['title'] for r in d['releases']] == ['Single Album', 'Double Album'], d" "$work/out" \
  || fail "the releases were not listed in the JSON"
grep -q "Choose one with --release N" "$work/err" || { cat "$work/err"; fail "no word on --release"; }
expect 1 lookup --source musicbrainz --release 3
grep -q "There is no release 3" "$work/err" || { cat "$work/err"; fail "--release 3 of 2"; }
for n in 1 2; do
  expect 0 lookup --source musicbrainz --release $n --json
  python3 -c "import json,sys; d=json.load(open(sys.argv[1])); n=int(sys.argv[2]); assert d['musicbrainz_release'] == d['releases'][n - 1]['id'], d" "$work/out" $n \
    || fail "--release $n did not take the release listed as $n"
done
expect 2 lookup --release 2
expect 2 lookup --source discogs
expect 0 rip --lookup --source musicbrainz --release 2 --format flac --output "$work/mb"
grep -q "The cover was fetched into $work/mb/cover.jpg" "$work/err" || { cat "$work/err"; fail "no cover fetched"; }
[ -e "$work/mb/Second 2.flac" ] || { ls "$work/mb"; fail "the titles of the second medium were not used"; }
metaflac --list --block-type=PICTURE "$work/mb/Second 1.flac" > "$work/pictures"
grep -q "type: 3 (Cover (front))" "$work/pictures" || fail "the cover was not embedded"
grep -qx "MusicBrainzRelease=bbbbbbbb-0000-4000-8000-000000000002" "$work/cdinfo.dat" || fail "the release was not kept"
kill $mb_pid

# SIGINT while the second track is encoded: 130, the first MP3 whole, no encoder left.
"$mkdisc" "$work/disc/long.cue" 40 40
export SONVALE_DISC_IMAGES=$work/disc/long.cue
"$cli" rip --format mp3 --output "$work/int" --jobs 1 >"$work/out" 2>"$work/err" </dev/null &
pid=$!
for _ in $(seq 1 600); do grep -q "^Encoding(02/02)" "$work/err" && break; sleep 0.05; done
grep -q "^Encoding(02/02)" "$work/err" || { kill $pid; fail "the second encode never started"; }
kill -INT $pid
status=0; wait $pid || status=$?
[ "$status" -eq 130 ] || { cat "$work/err"; fail "SIGINT gave $status, not 130"; }
! pgrep -f "lame.*$work/int" >/dev/null || fail "an encoder is still running"
[ ! -e "$work/int/Track02.mp3" ] || fail "a partial Track02.mp3 was left"
[ ! -e "$work/int/Track02.wav" ] || fail "the WAV that was only the encoder's input was left"
! compgen -G "$work/int/.sonvale-*" >/dev/null || fail "a file under the job's own name was left"
# A rerun makes what is missing: the track whose MP3 was cut short, and nothing is asked about.
expect 1 rip --format mp3 --output "$work/int" --jobs 1
[ -s "$work/int/Track02.mp3" ] || { cat "$work/err"; fail "the rerun did not make Track02.mp3"; }
lame --decode --quiet "$work/int/Track01.mp3" "$work/first.wav"
secs=$(soxi -D "$work/first.wav")
python3 -c "import sys; s=float(sys.argv[1]); sys.exit(0 if 39.9 < s < 40.2 else 1)" "$secs" || fail "Track01.mp3 holds $secs s"
grep -q "^\[" "$work/cdinfo.dat" || fail "cdinfo.dat was not written after SIGINT"

# SIGINT while two encoders run side by side: 130, no encoder left, and every MP3 that is left
# is one the job finished (the JSON's "done"), whole; the others are gone.
"$cli" rip --format mp3 --output "$work/int2" --jobs 2 --json >"$work/out" 2>"$work/err" </dev/null &
pid=$!
for _ in $(seq 1 600); do grep -q "Encoding 2 tracks: 01, 02" "$work/err" && break; sleep 0.05; done
grep -q "Encoding 2 tracks: 01, 02" "$work/err" || { kill $pid; cat "$work/err"; fail "the two encodes never ran together"; }
kill -INT $pid
status=0; wait $pid || status=$?
[ "$status" -eq 130 ] || { cat "$work/err"; fail "SIGINT gave $status, not 130 (two encoders)"; }
! pgrep -f "lame.*$work/int2" >/dev/null || fail "an encoder is still running (two encoders)"
python3 - "$work/out" <<'PY' || fail "an MP3 left after SIGINT is not a finished one"
import json, os, subprocess, sys
for r in json.load(open(sys.argv[1]))["results"]:
    exists = os.path.exists(r["output"])
    assert exists == (r["result"] == "done"), r
    if exists:
        wav = subprocess.run(["lame", "--decode", "--quiet", r["output"], "-"], capture_output=True).stdout
        assert len(wav) > 40 * 176400, (r, len(wav))
PY
# A secure FLAC rip of a disc with a gap, a pre-emphasised track, ISRCs and a catalogue number:
# the cue sheet beside the log, and `verify` against the log: 0 untouched, 1 after one sample
# changed (naming the track) or a line of the log edited; a missing log, a file that is no log: 1.
"$mkdisc" --gap 2 2 --pre 2 --isrc 1 USABC2600001 --catalog 0123456789012 "$work/disc/arch.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/arch.cue
printf '[SecureOptions]\nAccurateRip=0\n[CTDB]\nUse=0\n' > "$work/options.ini"
expect 0 rip --secure --format flac --output "$work/arch"
log=$(ls "$work/arch"/*.log)
grep -q "^    INDEX 00 00:03:00$" "$work/arch"/*.cue || { cat "$work/arch"/*.cue; fail "no pregap in the cue sheet"; }
grep -q "^CATALOG 0123456789012$" "$work/arch"/*.cue || fail "no catalogue number in the cue sheet"
expect 0 verify "$log"
grep -q "^Track 02: matches" "$work/out" || { cat "$work/out"; fail "verify did not check track 2"; }
# CTDB's CRCs computed here from the image (zlib over the audio from track 1 without its first 10
# sectors and its last 10 + sectors mod 10, cut at the log's track starts) and served by the
# stand-in: verify --ctdb finds every track and the disc in it.
python3 - "$log" "$work/disc/arch.bin" "$work/ctdb.xml" <<'PY'
import re, sys, zlib
log, image, out = sys.argv[1:]
rows = [tuple(map(int, m.groups())) for m in re.finditer(r"^ +\d+ +\S+ +\S+ +(\d+) +(\d+)$", open(log).read(), re.M)]
disc = open(image, "rb").read()
first, end = rows[0][0], rows[-1][1] + 1
sectors = end - first
run_from, run_to = (first + 10) * 2352, (end - 10 - sectors % 10) * 2352
crcs = ["%08x" % zlib.crc32(disc[max(s * 2352, run_from):min((e + 1) * 2352, run_to)]) for s, e in rows]
open(out, "w").write('<ctdb><entry confidence="2" crc32="%08x" trackcrcs="%s" id="9"/></ctdb>'
                     % (zlib.crc32(disc[run_from:run_to]), " ".join(crcs)))
PY
mb_server two.json
printf '[SecureOptions]\nAccurateRip=0\n[CTDB]\nServer=http://127.0.0.1:%s\n' "$mb_port" > "$work/options.ini"
expect 0 verify --ctdb "$log"
grep -q "^Track 02: matches (CRC32 [0-9A-F]*); CTDB: accurately ripped (confidence 2)$" "$work/out" &&
  grep -q "^CTDB: 3 of 3 tracks accurate; disc CRC matches (confidence 2)$" "$work/out" || { cat "$work/out"; fail "verify --ctdb"; }
flac -d -s -f -o "$work/two.wav" "$work/arch/Track02.flac"
python3 -c "import sys; b=bytearray(open(sys.argv[1],'rb').read()); b[5000]^=1; open(sys.argv[1],'wb').write(b)" "$work/two.wav"
flac -s -f -o "$work/arch/Track02.flac" "$work/two.wav"
expect 1 verify --json "$log"
python3 -c "import json,sys; d=json.load(open(sys.argv[1])); assert [t['ok'] for t in d['tracks']] == [True, False, True] and d['intact'], d" "$work/out" \
  || fail "verify did not name track 2 alone"
expect 1 verify --ctdb "$log"
grep -q "^Track 02: differs: .*; CTDB: differs$" "$work/out" && grep -q "^CTDB: 2 of 3 tracks accurate; disc CRC differs$" "$work/out" ||
  { cat "$work/out"; fail "verify --ctdb missed the changed sample"; }
kill $mb_pid
sed -i 's/^Damaged tracks: kept/Damaged tracks: none/' "$log"
expect 1 verify "$log"
grep -q "^Log: its checksum does not match" "$work/out" || { cat "$work/out"; fail "an edited log passed"; }
expect 1 verify "$work/arch/missing.log"
expect 1 verify "$work/options.ini"
grep -q "it is not the log of a Sonvale rip" "$work/err" || { cat "$work/err"; fail "a file that is no log"; }
expect 2 verify
# Several formats from one read, each in its own folder; WAV in a list, and an image of two
# formats, are usage errors.
expect 0 rip --format flac,opus --tracks 1 --output "$work/both"
[ -f "$work/both/flac/Track01.flac" ] && [ -f "$work/both/opus/Track01.opus" ] || { find "$work/both"; fail "rip --format flac,opus"; }
expect 2 rip --format wav,flac --output "$work/both"
expect 2 rip --image --format flac,opus --output "$work/both"
# The whole disc as one FLAC: its cue sheet's indexes are the disc's, metaflac exports the same
# sheet from the file, verify passes; a lossy image and an image of some tracks are refused.
"$mkdisc" --hidden 1 --gap 2 1 "$work/disc/whole.cue" 3 4
export SONVALE_DISC_IMAGES=$work/disc/whole.cue
printf '[SecureOptions]\nAccurateRip=0\n[CTDB]\nUse=0\n' > "$work/options.ini"
expect 2 rip --image --format opus --output "$work/whole"
grep -q "a disc image is written as WAV or FLAC, not opus" "$work/err" || { cat "$work/err"; fail "a lossy image"; }
expect 2 rip --image --tracks 1 --output "$work/whole"
expect 0 rip --image --format flac --output "$work/whole"
image=$(ls "$work/whole"/*.flac)
[ "$(ls "$work/whole" | wc -l)" -eq 3 ] || { ls -a "$work/whole"; fail "an image rip makes its file, its cue sheet and its log"; }
indexes() { grep -E "^ *(TRACK|INDEX)" "$1" | sed 's/^ *//'; }
cmp <(indexes "$work/whole"/*.cue) <(indexes "$work/disc/whole.cue") || { cat "$work/whole"/*.cue; fail "the image's indexes"; }
metaflac --export-cuesheet-to="$work/exported.cue" "$image"
cmp <(indexes "$work/exported.cue") <(indexes "$work/disc/whole.cue") || { cat "$work/exported.cue"; fail "the embedded sheet"; }
expect 0 verify "$work/whole"/*.log
grep -q "^Track 00: matches" "$work/out" && grep -q "^Track 02: matches" "$work/out" || { cat "$work/out"; fail "verify of an image"; }
rm "$work/options.ini"

echo "e2e cli: ok"
