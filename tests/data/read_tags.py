#!/usr/bin/env python3
"""Prints what another reader (mutagen) finds in a file's tags, one field a line:
title, artist, album, date, genre, track number, track total, ISRC, the SHA-256 of the front
cover (or "-"), the ID3v2 version ("-" for Vorbis comments), the ReplayGain fields, then the number of pictures."""
import base64
import hashlib
import sys

import mutagen
from mutagen.flac import Picture

f = mutagen.File(sys.argv[1])
if f is None or f.tags is None:
    print("no tags")
    sys.exit(1)


def first(key, id3=None):
    if id3 is not None:
        frame = f.tags.get(id3)
        return str(frame.text[0]) if frame else ""
    values = f.tags.get(key) or []
    return values[0] if values else ""


def txxx(name):
    frame = f.tags.get("TXXX:" + name)
    return str(frame.text[0]) if frame else ""


cover = None
if hasattr(f.tags, "getall"):
    pictures = len(f.tags.getall("APIC"))
elif getattr(f, "pictures", None) is not None:
    pictures = len(f.pictures)
else:
    pictures = len(f.tags.get("metadata_block_picture") or [])
if hasattr(f.tags, "getall") and f.tags.getall("APIC"):
    cover = f.tags.getall("APIC")[0].data
elif getattr(f, "pictures", None):
    cover = f.pictures[0].data
elif "metadata_block_picture" in f.tags:
    cover = Picture(base64.b64decode(f.tags["metadata_block_picture"][0])).data

if hasattr(f.tags, "version"):  # ID3v2
    track = first(None, "TRCK")
    number, _, total = track.partition("/")
    fields = [first(None, "TIT2"), first(None, "TPE1"), first(None, "TALB"), first(None, "TDRC"),
              first(None, "TCON"), number, total, first(None, "TSRC")]
    version = "2.%d" % f.tags.version[1]
    gains = [txxx("REPLAYGAIN_TRACK_GAIN"), txxx("REPLAYGAIN_TRACK_PEAK"), txxx("REPLAYGAIN_ALBUM_GAIN"),
             txxx("REPLAYGAIN_ALBUM_PEAK")]
else:
    fields = [first(k) for k in ("title", "artist", "album", "date", "genre", "tracknumber", "tracktotal", "isrc")]
    version = "-"
    gains = [first(k) for k in ("replaygain_track_gain", "replaygain_track_peak", "replaygain_album_gain",
                                "replaygain_album_peak")]
for line in fields + [hashlib.sha256(cover).hexdigest() if cover else "-", version] + gains + [str(pictures)]:
    print(line)
