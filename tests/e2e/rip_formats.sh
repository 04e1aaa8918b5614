#!/usr/bin/env bash
# Rips a disc image with the real program in an X server of its own, as a user would: the disc
# listed, Ctrl+A, Ctrl+X, nothing else. Once for each output format set in options.ini, then the
# files are checked with the peers: id3v2 reads the MP3 tags, oggdec decodes each Ogg file to the
# track's length, ffprobe reads the WMA files, the WAV files hold the image's bytes, the FLAC
# files pass `flac -t` and decode to the image's bytes, the Opus files play for the track's
# length within 20 ms (opusinfo). The job
# window must close by itself. "secure" is WAV in secure mode with a read offset of 6 samples and
# no AccurateRip database to reach: each WAV holds the image's bytes 24 later (silence after the
# disc's end), and the log beside them verifies with sha256sum. SONVALE_SCREENSHOT=file.png keeps
# a picture of the job window.
#
#   rip_formats.sh SONVALE MKDISC WM8EUTIL [FORMAT...]
#                  (0 MP3, 1 WAV, 2 OGG, 3 WMA, 4 FLAC, 5 Opus, secure)
set -euo pipefail

exe=$1
mkdisc=$2
wm8eutil=$3
shift 3
formats=("$@")
[ ${#formats[@]} -eq 0 ] && formats=(0 1 2 3 4 5 secure)
work=$(mktemp -d)
export E2E_LIB=$(cd "$(dirname "$0")" && pwd)/lib.sh
trap 'rm -rf "$work"' EXIT
mkdir "$work/disc"
# Three tracks of 3, 4 and 5 seconds: 225, 300 and 375 sectors, starting at sectors 0, 225, 525.
"$mkdisc" "$work/disc/rip.cue" 3 4 5
export SONVALE_DISC_IMAGES=$work/disc/rip.cue
bin=$work/disc/rip.bin

extension_of() {
  case $1 in 0) echo mp3;; 1|secure) echo wav;; 2) echo ogg;; 3) echo wma;; 4) echo flac;; 5) echo opus;; esac
}

# One round: the program started, the disc ripped with Ctrl+A and Ctrl+X, the program closed.
# The job's end is read from its files, not from its window, which a short job may open and close
# before anyone looks: the encoded formats remove the first track's WAV when the whole job is
# over; WAV output has the last track whole; a secure rip ends with its log.
rip_round() {
  local format=$1 run=$2
  local done_when
  case $format in
    0|2|3|4|5) done_when="[ -e \"\$RUN/Output/Gamma.$(extension_of "$format")\" ] && [ ! -e \"\$RUN/Output/Alpha.wav\" ]" ;;
    1) done_when="[ \"\$(stat -c %s \"\$RUN/Output/Gamma.wav\" 2>/dev/null || echo 0)\" -eq $((44 + 375 * 2352)) ]" ;;
    secure) done_when="[ -e \"\$RUN/Output/E2E Band - E2E Album.log\" ]" ;;
  esac
  export RUN=$run FORMAT=$format DONE_WHEN=$done_when
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -eu -c '
    . "$E2E_LIB"
    "$RUN/sonvale" >"$RUN/out.log" 2>&1 &
    pid=$!
    wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Sonvale 2\.1$" 2>/dev/null | head -n 1) || true
    [ -n "$wid" ] || { echo "no main window within 60 s"; cat "$RUN/out.log"; kill $pid; exit 1; }
    xdotool windowfocus --sync "$wid"
    xdotool key ctrl+a
    xdotool key ctrl+x
    shot=${SONVALE_SCREENSHOT:-}
    for i in $(seq 1 1200); do
      if [ -n "$shot" ] && xdotool search --onlyvisible --name "^(Extracting|Normalizing|Encoding)\(" >/dev/null 2>&1; then
        import -window root "${shot%.png}-$FORMAT.png" || true
        shot=
      fi
      eval "$DONE_WHEN" && break
      kill -0 $pid 2>/dev/null || { echo "the program ended during the rip"; cat "$RUN/out.log"; exit 1; }
      sleep 0.1
    done
    eval "$DONE_WHEN" || { echo "the rip did not end within 120 s:"; ls -l "$RUN/Output"; kill $pid; exit 1; }
    # The job window closes by itself after the last track.
    for i in $(seq 1 100); do
      xdotool search --onlyvisible --name "^(Extracting|Normalizing|Encoding|Checking)" >/dev/null 2>&1 || break
      sleep 0.1
    done
    if xdotool search --onlyvisible --name "^(Extracting|Normalizing|Encoding|Checking)" >/dev/null 2>&1; then
      echo "the job window is still open"; kill $pid; exit 1
    fi
    exit_through_file_menu "$wid" $pid "$RUN/out.log"
  '
}

# Every round runs and says what failed; the script fails when any did.
check_round() {
  local format=$1 run=$2
  local out=$run/Output
  starts=(0 225 525)
  lengths=(225 300 375)
  titles=(Alpha Beta Gamma)
  for t in 0 1 2; do
    title=${titles[$t]}
    frames=$((lengths[t] * 588))
    case $format in
      0)
        [ ! -e "$out/$title.wav" ] || { echo "$title.wav was not removed"; return 1; }
        tags=$(id3v2 -l "$out/$title.mp3")
        for want in "Title  : $title" "Artist: E2E Band" "Album  : E2E Album" "Track: $((t + 1))"; do
          grep -qF "$want" <<<"$tags" || { echo "$title.mp3 lacks \"$want\":"; echo "$tags"; return 1; }
        done ;;
      1)
        cmp <(tail -c +45 "$out/$title.wav") \
            <(dd if="$bin" bs=2352 skip="${starts[t]}" count="${lengths[t]}" status=none) \
          || { echo "$title.wav differs from the image"; return 1; } ;;
      2)
        [ ! -e "$out/$title.wav" ] || { echo "$title.wav was not removed"; return 1; }
        oggdec -Q -o "$run/$title.decoded.wav" "$out/$title.ogg"
        got=$(soxi -s "$run/$title.decoded.wav")
        [ "$got" -eq "$frames" ] || { echo "$title.ogg decodes to $got frames, not $frames"; return 1; } ;;
      secure)
        size=$((lengths[t] * 2352))
        cmp <(tail -c +45 "$out/$title.wav") \
            <(cat <(tail -c +$((starts[t] * 2352 + 24 + 1)) "$bin" | head -c "$size") <(head -c 24 /dev/zero) | head -c "$size") \
          || { echo "$title.wav is not the image's bytes 6 samples later"; return 1; } ;;
      3)
        [ ! -e "$out/$title.wav" ] || { echo "$title.wav was not removed"; return 1; }
        codec=$(ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 "$out/$title.wma")
        [ "$codec" = wmav2 ] || { echo "$title.wma: $codec"; return 1; } ;;
      4)
        [ ! -e "$out/$title.wav" ] || { echo "$title.wav was not removed"; return 1; }
        flac -s -t "$out/$title.flac" || { echo "$title.flac fails flac -t"; return 1; }
        cmp <(flac -s -d -c --force-raw-format --endian=little --sign=signed "$out/$title.flac") \
            <(dd if="$bin" bs=2352 skip="${starts[t]}" count="${lengths[t]}" status=none) \
          || { echo "$title.flac does not decode to the image's bytes"; return 1; } ;;
      5)
        [ ! -e "$out/$title.wav" ] || { echo "$title.wav was not removed"; return 1; }
        length=$(opusinfo "$out/$title.opus" | sed -n 's/.*Playback length: \([0-9]*\)m:\([0-9.]*\)s.*/\1 \2/p')
        awk -v l="$length" -v want="$((lengths[t] / 75))" 'BEGIN { split(l, p, " "); d = p[1] * 60 + p[2] - want;
                                                                  exit !(d <= 0.020 && d >= -0.020) }' \
          || { echo "$title.opus plays $length, not $((lengths[t] / 75)) s"; return 1; } ;;
    esac
  done
  if [ "$format" = secure ]; then
    log="$out/E2E Band - E2E Album.log"
    [ "$(tail -n 1 "$log")" = "Log checksum: $(head -n -1 "$log" | sha256sum | cut -c1-64)" ] \
      || { echo "the log does not verify:"; cat "$log"; return 1; }
    for want in "Read offset: +6 (set by hand)" "AccurateRip: not checked (no connection" \
                "Summary: 3 tracks, 0 accurately ripped, 0 with unreadable sectors, 0 failed"; do
      grep -qF "$want" "$log" || { echo "the log lacks \"$want\":"; cat "$log"; return 1; }
    done
  fi
}

failed=()
for format in "${formats[@]}"; do
  run=$work/run$format
  mkdir -p "$run/Output"
  # The program keeps its files in its own folder, and looks for WM8EUTIL there.
  cp "$exe" "$run/sonvale"
  cp "$wm8eutil" "$run/WM8EUTIL"
  printf '[CommonOptions]\nOutputFolder=%s\nOutputFormat=%s\n[ID3]\nUse=1\n' "$run/Output" "${format/secure/1}" > "$run/options.ini"
  if [ "$format" = secure ]; then
    printf '[SecureOptions]\nSecureMode=1\nReadOffset=6\nAccurateRipServer=http://127.0.0.1:1\n[CTDB]\nServer=http://127.0.0.1:1\n' >> "$run/options.ini"
  fi
  # The disc's key: the starts 00:02:00, 00:05:00 and 00:09:00 as 0x00MMSSFF, added: 4096.
  printf '[4096]\nArtist=E2E Band\nAlbum=E2E Album\nYear=2026\nGenre=118\nTrackNumber=3\n1=Alpha\n2=Beta\n3=Gamma\n' \
    > "$run/cdinfo.dat"
  if rip_round "$format" "$run" && (set -e; check_round "$format" "$run"); then
    echo "e2e rip, format $format: ok"
  else
    echo "e2e rip, format $format: FAILED"
    failed+=("$format")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "e2e rip: failed formats: ${failed[*]}"; exit 1; }
