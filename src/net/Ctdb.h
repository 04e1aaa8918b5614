#pragma once
// The CUETools database (CTDB): a disc's TOC ID and the table of contents its lookup takes.
//
// The TOC ID is the SHA-1 of the audio tracks' starts after the first and the audio's lead-out
// (on an Enhanced CD 11400 sectors before the data track), each as 8 upper-case hex digits of
// its sector counted from track 1's start, then "00000000" for each of the 99 - (audio tracks -
// 1) places left, in base64 with MusicBrainz's alphabet ("." "_" "-" for "+" "/" "="). Example:
// tracks at 0, 11413, 25024, 45713 and the lead-out at 55220 give "VukMWWItblELRM.CEFpXxw0FlME-".

#include "akrip32.h"

#include <string>

// The TOC ID of a usable table read in MSF mode; "" for a table without audio.
std::string CtdbTocId(const TTOC& toc);

// The lookup's toc parameter: each track's start (a data track's after "-"), then the lead-out,
// in sectors from 00:02:00, joined by ":" ("0:11413:25024:45713:55220").
std::string CtdbTocParameter(const TTOC& toc);
