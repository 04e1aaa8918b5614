#pragma once
// One interface over every way a job makes an item's file from a WAV (or a WAV back from an MP3):
// the external encoder runs (lame, WM8EUTIL; ProcessEncoders.h) and the in-process audio outputs
// (the Ogg Vorbis encoder, the WAV writer that resamples to 44100 Hz; OutputEncoders.h).
//
// An encoder lives on the UI thread and reports to the window its Start names (the sink):
//
//   WM_PROCESSINFO  progress: a TProcessInfo, Code 0..100 with the stage's times (Estimate set
//                   when the encoder prints none and the figures are its own estimate)
//   WM_ENCODEREND   its end: a TEncoderEnded, posted once per Start unless Stop comes first
//
// The end is always posted, never sent, so the sink never runs inside an encoder's call and may
// start the next run, or delete the encoder, from its handler.

#include "JobKind.h"
#include "JobMessages.h"
#include "Messages.h"

#include <memory>
#include <string>

class TEncoder {
public:
    virtual ~TEncoder() = default;

    // Starts making output from input and returns at once; the reports go to sink. Raises
    // std::exception when the run cannot start at all (no pipes, no process).
    virtual void Start(const std::string& input, const std::string& output, HWND sink) = 0;
    // Ends the run if it still goes; no end is reported after it. True when the run was cut
    // short, by this call or an earlier Stop of the same run: its output is no whole file. False
    // when it had ended well (its end perhaps not yet handled), or nothing ran.
    virtual bool Stop() = 0;
    // Whether Stop leaves the file a moment to settle before the job ends (the Ogg encoder's file).
    virtual bool SettlesAfterStop() const { return false; }
    // Whether the encoder prints no progress and the bar is an estimate from 0 (WMA).
    virtual bool Estimates() const { return false; }

    const std::string& Input() const { return m_input; }
    const std::string& Output() const { return m_output; }

protected:
    // Posts the end of the current run to its sink.
    void PostEnd(TEncoderEnd end, std::string text, bool partial) const;
    // Remembers the run's files and sink (each Start does first).
    void BeginRun(const std::string& input, const std::string& output, HWND sink);
    HWND Sink() const { return m_sink; }

private:
    std::string m_input, m_output;
    HWND m_sink = 0;
};

struct TJobSettings;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

// What an encoder is made of: the program's one MP3 and one WMA run (used by one job at a time),
// the job's kind (a file job asks before replacing a file) and its settings.
struct TEncoderParts {
    TMp3EncodeProcess& Mp3;
    TWMAEncodeProcess& Wma;
    TJobKind Kind;
    const TJobSettings& Settings;
};
// TEncoderFactory, the maker of an encoder from its parts, is declared in JobKind.h.
