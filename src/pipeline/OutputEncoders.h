#pragma once
// The encoders that run in the process, on an audio output's worker: the Ogg Vorbis, FLAC and Opus
// encoders, the FLAC decoder, and the WAV writer that brings a file below 44100 Hz up to 44100 Hz
// for lame or the Ogg encoder.
// The worker posts everything (progress, the end, an error's text), so it never waits for the
// UI thread, which may be stopping the job and waiting for the worker.

#include "ACS_Converters.h"
#include "ACS_Flac.h"
#include "ACS_Opus.h"
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
    // Before each run: the input's file name (m_in's by default) and the output's settings.
    virtual void Prepare(const std::string& input);

    TWaveIn m_in;  // the WAV file a run reads (unless the subclass reads another kind)

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
    void Prepare(const std::string& input) override;

private:
    TVorbisOut m_vorbis;
    TOggOptions m_options;
};

// FLAC at the job's level, verified by the encoder as it goes, the audio's MD5 in STREAMINFO.
class TFlacEncoder : public TOutputEncoder {
public:
    explicit TFlacEncoder(const TFlacOptions& options);
    ~TFlacEncoder() override;

private:
    TFlacOut m_flac;
};

// Opus at the job's bit rate.
class TOpusEncoder : public TOutputEncoder {
public:
    explicit TOpusEncoder(const TOpusOptions& options);
    ~TOpusEncoder() override;

private:
    TOpusOut m_opus;
};

// A WAV file from a FLAC file; a file that fails its decoding (damaged, cut short, its MD5 not
// matching) ends the run as failed, and the half WAV goes.
class TFlacDecoder : public TOutputEncoder {
public:
    TFlacDecoder();
    ~TFlacDecoder() override;

protected:
    void Prepare(const std::string& input) override;

private:
    TFlacIn m_flacIn;
    TWaveOut m_wav;
};

// A WAV file at 44100 Hz from a WAV file at any rate (16-bit PCM, the source's channels).
class TResampler : public TOutputEncoder {
public:
    TResampler();
    ~TResampler() override;

protected:
    void Prepare(const std::string& input) override;

private:
    TRateConverter m_converter;
    TWaveOut m_wav;
};

std::unique_ptr<TEncoder> MakeOggEncoder(const TEncoderParts& parts);
std::unique_ptr<TEncoder> MakeFlacEncoder(const TEncoderParts& parts);
std::unique_ptr<TEncoder> MakeOpusEncoder(const TEncoderParts& parts);
std::unique_ptr<TEncoder> MakeFlacDecoder(const TEncoderParts& parts);
