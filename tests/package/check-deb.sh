#!/usr/bin/env bash
# Builds the Debian package and tries the programs it holds as installed: unpacked into a
# temporary root, run with a fresh home. Fails on the first thing that is not as a user expects.
set -euo pipefail
cd "$(dirname "$0")/../.."
deb=$(./scripts/make-deb.sh | tail -n 1)
sample=$PWD/build/deb/sample-disc/sample.cue

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME
mkdir -p "$HOME"
export PATH=$root/usr/bin:$PATH
export SONVALE_DISC_IMAGES=$sample
fail() { echo "check-deb: $*" >&2; exit 1; }
before=$(cd "$root" && find usr/bin usr/libexec | sort)

# A settings file an earlier version kept in the data folder.
mkdir -p "$HOME/.local/share/sonvale"
printf '[WMAOptions]\nBitRate=3\n' > "$HOME/.local/share/sonvale/options.ini"

[ "$(sonvale-cli --version)" = "sonvale-cli 2.1" ] || fail "sonvale-cli --version: $(sonvale-cli --version)"
tracks=$(sonvale-cli tracks)
grep -q "Morning Light" <<<"$tracks" || fail "sonvale-cli tracks does not list the sample disc: $tracks"
[ -f "$HOME/.config/sonvale/options.ini" ] || fail "the settings were not moved to ~/.config/sonvale"
[ ! -e "$HOME/.local/share/sonvale/options.ini" ] || fail "the old settings file was left behind"
grep -q '^BitRate=3' "$HOME/.config/sonvale/options.ini" || fail "the moved settings lost what they held"

# WMA needs the encoder from libexec/sonvale. A new account has no music folder: the first rip
# makes ~/Music/Sonvale and puts the files there, and the next rip writes there too.
sonvale-cli rip --tracks 1 --format wma --jobs 1 2>"$work/rip.err" || fail "rip to WMA: $(cat "$work/rip.err")"
wma=("$HOME"/Music/Sonvale/*.wma)
[ -f "${wma[0]}" ] || fail "no WMA file in ~/Music/Sonvale: $(cat "$work/rip.err")"
sonvale-cli rip --tracks 1 --format wav --jobs 1 2>"$work/rip.err" || fail "rip to WAV: $(cat "$work/rip.err")"
wav=("$HOME"/Music/Sonvale/*.wav)
[ -f "${wav[0]}" ] || fail "the second rip did not write into ~/Music/Sonvale: $(cat "$work/rip.err")"
format=$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "${wma[0]}")
[ "$format" = asf ] || fail "the WMA file is not ASF: $format"

# The window starts, paints and quits (offscreen: no display here). Outputs go to files, not to
# "grep -q", whose early exit could end the writer with SIGPIPE and fail the pipe.
QT_QPA_PLATFORM=offscreen SONVALE_REPORT_FIRST_PAINT=1 SONVALE_AUDIO=null timeout 60 sonvale \
  >"$work/window.out" 2>"$work/window.err" || fail "sonvale failed: $(cat "$work/window.err")"
grep -q paint_ns "$work/window.out" || fail "sonvale did not paint its window: $(cat "$work/window.err")"
[ -f "$HOME/.local/share/sonvale/cdinfo.dat" ] || fail "no cdinfo.dat in ~/.local/share/sonvale"

# Nothing was written beside the executables.
after=$(cd "$root" && find usr/bin usr/libexec | sort)
[ "$before" = "$after" ] || fail "files appeared beside the programs: $(diff <(echo "$before") <(echo "$after") || true)"
MANWIDTH=200 man -l "$root/usr/share/man/man1/sonvale-cli.1.gz" >"$work/man.txt" 2>&1 || true
grep -q "sonvale-cli - rip audio CDs" "$work/man.txt" || fail "man sonvale-cli does not show the page: $(head -3 "$work/man.txt")"
echo "check-deb: $deb installs and runs"
