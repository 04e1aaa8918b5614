#pragma once
// The reports every stage of a job hands to the job window, and the messages that carry them.

#include "Messages.h"

#include <cstdint>
#include <string>

// lParam 1: the drive refused the address mode; 2: the table of contents cannot be read.
constexpr UINT WM_EXTRACTERROR = WM_USER + 0x65;
// The payload is a TProcessInfo.
constexpr UINT WM_PROCESSINFO = WM_USER + 0x66;
// An audio output's run ended with an error; the payload is a TOutputError.
constexpr UINT WM_OUTPUTERROR = WM_USER + 0x67;

// Control codes of TProcessInfo::Code; 0..100 are progress in percent.
enum : int32_t {
    piNormalizing = 999,      // the extraction thread begins normalising the track
    piExtracted = 1000,       // extraction ended (Status: 0 done, 3 read failed, 5 cannot create, 6 normalising failed)
    piMp3Ended = 2000,
    piOggEnded = 3000,
    piResampled = 4000,
    piWmaEnded = 5000,
};

// Status of piExtracted.
enum : int32_t {
    esDone = 0,
    esReadFailed = 3,
    esCannotCreate = 5,
    esNormalizeFailed = 6,    // the track is extracted but could not be normalised; the WAV is as read
    esDataTrack = 7,          // a data track: nothing to extract, no file made
};

// How an encoder's run ended: the Status of its end report (piMp3Ended, piWmaEnded).
enum TEncodeEnd : int32_t {
    eeDeclined = 0,   // the user kept the existing output, or there is no encoder to run
    eeInUse = 1,      // the output is in use: nothing was run
    eeEnded = 2,      // the encoder ended by itself with exit code 0
    eeFailed = 3,     // it ended with another code or by a signal (how, in ElapsedText)
    eeSkipped = 4,    // the job skipped the item's stage (a failed extraction, a file kept)
    eeErrorLine = 8,  // it printed an error line (the line, in ElapsedText); the run was ended
};

class TOutputError : public TMessagePayload {
public:
    const void* Output = nullptr;  // which output (compared, never used to reach it)
    std::string Text;              // the error's message
};

class TProcessInfo : public TMessagePayload {
public:
    int32_t Code = 0;
    std::string ElapsedText;     // MM:SS since the stage began; empty while Code is 0
    std::string EstimatedText;   // MM:SS, the stage's estimated total
    int32_t Status = 0;
};
