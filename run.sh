#!/usr/bin/env bash
# Builds Sonvale (Release) and starts it. When no drive holds an audio disc, Sonvale is shown a
# drive whose tray is a folder, build/release/tray/, holding the bundled sample disc (a CUE/BIN
# image made by tools/mkdisc).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF >/dev/null
cmake --build build/release --target sonvale sonvale-cli sample_disc WM8EUTIL

audio_disc_in_a_drive() {
  local dev
  for dev in /dev/sr* /dev/cdrom; do
    [ -b "$dev" ] || continue
    # cd-info lists an audio track's format as "audio".
    if cd-info --no-header --no-device-info --no-cddb --no-vcd --no-ioctl -C "$dev" 2>/dev/null \
        | grep -qE '^ *[0-9]+: [0-9:]+ +[0-9]+ +audio'; then
      return 0
    fi
  done
  return 1
}

if [ -z "${SONVALE_DISC_IMAGES:-}" ] && ! audio_disc_in_a_drive; then
  # A drive whose tray is a folder: the sample disc is put in when the tray is empty; any .cue
  # image copied in waits behind it, and eject moves the disc into tray/ejected/.
  tray="$PWD/build/release/tray/"
  mkdir -p "$tray"
  if ! ls "$tray"*.cue "$tray"*.toc >/dev/null 2>&1; then
    cp build/release/sample-disc/sample.cue build/release/sample-disc/sample.bin "$tray"
  fi
  export SONVALE_DISC_IMAGES="$tray"
  echo "No audio disc in a drive: showing the tray folder $tray (the sample disc; copy other .cue images in)"
fi
# A menu entry and an icon for the user (freedesktop locations), pointing at this build. It has
# the installed package's name, so the menu shows one Sonvale: this build's, while its entry is there.
data=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$data/applications" "$data/icons/hicolor/128x128/apps"
sed "s|@SONVALE@|$PWD/run.sh|" docs/sonvale.desktop > "$data/applications/org.sonvale.Sonvale.desktop"
rm -f "$data/applications/sonvale.desktop"  # the name earlier versions of this script used
QT_QPA_PLATFORM=offscreen build/release/sonvale --write-icon "$data/icons/hicolor/128x128/apps/sonvale.png" || true
exec build/release/sonvale "$@"
