#pragma once
// The cue sheet of a secure rip: the disc as it was ripped, one file per track, from which the
// disc can be burnt again with its gaps. Each track's file holds the track as the table of
// contents has it, so the pregap (INDEX 00) of the next track lies at the end of the previous
// track's file; the cue sheet says where in it:
//
//   REM COMMENT "Sonvale 2.1"
//   REM DISCID 9F0AE10B
//   CATALOG 0123456789012
//   PERFORMER "The Band"
//   TITLE "The Album"
//   FILE "01 Intro.flac" WAVE
//     TRACK 01 AUDIO
//       TITLE "Intro"
//       PERFORMER "The Band"
//       ISRC USABC2600001
//       INDEX 01 00:00:00
//     TRACK 02 AUDIO
//       TITLE "Song"
//       PERFORMER "The Band"
//       FLAGS PRE
//       INDEX 00 03:02:40        <- 2 s before the end of "01 Intro.flac"
//   FILE "02 Song.flac" WAVE
//       INDEX 01 00:00:00
//
// A first track that starts after the disc's first sector has audio hidden before it: its INDEX 00
// stands at the start of that audio's own file ("00 Hidden track.flac") when it was ripped, else
// the track gets a PREGAP of that length (silence when the disc is burnt).
//
// A whole-disc image is one file from sector 0 to the lead-out: the sheet names it once, and each
// index stands at its sector on the disc (the audio before the first track is that track's
// INDEX 00 at 00:00:00).

#include "ACS_Flac.h"
#include "RipLog.h"

#include <string>

// The cue sheet of log's tracks, which must be the disc's audio tracks in order (each with its
// file, from the folder the cue sheet is written to); times are minutes:seconds:frames (1/75 s).
std::string CueSheetText(const TRipLog& log);
// The cue sheet of an image rip's log as a FLAC file keeps it (the same indexes as CueSheetText).
TFlacCueSheet FlacCueSheetOf(const TRipLog& log);
// "<artist> - <album>.cue", or "<disc key>.cue": the log's name with ".cue".
std::string CueSheetFileName(const std::string& logFileName);
