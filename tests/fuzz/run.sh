#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and AddressSanitizer and runs each in turn.
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]     (default 600 seconds each; wav profile id3 cddb accuraterip
#                                                musicbrainz riplog driveoffsets ctdb)
#
# wav: the WAV header walk and the ADPCM decoders, from small WAV files of every kind made with
# sox. profile: the profile-file reader and writer (options.ini, cdinfo.dat), from the program's
# own files. id3: the ID3v1 reader and writer, from tags id3v2 writes. cddb: the CDDB reply and
# entry parsers, from replies in the protocol's form. accuraterip: the database entry and the verdicts,
# from an entry of two pressings. musicbrainz: the service's JSON answer read into releases and
# fields, from the answers the tests serve. riplog: the rip log reader of `sonvale-cli verify`, from a
# log of a three-track rip. driveoffsets: the AccurateRip drive list, from three records and one cut
# short. ctdb: the CUETools database's XML answer, from an answer of two entries. Findings land
# in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(wav profile id3 cddb accuraterip musicbrainz riplog driveoffsets ctdb)
./scripts/install-deps.sh
command -v clang++ >/dev/null || { echo "clang++ is needed (apt-get install clang)"; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_FUZZ=ON \
  -DSONVALE_TESTS=OFF >/dev/null
cmake --build build/fuzz --target $(printf '%s_fuzz ' "${targets[@]}")
mkdir -p build/fuzz/findings

seed() {
  local corpus=build/fuzz/corpus/$1
  mkdir -p "$corpus"
  case $1 in
    wav)
      for format in "-c 1 -b 16" "-c 2 -b 8" "-c 1 -e ima-adpcm" "-c 2 -e ima-adpcm" "-c 1 -e ms-adpcm" "-c 2 -e ms-adpcm"; do
        name=$(echo "$format" | tr -d ' -')
        sox -n -r 8000 $format "$corpus/$name.wav" synth 0.05 sine 440 2>/dev/null
      done ;;
    profile)
      printf '[Options]\nOutputFolder=/music\nOutputFormat=0\nIsKeepWav=0\nNormalizePercent=0x5F\n' > "$corpus/options.ini"
      printf '[57600]\r\nArtist="  Band  "\r\nGenre=-1\r\nTrackNumber=2\r\n1=One\r\n2=Two\r\n' > "$corpus/cdinfo.dat"
      printf '\xEF\xBB\xBF; comment\n[ A ]\nk = v\n[a]\nK=w\n' > "$corpus/odd.ini" ;;
    id3)
      head -c 300 /dev/zero > "$corpus/v1.mp3"
      id3v2 -1 -t Title -a Artist -A Album -y 2004 -c Comment -T 7 -g 17 "$corpus/v1.mp3" >/dev/null
      head -c 200 /dev/zero > "$corpus/v10.mp3"
      id3v2 -1 -t "$(printf 'A long title of thirty chars!!')" -c "$(printf 'A comment of thirty characters')" \
        "$corpus/v10.mp3" >/dev/null ;;
    cddb)
      printf '200 rock 17012203 The Band / The Album\r\n' > "$corpus/exact.txt"
      printf '211 close\r\nrock 1 A / B\r\nmisc 2 AC/DC / C\r\n.\r\n' > "$corpus/close.txt"
      printf '210 rock 1 entry\r\n# xmcd\r\nDTITLE=AC/DC / Back\r\nDTITLE= in Black\r\nDYEAR=1980\r\nDGENRE=Rock\r\nTTITLE0=One\r\nTTITLE1=Two\r\nTTITLE1= more\r\nEXTD=x\r\n.\r\n' \
        > "$corpus/entry.txt" ;;
    accuraterip)
      # Two pressings of a 2-track disc: a head (tracks, id1, id2, CDDB ID) and 9 bytes a track.
      printf '\x02\x72\x06\0\0\xfa\x15\0\0\x03\x0c\0\x10\x05\x11\x22\x33\x44\0\0\0\0\x07\x55\x66\x77\x88\0\0\0\0' > "$corpus/one.bin"
      cat "$corpus/one.bin" "$corpus/one.bin" > "$corpus/two.bin" ;;
    musicbrainz)
      for f in tests/data/musicbrainz/*.json; do sed 's/@DISCID@/disc-id-/g' "$f" > "$corpus/$(basename "$f")"; done ;;
    riplog)
      cp tests/data/rip.log "$corpus/rip.log" ;;
    driveoffsets)
      # 69-byte records: offset (16-bit little-endian), "VENDOR - MODEL" NUL-padded to 32 bytes,
      # one unused byte, the submissions, 33 unused bytes.
      python3 -c "
import struct, sys
def rec(o, n, s): return struct.pack('<h', o) + n.encode().ljust(32, b'\\0') + bytes([0, s]) + bytes(33)
sys.stdout.buffer.write(rec(667, 'PLEXTOR - PX-716A', 200) + rec(-1164, '- CDRW4012', 3) + rec(6, 'A - B', 9) + rec(6, 'C - D', 1)[:40])
" > "$corpus/list.bin" ;;
    ctdb)
      cat > "$corpus/two.xml" <<'XML'
<?xml version="1.0"?><ctdb><entry confidence="12" crc32="a1b2c3d4" hasparity="p" id="7" npar="8" stride="5880" trackcrcs="0a0b0c0d ffffffff"/><entry confidence="1" crc32="1" trackcrcs="1 2"/></ctdb>
XML
      ;;
  esac
}

for target in "${targets[@]}"; do
  seed "$target"
  echo "== $target: $seconds s"
  build/fuzz/${target}_fuzz "build/fuzz/corpus/$target" -max_total_time="$seconds" \
    -artifact_prefix=build/fuzz/findings/ -print_final_stats=1
done
