#pragma once
// The encoders that run a child program: lame (MP3, and MP3 back to WAV) and WM8EUTIL (WMA). Each
// drives the program's one run object of its kind (Mp3EncodeThread.h, WMAEncodeThread.h), hears
// that object's reports on a target of its own, and hands them to the job as Encoder.h says:
// progress as it comes, and the run's end with what the user is told about it.

#include "Encoder.h"
#include "GlobalOptions.h"

#include <QTimer>

#include <chrono>
#include <functional>

class TEncodeProcess;

class TProcessEncoder : public TEncoder {
public:
    void Start(const std::string& input, const std::string& output, HWND sink) override;
    bool Stop() override;

protected:
    TProcessEncoder(TEncodeProcess& process, TJobKind kind);
    // Hands the run's settings to the process, before it starts.
    virtual void Prepare() = 0;
    // Just before the process starts; at each progress report; when the run is over (ended or
    // stopped).
    virtual void Started() {}
    virtual void Progressed() {}
    virtual void Finished() {}
    // The run's end as the job learns it, from the process's TEncodeEnd and its text.
    virtual void Ended(int32_t status, const std::string& text) = 0;

    TEncodeProcess& m_process;
    bool m_progressed = false;  // the run printed progress

private:
    void Handle(TMessage& message);

    TJobKind m_kind;
    bool m_running = false;
    bool m_cut = false;
    TMessageTarget m_target;
};

// lame: encodes a WAV to MP3 with the job's MP3 options, or decodes an MP3 to WAV.
class TLameEncoder : public TProcessEncoder {
public:
    TLameEncoder(TMp3EncodeProcess& lame, const TMp3Options& options, TJobKind kind, bool encode);

protected:
    void Prepare() override;
    void Ended(int32_t status, const std::string& text) override;

private:
    TMp3EncodeProcess& m_lame;
    TMp3Options m_options;
    bool m_encode;
};

// WM8EUTIL prints nothing until it is done, so while it runs the bar and the times are an
// estimate from its output's growth, renewed every second.
class TWmaEncoder : public TProcessEncoder {
public:
    TWmaEncoder(TWMAEncodeProcess& wma, const TWMAOptions& options, bool useId3, const TCDInfo& disc, TJobKind kind);

    bool Estimates() const override { return true; }

    using Clock = std::chrono::steady_clock;
    // The estimate's clock (tests set their own).
    std::function<Clock::time_point()> Now = [] { return Clock::now(); };
    // One renewal of the estimate (the timer's, every 1000 ms while the run goes): the elapsed
    // time, and the whole time and percent when the output has grown.
    void Tick();
    bool Ticking() const { return m_timer.isActive(); }
    // The size of the run's input when it started (-1: none).
    int64_t InputSize() const { return m_inputSize; }

protected:
    void Prepare() override;
    void Started() override;
    void Progressed() override;
    void Finished() override;
    void Ended(int32_t status, const std::string& text) override;

private:
    TWMAEncodeProcess& m_wma;
    TWMAOptions m_options;
    bool m_useId3;
    std::string m_artist, m_comment;
    QTimer m_timer;
    Clock::time_point m_start;
    int64_t m_inputSize = -1;
};

std::unique_ptr<TEncoder> MakeMp3Encoder(const TEncoderParts& parts);
std::unique_ptr<TEncoder> MakeMp3Decoder(const TEncoderParts& parts);
std::unique_ptr<TEncoder> MakeWmaEncoder(const TEncoderParts& parts);
