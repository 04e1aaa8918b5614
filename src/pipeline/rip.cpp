#include "rip.h"

#include "DiscScan.h"
#include "FileSystem.h"
#include "Global.h"
#include "JobItems.h"
#include "OutputEvents.h"
#include "OutputFormats.h"
#include "id3.h"
#include "ripthread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// A private message: the job closes after the report being handled (WMA's last end is sent from
// inside the encoder object, which must have returned before the job window goes).
constexpr UINT WM_JOBCLOSE = WM_USER + 0x69;

// "Encoding(" and so on: the caption prefixes.
const std::string Extracting = "Extracting(";
const std::string Normalizing = "Normalizing(";
const std::string Resampling = "Resampling(";
const std::string Encoding = "Encoding(";
const std::string Decoding = "Decoding(";

// Whether two paths name the same existing file (through links, or by two names).
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Removes a file the job made, unless another writer holds it (then it is not ours to remove).
void RemoveIfFree(const std::string& path)
{
    if (GetFileSize64(path) >= 0 && !IsFileLocked(path))
        unlink(path.c_str());
}

// Errors that say the output folder takes no files at all, so that every later item would meet
// them too.
bool IsFolderError(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES || error == EPERM || error == EIO ||
           error == ENOENT || error == ENOTDIR;
}

int64_t Seconds(std::chrono::steady_clock::duration d)
{
    return static_cast<int64_t>(std::nearbyint(std::chrono::duration<double>(d).count()));
}

TVorbisBitRate BitRateChoice(int32_t choice)
{
    // 0 lets the encoder choose; 1..14 are 45 .. 320 kbit/s. A value edited into options.ini
    // beyond them lets the encoder choose as well.
    return choice >= 0 && choice <= br320 ? static_cast<TVorbisBitRate>(choice) : brAutoSelect;
}

}  // namespace

std::string JobCaption(const std::string& prefix, int n, int count, const std::string& text)
{
    return prefix + TwoDigits(n) + "/" + TwoDigits(count) + "): " + text;
}

TRipJob::TRipJob(TRipView& view, Dialogs& dialogs, TMp3EncodeProcess& mp3Encoder, TWMAEncodeProcess& wmaEncoder,
                 TJobKind kind, HCDROM cdHandle, std::vector<std::string> items, TJobSettings settings)
    : Items(std::move(items))
    , JobKind(kind)
    , CDHandle(cdHandle)
    , m_settings(std::move(settings))
    , m_view(view)
    , m_dialogs(dialogs)
    , m_mp3(mp3Encoder)
    , m_wma(wmaEncoder)
    , m_target([this](TMessage& m) { Handle(m); })
{
    WaveIn1.StartSample = 0;
    WaveIn1.EndSample = -1;
    WaveIn1.Loop = false;
    RateConverter1.SetInput(&WaveIn1);
    RateConverter1.SetOutSampleRate(44100);
    RateConverter1.SetKernelWidth(30);
    RateConverter1.FilterWindow = fwBlackman;
    WaveOut1.SetInput(&RateConverter1);
    WaveOut1.SetFileMode(foRewrite);
    WaveOut1.SetWavType(wtPCM);
    WaveOut1.SetBlockSize(512);
    WaveOut1.SetSuspendWhenIdle(true);
    VorbisOut1.SetInput(&WaveIn1);
    VorbisOut1.SetFileMode(foRewrite);
    VorbisOut1.Compression = 0.2f;
    VorbisOut1.SetDesiredMaximumBitrate(brAutoSelect);
    VorbisOut1.SetDesiredNominalBitrate(brAutoSelect);
    VorbisOut1.SetMinimumBitrate(brAutoSelect);
    VorbisOut1.Serial = 0;
    VorbisOut1.SetSuspendWhenIdle(true);

    // The outputs' events run on their workers: they only build reports and post them. The end
    // of resampling is posted too, so a worker never waits for the UI thread, which may be
    // ending the job and waiting for that worker.
    WaveOut1.OnProgress = [this](TACSComponent*) { OutputProgress(WaveOut1); };
    VorbisOut1.OnProgress = [this](TACSComponent*) { OutputProgress(VorbisOut1); };
    const auto postEnd = [this](int32_t code) {
        auto r = std::make_unique<TProcessInfo>();
        r->Code = code;
        PostMessage(Handle(), WM_PROCESSINFO, 0, 0, std::move(r));
    };
    WaveOut1.OnDone = [postEnd](TACSComponent*) { postEnd(piResampled); };
    VorbisOut1.OnDone = [postEnd](TACSComponent*) { postEnd(piOggEnded); };
    PostErrorsTo(WaveOut1, Handle());
    PostErrorsTo(VorbisOut1, Handle());

    Timer1.setInterval(1000);
    QObject::connect(&Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    m_wait.setSingleShot(true);
    m_wait.setInterval(300);
    QObject::connect(&m_wait, &QTimer::timeout, [this] {
        auto then = std::move(m_afterWait);
        m_afterWait = nullptr;
        if (then)
            then();
    });
}

TRipJob::~TRipJob()
{
    m_record.StopPolling();
    if (m_logPending) {
        m_logPending = false;
        WriteRipLog();
    }
    m_wait.stop();
    Timer1.stop();
    FinishJob();
    EndOutput(WaveOut1);
    EndOutput(VorbisOut1);
}

// --- the items -------------------------------------------------------------------------------

std::string TRipJob::Folder() const
{
    return IncludeBackslash(m_settings.Common.OutputFolder);
}

const TOutputFormat& TRipJob::Format() const
{
    return FormatOfStored(m_settings.Common.OutputFormat);
}

// --- what is shown ---------------------------------------------------------------------------

void TRipJob::Show()
{
    m_view.DisplayChanged(m_display);
}

void TRipJob::SetCaption(const std::string& prefix, int n, const std::string& text)
{
    m_display.Caption = JobCaption(prefix, n, Count(), text);
    Show();
}

void TRipJob::SetStage(const std::string& stage)
{
    m_display.Stage = stage;
    Show();
}

void TRipJob::SetBar(int percent)
{
    m_display.Bar = percent;
    Show();
}

void TRipJob::Error(const std::string& text)
{
    m_dialogs.MessageBox(QString::fromStdString(text), Dialogs::Icon::Error);
}

// --- starting --------------------------------------------------------------------------------

void TRipJob::SetOutcome(int index, const char* result)
{
    if (index >= 0 && index < static_cast<int>(m_outcomes.size()))
        m_outcomes[static_cast<std::size_t>(index)].Result = result;
}

void TRipJob::Start()
{
    m_items = NameJobItems(JobKind, Items ? *Items : std::vector<std::string>{}, Folder(), Format());
    m_outcomes.clear();
    for (const TJobItem& item : m_items)
        m_outcomes.push_back({item.Output, "not done"});
    StageReported = false;
    EncodeIndex = 0;
    OggIndex = 0;
    m_display.Elapsed.clear();
    m_display.Estimated.clear();
    m_display.PercentShown = false;
    try {
        if (Count() == 0) {
            FinishJob();
            Close();
            return;
        }
        if (JobKind == jkRipTracks) {
            m_record.Begin(m_settings, CDHandle);
            TrackIndex = 0;
            StartTrack(false);
        } else {
            StartFileItem(0, true);
        }
    } catch (...) {
        // The window is not shown: nothing of the job may outlive it.
        FinishJob();
        throw;
    }
}

void TRipJob::StartExtraction(const TJobItem& item)
{
    RipThread.reset();  // the previous track's thread has ended
    // A title that gives no file name gets no path: the thread refuses it as it refuses a file it
    // cannot create.
    RipThread = std::make_unique<TCDRipThread>(item.Track, item.Nameable ? item.Wav : std::string());
    RipThread->DriveHandle = CDHandle;
    RipThread->ReceivingWindow = Handle();
    const TCommonOptions& common = m_settings.Common;
    RipThread->Settings = {common.IsNormalize, common.NormalizePercent, m_settings.Secure.SecureMode,
                           m_settings.Secure.ReadOffset, m_settings.Secure.RefuseDamaged};
    m_extracting = true;
    RipThread->Start();
}

bool TRipJob::MayRipTrack(int index)
{
    const TJobItem& item = m_items[static_cast<std::size_t>(index)];
    if (!item.Nameable)
        return true;  // nothing of it can exist; the extraction says why
    std::vector<std::string> paths{item.Wav};
    if (item.Output != item.Wav)
        paths.push_back(item.Output);
    for (const std::string& path : paths) {
        if (GetFileSize64(path) < 0)
            continue;
        const QString question = QString::fromStdString(path) + QStringLiteral(" has existed,overite it?");
        if (m_dialogs.AskYesNo(question, Dialogs::Icon::Information, Dialogs::Answer::Yes) != Dialogs::Answer::Yes) {
            SetOutcome(index, "skipped");
            return false;
        }
        if (IsFileLocked(path)) {
            Error(path + "maybe be used,operate fail!");
            SetOutcome(index, "failed");
            return false;
        }
    }
    return true;
}

void TRipJob::StartTrack(bool setStage)
{
    const TOutputFormat& format = Format();
    while (TrackIndex < Count() && !MayRipTrack(TrackIndex)) {
        TrackIndex += 1;
        if (format.Encoded) {
            // The track's encoding stage ends as skipped; its end report moves the job on.
            Skip(format.EndCode);
            return;
        }
    }
    if (TrackIndex == Count()) {
        FinishJob();
        Close();
        return;
    }
    StartNextExtraction(setStage);
}

void TRipJob::StartNextExtraction(bool setStage)
{
    const TJobItem& item = m_items[static_cast<std::size_t>(TrackIndex)];
    m_display.Caption = JobCaption(Extracting, TrackIndex + 1, Count(), item.Title);
    m_display.InitializingShown = true;
    if (setStage)
        m_display.Stage = "Extracting";
    Show();
    StartExtraction(item);
}

bool TRipJob::NeedsResampling()
{
    const int32_t rate = WaveIn1.GetSamplingRate();  // raises for a file that cannot be opened
    static const std::string kinds =
        " Sonvale reads 8- and 16-bit PCM, IMA ADPCM, Microsoft ADPCM and MPEG Layer-3 WAV files.";
    if (WaveIn1.WavType() == wtUnsupported || rate <= 0 || WaveIn1.GetChannelCount() <= 0)
        throw EACSException("Cannot read " + WaveIn1.FileName + ": it is not a WAV file of a kind Sonvale reads." + kinds);
    if (const int32_t bits = WaveIn1.GetSampleBits(); WaveIn1.WavType() == wtPCM && bits != 8 && bits != 16)
        throw EACSException("Cannot read " + WaveIn1.FileName + ": it holds " + std::to_string(bits) + "-bit PCM samples." + kinds);
    // A copy cut short converts as far as it goes, but not without a word.
    if (const int64_t missing = WaveIn1.MissingBytes(); missing > 0)
        m_dialogs.MessageBox(QString::fromStdString(WaveIn1.FileName + " is shorter than its header says (" +
                                                    std::to_string(WaveIn1.DeclaredBytes() - missing) + " of " +
                                                    std::to_string(WaveIn1.DeclaredBytes()) +
                                                    " bytes of audio): what it holds is converted."),
                             Dialogs::Icon::Warning);
    return rate < 44100;
}

bool TRipJob::MayWrite(const std::string& input, const std::string& output, int32_t skipCode)
{
    if (!SameFile(input, output))
        return true;
    Error(output + " is the source file and cannot be written.");
    SetOutcome(JobKind == jkWavToOgg ? OggIndex : EncodeIndex, "failed");
    Skip(skipCode);
    return false;
}

void TRipJob::Skip(int32_t code)
{
    auto r = std::make_unique<TProcessInfo>();
    r->Code = code;
    r->Status = eeSkipped;
    PostMessage(Handle(), WM_PROCESSINFO, 0, 0, std::move(r));
    StageReported = true;
}

// Item index of a file job: its first stage, captions and group box. first: the job's first item,
// whose group box names the conversion.
void TRipJob::StartFileItem(int index, bool first)
{
    const std::string& item = Item(index);
    const std::string& output = m_items[static_cast<std::size_t>(index)].Output;
    const int n = index + 1;
    const std::string folder = Folder();
    switch (JobKind) {
    case jkWavToMp3:
    case jkWavToOgg: {
        const bool mp3 = JobKind == jkWavToMp3;
        const int32_t skipCode = mp3 ? piMp3Ended : piOggEnded;
        WaveIn1.FileName = item;
        bool resample = false;
        try {
            resample = NeedsResampling();
        } catch (const EACSException& e) {
            // This file cannot be read: said, skipped, and the others converted.
            Error(e.what());
            SetOutcome(index, "failed");
            Skip(skipCode);
            return;
        }
        if (resample) {
            const std::string temp = folder + (mp3 ? Mp3ResampleFile : OggResampleFile);
            if (!MayWrite(item, temp, skipCode) || !MayWrite(item, output, skipCode))
                return;
            m_display.Stage = "Resampling WAV";
            SetCaption(Resampling, n, item);
            StartResampling(temp);
        } else {
            if (!MayWrite(item, output, skipCode))
                return;
            m_display.Stage = first ? (mp3 ? "Encoding WAV to MP3" : "Encoding WAV to OGG") : "Encoding";
            SetCaption(Encoding, n, item);
            if (mp3)
                StartMp3Run(item, output, true);
            else
                StartOggStage(item, output);
        }
        break;
    }
    case jkMp3ToWav: {
        if (!IsMp3File(item)) {
            // An empty or a text file: said as such, rather than as the decoder's failure.
            Error("Cannot read " + item + ": " + (GetFileSize64(item) == 0 ? "the file is empty" : "it is not an MP3 file") + ".");
            SetOutcome(index, "failed");
            Skip(piMp3Ended);
            return;
        }
        if (!MayWrite(item, output, piMp3Ended))
            return;
        m_display.Stage = first ? "Decoding MP3 to WAV" : "Decoding";
        SetCaption(Decoding, n, item);
        StartMp3Run(item, output, false);
        break;
    }
    case jkRecordToMp3: {
        if (!MayWrite(item, output, piMp3Ended))
            return;
        m_display.Stage = "Encoding WAV to MP3";
        SetCaption(Encoding, n, item);
        StartMp3Run(item, output, true);
        break;
    }
    case jkWavToWma: {
        if (!MayWrite(item, output, piWmaEnded))
            return;
        m_display.Stage = first ? "Encoding WAV to WMA" : "Encoding";
        if (!first)
            m_display.Estimated.clear();
        SetCaption(Encoding, n, item);
        StartWmaRun(item, output);
        break;
    }
    case jkRipTracks:
        break;
    }
}

void TRipJob::StartMp3Run(const std::string& input, const std::string& output, bool encode)
{
    m_mp3.Engaged = true;
    m_mp3.Mp3 = m_settings.Mp3;
    m_mp3.InputFile = input;
    m_mp3.OutputFile = output;
    m_mp3.NotifyWindow = Handle();
    m_mp3.EncodeMode = encode;
    m_mp3.JobKind = JobKind;
    m_mp3.StartProcess();
}

void TRipJob::StartWmaRun(const std::string& input, const std::string& output)
{
    // The estimate is set up before the run starts: a run may end at once, its end report
    // handled inside StartProcess, and that must find the timer running to stop it.
    m_wmaStart = Now();
    SetBar(0);
    WMAInputSize = GetFileSize64(input);
    Timer1.start();
    m_wma.Engaged = true;
    m_wma.Wma = m_settings.Wma;
    m_wma.UseID3 = m_settings.UseID3;
    m_wma.Artist = m_settings.Disc.Artist;
    m_wma.Comment = m_settings.Disc.Comment;
    m_wma.InputFile = input;
    m_wma.OutputFile = output;
    m_wma.NotifyWindow = Handle();
    m_wma.EncodeMode = true;
    m_wma.JobKind = JobKind;
    m_wma.StartProcess();
}

void TRipJob::StartOggStage(const std::string& input, const std::string& output)
{
    WaveIn1.FileName = input;
    VorbisOut1.FileName = output;
    ApplyOggSettings();
    m_stageStart = Clock::now().time_since_epoch().count();
    VorbisOut1.Start();
    m_oggRunning = true;
}

void TRipJob::StartResampling(const std::string& temp)
{
    WaveOut1.FileName = temp;
    m_stageStart = Clock::now().time_since_epoch().count();
    WaveOut1.Start();
}

void TRipJob::ApplyOggSettings()
{
    const TOggOptions& ogg = m_settings.Ogg;
    if (ogg.IsUseCompress) {
        VorbisOut1.Compression = static_cast<float>(ogg.CompressPosition - 10) / 100.0f;  // 0.2 .. 0.9
        VorbisOut1.SetDesiredMaximumBitrate(brAutoSelect);
        VorbisOut1.SetDesiredNominalBitrate(brAutoSelect);
        VorbisOut1.SetMinimumBitrate(brAutoSelect);
    } else {
        VorbisOut1.SetDesiredMaximumBitrate(BitRateChoice(ogg.MaxBitRate));
        VorbisOut1.SetDesiredNominalBitrate(BitRateChoice(ogg.NomalBitRate));
        VorbisOut1.SetMinimumBitrate(BitRateChoice(ogg.MinBitRate));
        VorbisOut1.Compression = 0.2f;
    }
}

// --- the reports -----------------------------------------------------------------------------

void TRipJob::Handle(TMessage& message)
{
    if (message.Msg == WM_JOBCLOSE) {
        Close();
        return;
    }
    // Reports that arrive after the job has ended (a progress report posted just before, an
    // output's last word) have nothing left to move.
    if (!Items || m_stopping)
        return;
    // A stage that cannot start ends up here: the general error box, and the job waits for Stop.
    try {
        switch (message.Msg) {
        case WM_EXTRACTERROR:
            ExtractError(message.LParam);
            break;
        case WM_PROCESSINFO:
            if (auto r = message.Take<TProcessInfo>())
                ProcessInfo(std::move(r));
            break;
        case WM_OUTPUTERROR:
            if (auto e = message.Take<TOutputError>())
                OutputError(*e);
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        Error(e.what());
    }
}

void TRipJob::ProcessInfo(std::unique_ptr<TProcessInfo> r)
{
    switch (r->Code) {
    case piNormalizing:
        SetCaption(Normalizing, TrackIndex + 1, m_items[static_cast<std::size_t>(TrackIndex)].Title);
        break;
    case piExtracted:
        Extracted(std::move(r));
        break;
    case piMp3Ended:
        Mp3Ended(*r);
        break;
    case piOggEnded:
        OggEnded();
        break;
    case piResampled:
        Resampled();
        break;
    case piWmaEnded:
        WmaEnded(*r);
        break;
    default:
        Progress(*r);
        break;
    }
}

void TRipJob::ExtractError(LPARAM error)
{
    if (error == 1)
        Error("CD extract failed!Please try again.");
    else if (error == 2)
        Error("Error while reading TOC information!");
}

void TRipJob::Extracted(std::unique_ptr<TProcessInfo> r)
{
    m_extracting = false;
    const int i = TrackIndex;
    const TJobItem& item = m_items[static_cast<std::size_t>(i)];
    const std::string& title = item.Title;
    const std::string& wav = item.Wav;
    bool stop = false;
    switch (r->Status) {
    case esReadFailed:
        Error("Error while reading CD information!");
        break;
    case esCannotCreate: {
        const int error = RipThread ? RipThread->WriteError() : 0;
        // What was written of it is no track: a header alone, or a part of one.
        if (RipThread && RipThread->FileMade())
            unlink(wav.c_str());
        if (error == 0)
            Error(wav + " is not a valid file name.Please rename the Title in the CD tracks list.");
        else if (error == EBUSY)
            Error(wav + "maybe be used,operate fail!");
        else if (!(stop = StopForFolderProblem(wav, error, false)))
            Error("Cannot write " + wav + ": " + std::strerror(error) + ".");
        break;
    }
    case esNormalizeFailed:
        Error("Error while normalizing " + wav + "!");
        break;
    case esDataTrack:
        Error(DataTrackMessage(item.Track));
        break;
    default:
        break;
    }
    if (stop) {
        SetOutcome(i, "failed");
        return;
    }
    RecordTrack(r->Status);
    // A track that could not be normalised is encoded as it was extracted.
    const bool extracted = r->Status == esDone || r->Status == esNormalizeFailed;
    TrackIndex += 1;

    const TOutputFormat& format = Format();
    if (!extracted || !format.Encoded)  // an encoded track's outcome is its encoding's
        SetOutcome(i, extracted ? "done" : "failed");
    if (!format.Encoded) {
        // WAV output (or a format number edited into options.ini that names none: the WAV is
        // what there is).
        StartTrack(false);
        return;
    }
    if (format.Key == "wma")
        RipThread.reset();
    if (!extracted) {
        Skip(format.EndCode);
        return;
    }
    m_display.Stage = "Encoding";
    SetCaption(Encoding, TrackIndex, title);
    const std::string& output = item.Output;
    if (format.Key == "mp3")
        StartMp3Run(wav, output, true);
    else if (format.Key == "ogg")
        StartOggStage(wav, output);
    else
        StartWmaRun(wav, output);
}

bool TRipJob::StopForFolderProblem(const std::string& path, int error, bool postClose)
{
    if (error == 0 || !IsFolderError(error))
        error = FolderWriteProblem(FolderOf(path));
    if (error == 0 || !IsFolderError(error))
        return false;
    Error("Cannot write " + path + ": " + std::strerror(error) + ". The job is stopped.");
    m_folderFailed = true;
    FinishJob();
    if (postClose)
        PostMessage(Handle(), WM_JOBCLOSE, 0, 0);
    else
        Close();
    return true;
}

void TRipJob::Mp3Ended(const TProcessInfo& r)
{
    const bool failed = (r.Status == eeEnded && !StageReported) || r.Status == eeFailed;
    // A full or read-only folder is the cause to tell, and it ends the job; what lame wrote of
    // the file goes (the cause is asked first: removing it frees space).
    if (r.Status != eeSkipped)  // a skipped item's outcome was set where it was skipped
        SetOutcome(EncodeIndex, r.Status == eeEnded && StageReported ? "done" : r.Status == eeDeclined ? "skipped" : "failed");
    if (failed && StopForFolderProblem(m_mp3.OutputFile, 0, false)) {
        RemoveIfFree(m_mp3.OutputFile);
        return;
    }
    if (r.Status == eeInUse && !StageReported)
        Error(Item(EncodeIndex) + "maybe be used,operate fail!");
    else if (failed)
        Error("Create MP3 file error!\nPlease check the output and lame options or run application again.");
    // lame failed (a code other than 0, a signal): what it wrote is not a whole file.
    if (r.Status == eeFailed)
        RemoveIfFree(m_mp3.OutputFile);
    if (JobKind == jkRipTracks && r.Status == eeEnded && StageReported) {
        m_doneWavs.push_back(m_mp3.InputFile);
        if (m_settings.UseID3 && Format().Tagged)
            TagTrack(TrackIndex - 1);
    }
    StageReported = false;
    EncodeIndex += 1;
    NextItem(EncodeIndex, false);
}

void TRipJob::NextItem(int finished, bool postClose)
{
    if (finished == Count()) {
        FinishJob();
        if (postClose)
            PostMessage(Handle(), WM_JOBCLOSE, 0, 0);
        else
            Close();
        return;
    }
    if (JobKind == jkRipTracks)
        StartTrack(true);
    else
        StartFileItem(finished, false);
}

void TRipJob::OggEnded()
{
    // No pause before going on: the Ogg file is closed before its end is reported, so there is
    // nothing to wait for (300 ms a track would add 3 s to a ten-track disc).
    if (m_oggRunning) {
        SetOutcome(OggIndex, "done");
        if (JobKind == jkRipTracks)
            m_doneWavs.push_back(WaveIn1.FileName);
    }
    m_oggRunning = false;
    StageReported = false;
    OggIndex += 1;
    NextItem(OggIndex, false);
}

void TRipJob::Resampled()
{
    const std::string folder = Folder();
    if (JobKind == jkWavToMp3) {
        m_display.Stage = "Encoding";
        SetCaption(Encoding, EncodeIndex + 1, Item(EncodeIndex));
        StartMp3Run(folder + Mp3ResampleFile, m_items[static_cast<std::size_t>(EncodeIndex)].Output, true);
    } else if (JobKind == jkWavToOgg) {
        m_display.Stage = "Encoding";
        SetCaption(Encoding, OggIndex + 1, Item(OggIndex));
        StartOggStage(folder + OggResampleFile, m_items[static_cast<std::size_t>(OggIndex)].Output);
    }
}

void TRipJob::WmaEnded(const TProcessInfo& r)
{
    Timer1.stop();
    const bool failed = r.Status == eeErrorLine || r.Status == eeFailed;
    if (r.Status != eeSkipped)
        SetOutcome(EncodeIndex, r.Status == eeEnded ? "done" : r.Status == eeDeclined ? "skipped" : "failed");
    if (failed && StopForFolderProblem(m_wma.OutputFile, 0, true)) {
        RemoveIfFree(m_wma.OutputFile);
        return;
    }
    if (r.Status == eeInUse && !StageReported)
        Error(Item(EncodeIndex) + "maybe be used,operate fail!");
    else if (r.Status == eeErrorLine)
        Error(r.ElapsedText);
    else if (r.Status == eeFailed)
        Error("Error while encoding " + m_wma.InputFile + ": the WMA encoder ended with " + r.ElapsedText + ".");
    // An encoder that failed or printed an error has no whole file to leave (the run that
    // printed it has been ended, so its end is never taken for the next item's).
    if (failed)
        RemoveIfFree(m_wma.OutputFile);
    if (JobKind == jkRipTracks && r.Status == eeEnded)
        m_doneWavs.push_back(m_wma.InputFile);
    StageReported = false;
    EncodeIndex += 1;
    NextItem(EncodeIndex, true);
}

void TRipJob::Progress(const TProcessInfo& r)
{
    Timer1.stop();
    StageReported = true;
    m_display.Elapsed = r.ElapsedText;
    m_display.Estimated = r.EstimatedText;
    if (r.Code > 0) {
        m_display.InitializingShown = false;
        m_display.PercentShown = true;
        m_display.Bar = std::min(r.Code, 100);
    }
    Show();
}

void TRipJob::OutputError(const TOutputError& error)
{
    std::string written;  // the file the failed stage wrote
    if (error.Output == &VorbisOut1) {
        m_oggRunning = false;
        written = VorbisOut1.FileName;
    } else if (error.Output == &WaveOut1) {
        written = WaveOut1.FileName;
    }
    SetOutcome(JobKind == jkWavToOgg || error.Output == &VorbisOut1 ? OggIndex : EncodeIndex, "failed");
    if (!written.empty() && StopForFolderProblem(written, 0, false)) {
        RemoveIfFree(written);
        return;
    }
    Error(error.Text);
    // What the stage wrote is no use: it goes, and the item is skipped.
    if (error.Output == &VorbisOut1) {
        RemoveIfFree(VorbisOut1.FileName);
        Skip(piOggEnded);
    } else if (error.Output == &WaveOut1) {
        RemoveIfFree(WaveOut1.FileName);
        Skip(JobKind == jkWavToOgg ? piOggEnded : piMp3Ended);
    }
}

// --- the worker's events ---------------------------------------------------------------------

void TRipJob::OutputProgress(TACSOutput& output)
{
    auto r = std::make_unique<TProcessInfo>();
    r->Code = output.ProgressPercent();
    const Clock::time_point start{Clock::duration{m_stageStart.load()}};
    const int64_t e = Seconds(Clock::now() - start);
    if (r->Code != 0) {
        r->ElapsedText = TimeText(e);
        r->EstimatedText = TimeText(static_cast<int64_t>(std::nearbyint(static_cast<double>(e) * 100.0 / r->Code)));
    }
    PostMessage(Handle(), WM_PROCESSINFO, 0, 0, std::move(r));
}

// --- tagging, the WMA estimate ---------------------------------------------------------------

void TRipJob::TagTrack(int index)
{
    const TCDInfo& info = m_settings.Disc;
    const TJobItem& item = m_items[static_cast<std::size_t>(index)];
    Tid3tag tag;
    tag.SetTitle(item.Title);
    tag.SetArtist(info.Artist);
    tag.SetAlbum(info.Album);
    tag.SetYear(info.Year);
    tag.Genre = GenreToID3(static_cast<uint8_t>(info.Genre));  // -1 (none chosen) is 255
    tag.SetComment(info.Comment);
    tag.SetTrack(static_cast<uint8_t>(item.Track));
    const uint16_t result = tag.SaveToFile(item.Output);
    if (result > 255)
        m_dialogs.MessageBox(QStringLiteral("Error #%1! Could not save Tag!").arg(result), Dialogs::Icon::None);
}

void TRipJob::Timer1Timer()
{
    const int64_t e = Seconds(Now() - m_wmaStart);
    m_display.Elapsed = TimeText(e);
    if (!m_wma.Engaged) {
        Show();
        return;
    }
    m_display.InitializingShown = false;
    const std::optional<int64_t> t = m_wma.EstimatedSeconds(e, WMAInputSize);
    if (!t) {
        Show();
        return;
    }
    m_display.Estimated = TimeText(*t);
    m_display.PercentShown = true;
    const int p = static_cast<int>(std::nearbyint(static_cast<double>(e) * 100.0 / static_cast<double>(*t)));
    if (p > m_display.Bar)
        m_display.Bar = p;
    Show();
}

// --- ending ----------------------------------------------------------------------------------

bool TRipJob::EndOutput(TACSOutput& output)
{
    output.SuspendWorker();
    if (!output.Running)
        return false;  // it had ended: its file is whole
    try {
        output.CloseOutput();
    } catch (const std::exception&) {
        // The file is as far as it was written; a job that is ending has no one left to tell.
    }
    output.OutputEnabled = false;
    output.Running = false;
    return true;
}

void TRipJob::RemovePartialOutputs()
{
    // The extraction first: its thread ends after its current read, and its file is a part.
    if (RipThread) {
        RipThread->Cancel();
        RipThread->WaitFor();
        if (m_extracting && RipThread->FileMade())
            unlink(RipThread->FileName().c_str());
        RipThread.reset();
    }
    m_extracting = false;
    // A running stage ends first (its worker parked, the encoder killed and reaped), so that
    // nothing writes the file while it goes or after.
    // A stage that ended just before, its end not yet handled, has a whole file: it stays.
    EndOutput(WaveOut1);
    m_oggCut = EndOutput(VorbisOut1) || m_oggCut;
    if (m_oggRunning && m_oggCut)
        RemoveIfFree(VorbisOut1.FileName);
    m_oggRunning = m_oggCut = false;
    if (m_mp3.StopRun())
        RemoveIfFree(m_mp3.OutputFile);
    if (m_wma.StopRun())
        RemoveIfFree(m_wma.OutputFile);
}

void TRipJob::FinishJob()
{
    if (!Items)
        return;
    // At the end of a whole rip the log may wait for the database (Close() waits); a job ended
    // early writes it at once with what there is.
    if (m_record.Open() && !m_stopPressed && !m_closed && m_record.AnswerPending() && TrackIndex == Count())
        m_logPending = true;
    else
        WriteRipLog();
    RemovePartialOutputs();
    Timer1.stop();
    const TCommonOptions& common = m_settings.Common;
    const bool encoded = Format().Encoded;
    // Only the WAVs this job wrote and encoded go: a track whose encoding failed or was cut
    // short keeps its WAV, and no other file is ever touched.
    // A job ended by a folder that takes no more files removes them as well: they are its own
    // intermediates, and the space is what the user lacks.
    if (JobKind == jkRipTracks && (Count() == TrackIndex || m_folderFailed) && encoded && !common.IsKeepWav) {
        for (const std::string& wav : m_doneWavs)
            RemoveIfFree(wav);
    }
    m_doneWavs.clear();
    // The temporary file goes, unless the user chose it as one of the files to convert.
    std::string temp;
    if (JobKind == jkWavToOgg || JobKind == jkWavToMp3) {
        temp = Folder() + (JobKind == jkWavToOgg ? OggResampleFile : Mp3ResampleFile);
        for (const std::string& item : *Items)
            if (SameFile(item, temp))
                temp.clear();
    }
    Items.reset();
    if (!temp.empty())
        RemoveIfFree(temp);
}

void TRipJob::Close()
{
    if (m_closed)
        return;
    if (m_logPending) {
        if (!m_waiting) {
            m_waiting = true;
            m_display.Stage = "Checking with AccurateRip";
            m_display.InitializingShown = false;
            m_display.PercentShown = false;
            Show();
            m_record.PollForAnswer([this] {
                m_logPending = false;
                WriteRipLog();
                Close();
            });
        }
        return;
    }
    m_closed = true;
    Timer1.stop();
    m_view.CloseJob();
}

void TRipJob::btStopClick()
{
    if (m_logPending) {  // the rip is over; Stop ends the wait for the database
        m_record.StopPolling();
        m_logPending = false;
        m_waitStopped = true;
        WriteRipLog();
        Close();
        return;
    }
    if (!Items || m_stopping)
        return;
    m_stopPressed = true;  // the log is written at once, not after the database's answer
    const bool ogg = (JobKind == jkRipTracks && Format().Key == "ogg") || JobKind == jkWavToOgg;
    if (ogg) {
        // The Ogg file is finished as far as it was written; then a moment for it to settle.
        m_oggCut = EndOutput(VorbisOut1) || m_oggCut;
        m_stopping = true;
        m_afterWait = [this] {
            FinishJob();
            Close();
        };
        m_wait.start();
        return;
    }
    FinishJob();
    Close();
}

void TRipJob::FormClose()
{
    if (m_logPending) {
        m_record.StopPolling();
        m_logPending = false;
        m_waitStopped = true;
        WriteRipLog();
    }
    m_wait.stop();
    m_afterWait = nullptr;
    FinishJob();
    m_closed = true;
}

// --- the secure rip's record -----------------------------------------------------------------

void TRipJob::RecordTrack(int32_t status)
{
    if (!RipThread)
        return;
    const TJobItem& item = m_items[static_cast<std::size_t>(TrackIndex)];
    m_record.AddTrack(item.Track, FileNameOf(item.Output), status, RipThread->Result());
}

void TRipJob::WriteRipLog()
{
    // A folder that refused a track takes no log either (the user has been told).
    std::string error;
    if (!m_record.Write(Folder(), m_settings.Secure.WriteLog && !m_folderFailed, m_waitStopped, error))
        Error(error);
}
