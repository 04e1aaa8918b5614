#!/usr/bin/env bash
# Installs what Sonvale needs to build, run and test on Debian 12. Safe to run again: it only
# calls apt-get when a package is missing, and prints nothing when everything is there.
# "install-deps.sh --packaging" also installs what building and checking the Debian package takes.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config
  # windows, event loop, dialogs; sound in and out
  qt6-base-dev qt6-qpa-plugins qt6-multimedia-dev libgl-dev
  # Ogg Vorbis, MPEG Layer-3 inside WAV, drives and disc images, secure reads, CDDB and
  # AccurateRip over HTTP, media change
  libogg-dev libvorbis-dev libmpg123-dev libcdio-dev libcdio-paranoia-dev libcurl4-openssl-dev libudev-dev
  # FLAC and Opus output, tags of every format (ID3v2, Vorbis comments, pictures), ReplayGain
  libflac-dev libopusenc-dev libopus-dev libtag1-dev libebur128-dev
  # the MusicBrainz disc ID
  libdiscid-dev
  # the WMA encoder program
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  # MP3 encoding and decoding (run as a child process)
  lame
  # opening folders, web pages and the manual
  xdg-utils
  # a font with the full-width forms some captions use ("Format：")
  fonts-wqy-microhei
  # tests, benchmarks and the peers they compare with
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool imagemagick sox ffmpeg vorbis-tools
  id3v2 libcdio-utils fonts-dejavu-core flac opus-tools python3-mutagen
)
if [ "${1:-}" = "--packaging" ]; then
  # CPack's dependency search (dpkg-shlibdeps, file), and the package's checkers
  packages+=(dpkg-dev file fakeroot lintian desktop-file-utils appstream man-db)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
