#pragma once
// The encoders that run in the process, on an audio output's worker: the Ogg Vorbis encoder, and
// the WAV writer that brings a file below 44100 Hz up to 44100 Hz for lame or the Ogg encoder.
// The worker posts everything (progress, the end, an error's text), so it never waits for the
// UI thread, which may be stopping the job and waiting for the worker.

#include "ACS_Converters.h"
#include "ACS_Vorbis.h"
#include "ACS_Wave.h"
#include "Encoder.h"
#include "GlobalOptions.h"

#include <atomic>

class TOutputEncoder : public TEncoder {
public:
    void Start(const std::string& input, const std::string& output, HWND sink) override;
    bool Stop() override;

    // The output the worker drives (tests reach in to cut an input short mid-run).
    TACSFileOut& AudioOutput() { return *m_output; }

protected:
    TOutputEncoder();
    // The output this encoder drives, once the subclass has made it (from its constructor).
    void Attach(TACSFileOut& output);
    // Before each run: the output's settings.
    virtual void Prepare() {}

    TWaveIn m_in;

private:
    void Progress();

    TACSFileOut* m_output = nullptr;
    std::atomic<int64_t> m_start{0};  // steady_clock ticks of the run's start; read by the worker
    bool m_cut = false;
};

// The Ogg Vorbis encoder with the job's Ogg options: a quality, or the three bit rates.
class TOggEncoder : public TOutputEncoder {
public:
    explicit TOggEncoder(const TOggOptions& options);
    ~TOggEncoder() override;

    // Stop leaves the Ogg file a moment to settle before the job ends.
    bool SettlesAfterStop() const override { return true; }

protected:
    void Prepare() override;

private:
    TVorbisOut m_vorbis;
    TOggOptions m_options;
};

// A WAV file at 44100 Hz from a WAV file at any rate (16-bit PCM, the source's channels).
class TResampler : public TOutputEncoder {
public:
    TResampler();
    ~TResampler() override;

private:
    TRateConverter m_converter;
    TWaveOut m_wav;
};

std::unique_ptr<TEncoder> MakeOggEncoder(const TEncoderParts& parts);
