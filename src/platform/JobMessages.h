#pragma once
// The reports every stage of a job hands to the job window, and the messages that carry them.

#include "Messages.h"

#include <cstdint>
#include <string>

// lParam 1: the drive refused the address mode; 2: the table of contents cannot be read.
constexpr UINT WM_EXTRACTERROR = WM_USER + 0x65;
// The payload is a TProcessInfo.
constexpr UINT WM_PROCESSINFO = WM_USER + 0x66;
// An encoder's run ended (however it ended); the payload is a TEncoderEnded.
constexpr UINT WM_ENCODEREND = WM_USER + 0x67;

// Control codes of TProcessInfo::Code; 0..100 are progress in percent.
enum : int32_t {
    piWaitingForDatabase = 998,  // the extraction thread waits for AccurateRip's answer (burst-first)
    piNormalizing = 999,      // the extraction thread begins normalising the track
    piExtracted = 1000,       // extraction ended (Status: 0 done, 3 read failed, 5 cannot create, 6 normalising failed)
    piMp3Ended = 2000,        // the end of a lame run, to the encoder that runs it (Status: a TEncodeEnd)
    piWmaEnded = 5000,        // the end of a WM8EUTIL run, likewise
};

// Status of piExtracted.
enum : int32_t {
    esDone = 0,
    esReadFailed = 3,
    esCannotCreate = 5,
    esNormalizeFailed = 6,    // the track is extracted but could not be normalised; the WAV is as read
    esDataTrack = 7,          // a data track: nothing to extract, no file made
    esNotRead = 8,            // never read: the file at its path was kept (a rip's record only)
};

// How an encoder program's run ended: the Status of its end report (piMp3Ended, piWmaEnded).
enum TEncodeEnd : int32_t {
    eeDeclined = 0,   // the user kept the existing output, or there is no encoder to run
    eeInUse = 1,      // the output is in use: nothing was run
    eeEnded = 2,      // the encoder ended by itself with exit code 0
    eeFailed = 3,     // it ended with another code or by a signal (how, in ElapsedText)
    eeErrorLine = 8,  // it printed an error line (the line, in ElapsedText); the run was ended
};

// How a job's encoding stage ended, as the job learns it from every kind of encoder.
enum class TEncoderEnd {
    Done,       // the output is whole
    Failed,     // the encoder failed; Text says so for the user
    ErrorLine,  // the encoder printed an error line (Text: the line); the run was ended
    Declined,   // nothing was run: the user kept the existing output, or there is no encoder
    InUse,      // nothing was run: another writer holds the output
    Skipped,    // the job skipped the item's stage (the job's own end, never an encoder's)
};

class TEncoderEnded : public TMessagePayload {
public:
    const void* Encoder = nullptr;  // which encoder ended (compared, never used); null for a skip
    TEncoderEnd End = TEncoderEnd::Done;
    std::string Text;               // what the user is told; empty: nothing
    bool Partial = false;           // what the run wrote is no whole file: it is to be removed
};

class TProcessInfo : public TMessagePayload {
public:
    int32_t Code = 0;
    std::string ElapsedText;     // MM:SS since the stage began; empty while Code is 0
    std::string EstimatedText;   // MM:SS, the stage's estimated total
    int32_t Status = 0;
    // The figures are an estimate of an encoder that prints no progress of its own (Code is then
    // the estimated percent, and no EstimatedText means no estimate yet).
    bool Estimate = false;
};
