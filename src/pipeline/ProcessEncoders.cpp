#include "ProcessEncoders.h"

#include "Global.h"
#include "JobSettings.h"
#include "WMAEncodeThread.h"

#include <cmath>

TProcessEncoder::TProcessEncoder(TEncodeProcess& process, TJobKind kind)
    : m_process(process)
    , m_kind(kind)
    , m_target([this](TMessage& m) { Handle(m); })
{
}

void TProcessEncoder::Start(const std::string& input, const std::string& output, HWND sink)
{
    BeginRun(input, output, sink);
    m_running = true;
    m_cut = false;
    m_progressed = false;
    m_process.Engaged = true;
    m_process.InputFile = input;
    m_process.OutputFile = output;
    m_process.NotifyWindow = m_target.Handle();
    m_process.JobKind = m_kind;
    Prepare();
    // A run may end inside StartProcess (declined, in use, no encoder): what Started sets up is
    // there for that end to undo.
    Started();
    try {
        m_process.StartProcess();
    } catch (...) {
        m_running = false;
        Finished();
        throw;
    }
}

bool TProcessEncoder::Stop()
{
    if (m_running) {
        m_running = false;
        m_cut = m_process.StopRun();
        Finished();
    }
    return m_cut;
}

void TProcessEncoder::Handle(TMessage& message)
{
    auto r = message.Msg == WM_PROCESSINFO ? message.Take<TProcessInfo>() : nullptr;
    if (!r || !m_running)
        return;  // a report of a run that was stopped
    if (r->Code == piMp3Ended || r->Code == piWmaEnded) {
        m_running = false;
        Finished();
        Ended(r->Status, r->ElapsedText);
        return;
    }
    m_progressed = true;
    Progressed();
    PostMessage(Sink(), WM_PROCESSINFO, 0, 0, std::move(r));
}

// --- lame --------------------------------------------------------------------------------------

TLameEncoder::TLameEncoder(TMp3EncodeProcess& lame, const TMp3Options& options, TJobKind kind, bool encode)
    : TProcessEncoder(lame, kind)
    , m_lame(lame)
    , m_options(options)
    , m_encode(encode)
{
}

void TLameEncoder::Prepare()
{
    m_lame.Mp3 = m_options;
    m_lame.EncodeMode = m_encode;
}

void TLameEncoder::Ended(int32_t status, const std::string&)
{
    static const std::string failed =
        "Create MP3 file error!\nPlease check the output and lame options or run application again.";
    switch (status) {
    case eeEnded:
        // lame that ends well without a word of progress has made nothing it could tell of; what
        // it wrote stays for the user to look at.
        if (m_progressed)
            PostEnd(TEncoderEnd::Done, {}, false);
        else
            PostEnd(TEncoderEnd::Failed, failed, false);
        break;
    case eeFailed:  // a code other than 0, a signal: what it wrote is no whole file
        PostEnd(TEncoderEnd::Failed, failed, true);
        break;
    case eeInUse:
        PostEnd(TEncoderEnd::InUse, {}, false);
        break;
    default:
        PostEnd(TEncoderEnd::Declined, {}, false);
        break;
    }
}

// --- WM8EUTIL ----------------------------------------------------------------------------------

TWmaEncoder::TWmaEncoder(TWMAEncodeProcess& wma, const TWMAOptions& options, bool useId3, const TCDInfo& disc,
                         TJobKind kind)
    : TProcessEncoder(wma, kind)
    , m_wma(wma)
    , m_options(options)
    , m_useId3(useId3)
    , m_artist(disc.Artist)
    , m_comment(disc.Comment)
{
    m_timer.setInterval(1000);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
}

void TWmaEncoder::Prepare()
{
    m_wma.Wma = m_options;
    m_wma.UseID3 = m_useId3;
    m_wma.Artist = m_artist;
    m_wma.Comment = m_comment;
    m_wma.EncodeMode = true;
}

void TWmaEncoder::Started()
{
    m_start = Now();
    m_inputSize = GetFileSize64(Input());
    m_timer.start();
}

void TWmaEncoder::Progressed()
{
    m_timer.stop();  // the encoder's own word ("100%") is the last figure
}

void TWmaEncoder::Finished()
{
    m_timer.stop();
}

void TWmaEncoder::Tick()
{
    const int64_t e = static_cast<int64_t>(std::nearbyint(std::chrono::duration<double>(Now() - m_start).count()));
    auto r = std::make_unique<TProcessInfo>();
    r->Estimate = true;
    r->ElapsedText = TimeText(e);
    if (const std::optional<int64_t> t = m_wma.EstimatedSeconds(e, m_inputSize)) {
        r->EstimatedText = TimeText(*t);
        r->Code = static_cast<int32_t>(std::nearbyint(static_cast<double>(e) * 100.0 / static_cast<double>(*t)));
    }
    // Sent: the window shows it now, as a timer of its own would.
    SendMessage(Sink(), WM_PROCESSINFO, 0, 0, std::move(r));
}

void TWmaEncoder::Ended(int32_t status, const std::string& text)
{
    switch (status) {
    case eeEnded:
        PostEnd(TEncoderEnd::Done, {}, false);
        break;
    // An encoder that failed or printed an error has no whole file to leave (the run that
    // printed it has been ended, so its end is never taken for the next item's).
    case eeErrorLine:
        PostEnd(TEncoderEnd::ErrorLine, text, true);
        break;
    case eeFailed:
        PostEnd(TEncoderEnd::Failed, "Error while encoding " + Input() + ": the WMA encoder ended with " + text + ".", true);
        break;
    case eeInUse:
        PostEnd(TEncoderEnd::InUse, {}, false);
        break;
    default:
        PostEnd(TEncoderEnd::Declined, {}, false);
        break;
    }
}

// --- the factories -----------------------------------------------------------------------------

std::unique_ptr<TEncoder> MakeMp3Encoder(const TEncoderParts& parts)
{
    return std::make_unique<TLameEncoder>(parts.Mp3, parts.Settings.Mp3, parts.Kind, true);
}

std::unique_ptr<TEncoder> MakeMp3Decoder(const TEncoderParts& parts)
{
    return std::make_unique<TLameEncoder>(parts.Mp3, parts.Settings.Mp3, parts.Kind, false);
}

std::unique_ptr<TEncoder> MakeWmaEncoder(const TEncoderParts& parts)
{
    const TJobSettings& s = parts.Settings;
    return std::make_unique<TWmaEncoder>(parts.Wma, s.Wma, s.UseID3, s.Disc, parts.Kind);
}
