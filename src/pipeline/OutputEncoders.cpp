#include "OutputEncoders.h"

#include "Global.h"
#include "JobSettings.h"

#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

TVorbisBitRate BitRateChoice(int32_t choice)
{
    // 0 lets the encoder choose; 1..14 are 45 .. 320 kbit/s. A value edited into options.ini
    // beyond them lets the encoder choose as well.
    return choice >= 0 && choice <= br320 ? static_cast<TVorbisBitRate>(choice) : brAutoSelect;
}

}  // namespace

TOutputEncoder::TOutputEncoder()
{
    m_in.StartSample = 0;
    m_in.EndSample = -1;
    m_in.Loop = false;
}

void TOutputEncoder::Attach(TACSFileOut& output)
{
    m_output = &output;
    m_output->SetFileMode(foRewrite);
    m_output->SetSuspendWhenIdle(true);
    m_output->OnProgress = [this](TACSComponent*) { Progress(); };
    m_output->OnDone = [this](TACSComponent*) { PostEnd(TEncoderEnd::Done, {}, false); };
    // An error ends the run (no OnDone follows); what it wrote is no whole file. Raised on the
    // worker, or on the caller's thread when Start cannot open the output.
    m_output->OnThreadException = [this](TACSComponent*, const std::exception& e) {
        PostEnd(TEncoderEnd::Failed, e.what(), true);
    };
}

void TOutputEncoder::Start(const std::string& input, const std::string& output, HWND sink)
{
    BeginRun(input, output, sink);
    m_cut = false;
    m_output->FileName = output;
    Prepare(input);
    m_start = Clock::now().time_since_epoch().count();
    m_output->Start();
}

bool TOutputEncoder::Stop()
{
    m_output->SuspendWorker();
    if (!m_output->Running)
        return m_cut;  // it had ended (its file is whole), or was stopped before
    try {
        m_output->CloseOutput();
    } catch (const std::exception&) {
        // The file is as far as it was written; a job that is ending has no one left to tell.
    }
    m_output->OutputEnabled = false;
    m_output->Running = false;
    m_cut = true;
    return true;
}

void TOutputEncoder::Prepare(const std::string& input)
{
    m_in.FileName = input;
}

void TOutputEncoder::Progress()
{
    auto r = std::make_unique<TProcessInfo>();
    r->Code = m_output->ProgressPercent();
    const Clock::time_point start{Clock::duration{m_start.load()}};
    const int64_t e = static_cast<int64_t>(std::nearbyint(std::chrono::duration<double>(Clock::now() - start).count()));
    if (r->Code != 0) {
        r->ElapsedText = TimeText(e);
        r->EstimatedText = TimeText(static_cast<int64_t>(std::nearbyint(static_cast<double>(e) * 100.0 / r->Code)));
    }
    PostMessage(Sink(), WM_PROCESSINFO, 0, 0, std::move(r));
}

// --- Ogg Vorbis --------------------------------------------------------------------------------

TOggEncoder::TOggEncoder(const TOggOptions& options)
    : m_options(options)
{
    Attach(m_vorbis);
    m_vorbis.SetInput(&m_in);
    m_vorbis.Serial = 0;
}

TOggEncoder::~TOggEncoder()
{
    Stop();
}

void TOggEncoder::Prepare(const std::string& input)
{
    TOutputEncoder::Prepare(input);
    if (m_options.IsUseCompress) {
        m_vorbis.Compression = static_cast<float>(m_options.CompressPosition - 10) / 100.0f;  // 0.2 .. 0.9
        m_vorbis.SetDesiredMaximumBitrate(brAutoSelect);
        m_vorbis.SetDesiredNominalBitrate(brAutoSelect);
        m_vorbis.SetMinimumBitrate(brAutoSelect);
    } else {
        m_vorbis.SetDesiredMaximumBitrate(BitRateChoice(m_options.MaxBitRate));
        m_vorbis.SetDesiredNominalBitrate(BitRateChoice(m_options.NomalBitRate));
        m_vorbis.SetMinimumBitrate(BitRateChoice(m_options.MinBitRate));
        m_vorbis.Compression = 0.2f;
    }
}

// --- resampling --------------------------------------------------------------------------------

TResampler::TResampler()
{
    Attach(m_wav);
    m_converter.SetInput(&m_in);
    m_converter.SetOutSampleRate(44100);
    m_converter.SetKernelWidth(30);
    m_converter.FilterWindow = fwBlackman;
    m_wav.SetInput(&m_converter);
    m_wav.SetWavType(wtPCM);
    m_wav.SetBlockSize(512);
}

TResampler::~TResampler()
{
    Stop();
}

void TResampler::Prepare(const std::string& input)
{
    TOutputEncoder::Prepare(input);
    // Each file is resampled on its own: its first samples owe nothing to the file before it.
    m_converter.ForgetLastSample();
}

// --- FLAC and Opus ------------------------------------------------------------------------------

TFlacEncoder::TFlacEncoder(const TFlacOptions& options)
{
    Attach(m_flac);
    m_flac.SetInput(&m_in);
    m_flac.Level = options.Level;
}

TFlacEncoder::~TFlacEncoder()
{
    Stop();
}

TOpusEncoder::TOpusEncoder(const TOpusOptions& options)
{
    Attach(m_opus);
    m_opus.SetInput(&m_in);
    m_opus.BitRate = options.BitRate;
}

TOpusEncoder::~TOpusEncoder()
{
    Stop();
}

TFlacDecoder::TFlacDecoder()
{
    Attach(m_wav);
    m_wav.SetInput(&m_flacIn);
    m_wav.SetWavType(wtPCM);
}

TFlacDecoder::~TFlacDecoder()
{
    Stop();
}

void TFlacDecoder::Prepare(const std::string& input)
{
    m_flacIn.FileName = input;
}

std::unique_ptr<TEncoder> MakeOggEncoder(const TEncoderParts& parts)
{
    return std::make_unique<TOggEncoder>(parts.Settings.Ogg);
}

std::unique_ptr<TEncoder> MakeFlacEncoder(const TEncoderParts& parts)
{
    return std::make_unique<TFlacEncoder>(parts.Settings.Flac);
}

std::unique_ptr<TEncoder> MakeOpusEncoder(const TEncoderParts& parts)
{
    return std::make_unique<TOpusEncoder>(parts.Settings.Opus);
}

std::unique_ptr<TEncoder> MakeFlacDecoder(const TEncoderParts&)
{
    return std::make_unique<TFlacDecoder>();
}
