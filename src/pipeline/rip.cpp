#include "rip.h"

#include "CueSheet.h"

#include "DiscScan.h"
#include "akrip32Drives.h"
#include "DriveOffsetList.h"
#include "FileSystem.h"
#include "Global.h"
#include "JobItems.h"
#include "OutputEncoders.h"
#include "OutputFormats.h"
#include "ProgramFolder.h"
#include "ripthread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {


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

// Whether path names something that is not a plain file (a folder, a FIFO, a device, a link):
// the job never writes over what it cannot know to be an earlier output.
bool IsNoPlainFile(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The first folder of folder (with its trailing "/") that does not exist: the one that could not
// be made.
std::string FirstMissingFolder(std::string folder)
{
    while (folder.size() > 1) {
        const std::string parent = FolderOf(folder.substr(0, folder.size() - 1));
        if (parent.empty() || Exists(parent))
            break;
        folder = parent;
    }
    return folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
}

// The folder that holds every path (with its trailing "/"): a rip's album folder.
std::string CommonFolder(const std::vector<std::string>& paths, const std::string& root)
{
    if (paths.empty())
        return root;
    std::string common = FolderOf(paths.front());
    for (const std::string& path : paths)
        while (path.rfind(common, 0) != 0 && common.size() > root.size())
            common = FolderOf(common.substr(0, common.size() - 1));
    return common.size() < root.size() ? root : common;
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
    , m_target([this](TMessage& m) { Handle(m, -1); })
{
    m_tagger = std::make_unique<TJobTagger>(m_settings, JobKind, ItemFormat().Tags, dialogs,
                                            [this](const std::string& text) { Error(text); });
    const TFileJob* job = FileJobOf(kind);
    const TEncoderFactory make = job ? job->Make : Format().MakeEncoder;
    // No more encoders than items; the first runs on the program's own processes.
    const int encoders = make ? std::clamp(std::min(m_settings.Encoders, Count()), 1, MaxEncoders) : 0;
    // (A rip to several formats has an encoded first format: see TJobSettings::AlsoFormats.)
    const bool formats = kind == jkRipTracks && make && !ImageRip();
    m_slots.resize(static_cast<std::size_t>(encoders));
    for (int n = 0; n < encoders; ++n) {
        TEncodeSlot& slot = m_slots[static_cast<std::size_t>(n)];
        if (n > 0) {
            slot.Mp3 = std::make_unique<TMp3EncodeProcess>(dialogs);
            slot.Wma = std::make_unique<TWMAEncodeProcess>(dialogs);
        }
        slot.Encoder = make({n > 0 ? *slot.Mp3 : mp3Encoder, n > 0 ? *slot.Wma : wmaEncoder, kind, m_settings});
        for (const int32_t f : formats ? m_settings.AlsoFormats : std::vector<int32_t>{})
            if (const TEncoderFactory other = FormatOfStored(f).MakeEncoder)
                slot.Others[f] = other({n > 0 ? *slot.Mp3 : mp3Encoder, n > 0 ? *slot.Wma : wmaEncoder, kind, m_settings});
        if (job && job->ResampleFile) {
            slot.Resampler = std::make_unique<TResampler>();
            // "MyMP3ReTemp.wav", and for the second encoder "MyMP3ReTemp2.wav"...
            std::string name = job->ResampleFile;
            if (n > 0)
                name.insert(name.size() - 4, std::to_string(n + 1));
            slot.ResampleFile = Folder() + name;
        }
        if (encoders > 1)
            slot.Target = std::make_unique<TMessageTarget>([this, n](TMessage& m) { Handle(m, n); });
    }
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
    FinishJob();
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

const TOutputFormat& TRipJob::ItemFormat() const
{
    const TFileJob* job = FileJobOf(JobKind);
    return job ? *FormatOfKey(job->Format) : Format();
}

// --- what is shown ---------------------------------------------------------------------------

void TRipJob::Show()
{
    m_show.Show();
}

void TRipJob::SetCaption(const std::string& prefix, int n, const std::string& text)
{
    m_show.SetCaption(prefix, n, Count(), text);
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
    Guarded([this] { StartJob(); });
}

void TRipJob::StartJob()
{
    const TCDInfo& disc = m_settings.Disc;
    if (ImageRip() && Format().Encoded && Format().Tags != TTagFamily::FlacXiph) {
        Error("A disc image is written as WAV or FLAC: choose one of them as the output format, or turn the image "
              "off (Options > Secure).");
        Items->clear();  // nothing to do: the job ends at once
    }
    m_items = NameJobItems(JobKind, Items ? *Items : std::vector<std::string>{}, Folder(), Format(),
                           TNaming{m_settings.Naming.Template, disc.Artist, disc.Album, disc.Year,
                                   m_settings.Naming.PortableNames, std::string(Format().Key)});
    m_outcomes.clear();
    if (JobKind == jkRipTracks) {
        std::vector<std::string> outputs;
        for (const TJobItem& item : m_items)
            outputs.push_back(item.Output);
        m_albumFolder = CommonFolder(outputs, Folder());
        if (!ImageRip())
            AddHiddenTrack();
        else if (!m_items.empty())  // (none: a format an image cannot have)
            MakeImageItem();
        if (!ImageRip() && !m_slots.empty() && !m_slots.front().Others.empty())
            AddFormats();
        if (ImageRip() && !m_items.empty() && m_items.front().Track != TCDRipThread::WholeDisc) {
            m_items.clear();  // the disc cannot be one image (see MakeImageItem)
            Items->clear();
        }
    }
    // Every file is written under a name of its own until it is whole: hidden, beside it, this
    // process's and this item's (".sonvale-4711-2-Song.flac"), so that a rip cut short (or one
    // under way in another process) never stands in the way of another.
    const std::string prefix = ".sonvale-" + std::to_string(getpid()) + "-";
    const auto partOf = [&](const std::string& path, std::size_t i) {
        const std::string name = FileNameOf(path);
        const std::size_t dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        const std::string head = prefix + std::to_string(i) + "-";
        const std::string stem = name.substr(0, name.size() - ext.size());
        return FolderOf(path) + head + FitName(stem, MaxNameBytes - head.size() - ext.size()) + ext;
    };
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        TJobItem& item = m_items[i];
        if (item.Shares >= 0)  // the WAV of the item it reads
            item.WavPart = m_items[static_cast<std::size_t>(item.Shares)].WavPart;
        else if (!item.Wav.empty())  // a conversion has none
            item.WavPart = partOf(item.Wav, i);
        item.OutputPart = item.Output == item.Wav ? item.WavPart : partOf(item.Output, i);
    }
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_outcomes.push_back({Item(static_cast<int>(i)), m_items[i].Output, "not done"});
    m_tagger->Begin(m_items.size());
    // Side by side, each file's share of the bar is its size.
    std::vector<double> weights(m_items.size(), 1.0);
    for (std::size_t i = 0; i < m_items.size() && JobKind != jkRipTracks; ++i)
        weights[i] = static_cast<double>(GetFileSize64(m_items[i].Source));
    m_show.BeginItems(std::move(weights));
    EncodeIndex = 0;
    m_display.EncodingShown = SideBySide();
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
            // A picture in the output folder is every track's front cover; one that is no
            // picture is said, and the rip goes on without it.
            std::string problem;
            std::optional<TCoverArt> cover = FindCoverArt(m_albumFolder, &problem);
            const bool hasCover = cover.has_value();
            if (!problem.empty())
                m_view.Notice(problem);
            // A release MusicBrainz named: its front cover from the archive, while the tracks rip.
            if (!hasCover && problem.empty() && m_settings.MusicBrainz.FetchCover &&
                !m_settings.Disc.MusicBrainzRelease.empty()) {
                // Into the album's own folder: it is that album's cover, never the next one's.
                std::error_code ec;
                std::filesystem::create_directories(m_albumFolder, ec);
                m_coverFetch = std::make_unique<TCoverFetch>(m_settings.MusicBrainz, m_settings.Disc.MusicBrainzRelease,
                                                             m_albumFolder + "cover.jpg", Handle());
            }
            // The disc's track count and ISRCs for the tags.
            TTOC toc{};
            const int trackTotal = ReadMsfToc(CDHandle, toc) ? toc.LastTrack - toc.FirstTrack + 1 : 0;
            // Side by side, each track's share of the bar is its length.
            // (The hidden audio, item 0, lies before track 1.)
            for (std::size_t i = 0; i < m_items.size() && trackTotal > 0 && !ImageRip(); ++i)
                m_show.SetWeight(i, m_items[i].Track >= 1 ? TrackSectors(toc, m_items[i].Track).Length
                                                          : TrackSectors(toc, 1).Start);
            TDiscText discText;
            if (!AkripReadDiscText(CDHandle, discText))
                discText = TDiscText{};
            m_tagger->BeginRip(trackTotal, std::move(discText), std::move(cover));
            if (m_settings.Secure.SecureMode)
                ChooseOffset();
            m_record.Begin(m_settings, CDHandle, m_offset);
            if (ImageRip())
                m_record.SetImage(AlbumRelative(m_items.front().Output));
            TrackIndex = 0;
            StartTrack(false);
        } else if (SideBySide()) {
            m_nextFile = 0;
            StartFileItems();
        } else {
            StartFileItem(0, true, m_slots.front());
        }
    } catch (...) {
        // The window is not shown: nothing of the job may outlive it.
        FinishJob();
        throw;
    }
}

void TRipJob::MakeImageItem()
{
    // Every track's title for the log and the cue sheet: as handed to the job, else the disc's.
    TTOC toc{};
    const bool read = ReadMsfToc(CDHandle, toc);
    // An image holds the disc from sector 0: a disc whose first track is data has no such audio.
    if (!read || TrackSectors(toc, 1).Data) {
        Error(read ? "This disc begins with a data track: its audio cannot be copied as one image from sector 0. "
                     "Rip its tracks instead (turn the image off in Options > Secure)."
                   : "Error while reading TOC information!");
        return;
    }
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    m_titles.assign(static_cast<std::size_t>(count), std::string());
    for (int p = 1; p <= count; ++p)
        m_titles[static_cast<std::size_t>(p - 1)] = m_settings.Disc.Tracks[static_cast<std::size_t>(p)];
    for (const TJobItem& item : m_items)
        if (item.Track >= 1 && item.Track <= count)
            m_titles[static_cast<std::size_t>(item.Track - 1)] = item.Title;
    // "<artist> - <album>.flac", named as the log is.
    const TCDInfo& disc = m_settings.Disc;
    const std::string log = RipLogFileName(disc.Artist, disc.Album, read ? DiscKeyOfToc(toc) : std::string(),
                                           m_settings.Naming.PortableNames);
    const std::string stem = m_albumFolder + log.substr(0, log.size() - 4);
    TJobItem image;
    image.Track = TCDRipThread::WholeDisc;
    image.Title = disc.Album.empty() ? std::string("Disc image") : disc.Album;
    image.Wav = stem + ".wav";
    image.Output = Format().Encoded ? stem + std::string(Format().Extension) : image.Wav;
    m_items = {image};
    *Items = {FileNameOf(image.Output)};
}

void TRipJob::AddFormats()
{
    // Each format's files through the template, in the format's own folder: "%format%/" before a
    // template that does not say where.
    const TCDInfo& disc = m_settings.Disc;
    std::string tmpl = m_settings.Naming.Template;
    if (tmpl.find("%format%") == std::string::npos)
        tmpl = "%format%/" + tmpl;
    const auto name = [&](const TOutputFormat& format) {
        std::vector<std::string> texts;
        for (const TJobItem& item : m_items)
            texts.push_back(TrackItemText(item.Track, item.Title));
        TNaming naming{tmpl, disc.Artist, disc.Album, disc.Year, m_settings.Naming.PortableNames, std::string(format.Key)};
        return NameJobItems(JobKind, texts, Folder(), format, naming);
    };
    const std::vector<TJobItem> first = name(Format());
    std::vector<std::vector<TJobItem>> others;
    for (const auto& [f, encoder] : m_slots.front().Others)
        others.push_back(name(FormatOfStored(f)));
    std::vector<TJobItem> items;
    std::vector<std::string> texts;
    for (std::size_t t = 0; t < m_items.size(); ++t) {
        const int reader = static_cast<int>(items.size());
        TJobItem item = m_items[t];
        item.Wav = first[t].Wav;
        item.Output = first[t].Output;
        items.push_back(item);
        texts.push_back((*Items)[t]);
        std::size_t k = 0;
        for (const auto& [f, encoder] : m_slots.front().Others) {
            TJobItem other = others[k++][t];
            other.Track = item.Track;
            other.Title = item.Title;
            other.Wav = item.Wav;
            other.Shares = reader;
            other.Format = f;
            items.push_back(other);
            texts.push_back((*Items)[t]);
        }
        m_groupLeft[reader] = static_cast<int>(1 + m_slots.front().Others.size());
    }
    m_items = std::move(items);
    *Items = std::move(texts);
    // The log, the cue sheet and the cover go with the output format's files.
    std::vector<std::string> outputs;
    for (const TJobItem& item : first)
        outputs.push_back(item.Output);
    m_albumFolder = CommonFolder(outputs, Folder());
}

TEncoder& TRipJob::EncoderFor(TEncodeSlot& slot, int index)
{
    const int32_t format = m_items[static_cast<std::size_t>(index)].Format;
    const auto it = format < 0 ? slot.Others.end() : slot.Others.find(format);
    return it == slot.Others.end() ? *slot.Encoder : *it->second;
}

int TRipJob::ReaderOf(int index) const
{
    const int shares = m_items[static_cast<std::size_t>(index)].Shares;
    return shares >= 0 ? shares : index;
}

void TRipJob::GroupItemOver(int index, bool failed)
{
    const int reader = ReaderOf(index);
    const auto left = m_groupLeft.find(reader);
    if (left == m_groupLeft.end()) {  // one format: the WAV is the item's own
        KeepOrRemoveWav(index, failed);
        return;
    }
    m_groupFailed[reader] = m_groupFailed[reader] || failed;
    if (--left->second <= 0)
        KeepOrRemoveWav(reader, m_groupFailed[reader]);
}

void TRipJob::SharesRead(int reader)
{
    for (int j = reader + 1; j < Count() && m_items[static_cast<std::size_t>(j)].Shares == reader; ++j)
        StartShared(j);
}

void TRipJob::StartShared(int index)
{
    const TJobItem& item = m_items[static_cast<std::size_t>(index)];
    const std::string& read = m_readResult[item.Shares];
    bool ready = read == "done" && MayRipTrack(index);
    // The format's own folder, made as the tracks need it (as an extraction makes its own). One
    // that cannot be made (a file in its place) fails this format's file; the others go on.
    if (std::error_code ec; ready && !std::filesystem::create_directories(FolderOf(item.Output), ec) && ec) {
        Error("Cannot make the folder " + FirstMissingFolder(FolderOf(item.Output)) + ": " + ec.message() + ".");
        SetOutcome(index, "failed");
        ready = false;
    }
    if (ready && !SideBySide()) {
        m_display.Stage = "Encoding";
        SetCaption(Encoding, index + 1, item.Title);
        StartEncoding(m_slots.front(), EncoderFor(m_slots.front(), index), EncoderInput(item), item.OutputPart);
        return;
    }
    if (ready) {
        m_ready.push_back(index);
        return;
    }
    if (read != "done")  // as its track went (MayRipTrack sets a kept file's outcome)
        SetOutcome(index, read.empty() ? "failed" : read.c_str());
    if (!SideBySide()) {
        Skip(index);  // its end report ends it in its group
        return;
    }
    GroupItemOver(index, false);
    ItemOver(index);
}

void TRipJob::AddHiddenTrack()
{
    // A secure rip of the first track also keeps what a disc hides before it (from sector 0 to
    // the track's start), when it is audio; a first track at sector 0 hides nothing.
    const TSecureOptions& secure = m_settings.Secure;
    TTOC toc{};
    if (!secure.SecureMode || !secure.RipHiddenTrack || m_items.empty() || m_items.front().Track != 1 ||
        !ReadMsfToc(CDHandle, toc))
        return;
    const TTrackSectors first = TrackSectors(toc, 1);
    if (first.Data || first.Start <= 0)
        return;
    TJobItem hidden;
    hidden.Track = 0;
    hidden.Title = "Hidden track";
    hidden.Wav = m_albumFolder + "00 Hidden track.wav";
    hidden.Output = Format().Encoded ? m_albumFolder + "00 Hidden track" + std::string(Format().Extension) : hidden.Wav;
    m_items.insert(m_items.begin(), hidden);
    Items->insert(Items->begin(), TrackItemText(0, hidden.Title));
}

void TRipJob::StartExtraction(const TJobItem& item)
{
    RipThread.reset();  // the previous track's thread has ended
    // A naming template's folders are made as the tracks need them; a folder that cannot be
    // made is the cause the user is told when the track's file cannot be written.
    m_folderError = {};
    if (FolderOf(item.Wav) != Folder()) {
        std::error_code ec;
        if (!std::filesystem::create_directories(FolderOf(item.Wav), ec) && ec)
            m_folderError = {FirstMissingFolder(FolderOf(item.Wav)), ec.value()};
    }
    RipThread = std::make_unique<TCDRipThread>(item.Track, item.WavPart);
    RipThread->DriveHandle = CDHandle;
    RipThread->ReceivingWindow = Handle();
    const TCommonOptions& common = m_settings.Common;
    const TSecureOptions& secure = m_settings.Secure;
    // An image is the disc's audio as it is: never normalised (nor measured for ReplayGain).
    RipThread->Settings = {common.IsNormalize && !ImageRip(), common.NormalizePercent, secure.SecureMode, m_offset.Samples,
                           secure.RefuseDamaged, m_settings.Tags.ReplayGain && !ImageRip(),
                           secure.SecureMode && secure.BurstFirst ? m_record.BurstCheck(secure.MinConfidence) : nullptr};
    m_extracting = true;
    RipThread->Start();
}

bool TRipJob::WavIsOutput() const
{
    return !Format().Encoded || m_settings.Common.IsKeepWav;
}

const std::string& TRipJob::EncoderInput(const TJobItem& item) const
{
    return WavIsOutput() ? item.Wav : item.WavPart;
}

bool TRipJob::MayReplace(const std::string& path, int index)
{
    if (!Exists(path))
        return true;
    if (IsNoPlainFile(path)) {
        Error(path + " exists and is not a file Sonvale wrote: it is kept, and nothing is written in its place.");
        SetOutcome(index, "failed");
        return false;
    }
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
    return true;
}

bool TRipJob::Publish(const std::string& part, const std::string& path, int index)
{
    if (part == path)
        return true;
    // The user agreed to lose what was there; something that appeared meanwhile and is no
    // plain file is still kept.
    int error = EEXIST;
    if (!IsNoPlainFile(path)) {
        if (rename(part.c_str(), path.c_str()) == 0)
            return true;
        error = errno;
    }
    unlink(part.c_str());
    Error("Cannot write " + path + ": " + std::strerror(error) + ".");
    SetOutcome(index, "failed");
    return false;
}

bool TRipJob::MayRipTrack(int index)
{
    const TJobItem& item = m_items[static_cast<std::size_t>(index)];
    // A WAV that is only the encoder's input is written under a name of its own: a WAV kept
    // from an earlier rip is not this rip's concern.
    std::vector<std::string> paths;
    if (WavIsOutput())
        paths.push_back(item.Wav);
    if (item.Output != item.Wav)
        paths.push_back(item.Output);
    for (const std::string& path : paths)
        if (!MayReplace(path, index)) {
            // Said in the log: a rip's log names every track chosen, read or not (an image kept
            // is no track).
            if (JobKind == jkRipTracks && !ImageRip())
                m_record.AddUncopied(item.Track, AlbumRelative(item.Output), item.Title,
                                     AlbumRelative(path) + " was already there and is kept");
            return false;
        }
    return true;
}

void TRipJob::StartTrack(bool setStage)
{
    const TOutputFormat& format = Format();
    while (TrackIndex < Count()) {
        const int i = TrackIndex;
        // An item of a further format: its track was read for the item before it (side by side
        // it was queued, or ended, then).
        if (m_items[static_cast<std::size_t>(i)].Shares >= 0) {
            TrackIndex += 1;
            if (SideBySide())
                continue;
            StartShared(i);
            return;
        }
        if (MayRipTrack(i))
            break;
        m_readResult[i] = m_outcomes[static_cast<std::size_t>(i)].Result;
        // Its own file is kept, but a further format's is missing: the track is read for that.
        const auto missing = [&] {
            for (int j = i + 1; j < Count() && m_items[static_cast<std::size_t>(j)].Shares == i; ++j)
                if (!Exists(m_items[static_cast<std::size_t>(j)].Output))
                    return true;
            return false;
        };
        if (!WavIsOutput() && m_readResult[i] == "skipped" && missing()) {
            m_readOnly.insert(i);
            break;
        }
        TrackIndex += 1;
        if (format.Encoded) {
            if (SideBySide()) {  // nothing to encode: the next track is read at once
                ItemOver(i);
                SharesRead(i);
                continue;
            }
            // The track's encoding stage ends as skipped; its end report moves the job on.
            Skip(TrackIndex - 1);
            return;
        }
    }
    if (TrackIndex == Count()) {
        if (SideBySide()) {  // the drive is done; the encoders may not be
            AfterItem();
            return;
        }
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
    // Side by side the bar is the whole job's, and it stays once it has moved.
    m_display.InitializingShown = !SideBySide() || m_display.Bar == 0;
    if (setStage)
        m_display.Stage = "Extracting";
    Show();
    StartExtraction(item);
}

bool TRipJob::NeedsResampling()
{
    const int32_t rate = m_probe.GetSamplingRate();  // raises for a file that cannot be opened
    static const std::string kinds =
        " Sonvale reads 8- and 16-bit PCM, IMA ADPCM, Microsoft ADPCM and MPEG Layer-3 WAV files.";
    if (m_probe.WavType() == wtUnsupported || rate <= 0 || m_probe.GetChannelCount() <= 0)
        throw EACSException("Cannot read " + m_probe.FileName + ": it is not a WAV file of a kind Sonvale reads." + kinds);
    if (const int32_t bits = m_probe.GetSampleBits(); m_probe.WavType() == wtPCM && bits != 8 && bits != 16)
        throw EACSException("Cannot read " + m_probe.FileName + ": it holds " + std::to_string(bits) + "-bit PCM samples." + kinds);
    // A copy cut short converts as far as it goes, but not without a word.
    if (const int64_t missing = m_probe.MissingBytes(); missing > 0)
        m_dialogs.MessageBox(QString::fromStdString(m_probe.FileName + " is shorter than its header says (" +
                                                    std::to_string(m_probe.DeclaredBytes() - missing) + " of " +
                                                    std::to_string(m_probe.DeclaredBytes()) +
                                                    " bytes of audio): what it holds is converted."),
                             Dialogs::Icon::Warning);
    return rate < 44100;
}

bool TRipJob::MayWrite(const std::string& input, const std::string& output, int index)
{
    if (!SameFile(input, output))
        return true;
    Error(output + " is the source file and cannot be written.");
    SetOutcome(index, "failed");
    Skip(index);
    return false;
}

void TRipJob::Skip(int index)
{
    auto r = std::make_unique<TEncoderEnded>();
    r->End = TEncoderEnd::Skipped;
    PostMessage(Handle(), WM_ENCODEREND, static_cast<WPARAM>(index + 1), 0, std::move(r));
}

// Item index of a file job: its first stage, captions and group box. first: the job's first item,
// whose group box names the conversion.
// Side by side the job's whole view is shown instead.
void TRipJob::StartFileItem(int index, bool first, TEncodeSlot& slot)
{
    const TFileJob& job = *FileJobOf(JobKind);
    const std::string& item = Item(index);
    const std::string& output = m_items[static_cast<std::size_t>(index)].Output;
    const int n = index + 1;
    if (job.Source && !job.Source->Is(item)) {
        // An empty or a text file: said as such, rather than as the decoder's failure.
        Error("Cannot read " + item + ": " +
              (GetFileSize64(item) == 0 ? "the file is empty" : std::string("it is not ") + job.Source->Phrase) + ".");
        SetOutcome(index, "failed");
        Skip(index);
        return;
    }
    bool resample = false;
    if (job.ReadsWav) {
        m_probe.FileName = item;
        try {
            resample = NeedsResampling() && job.ResampleFile;
        } catch (const EACSException& e) {
            // This file cannot be read: said, skipped, and the others converted.
            Error(e.what());
            SetOutcome(index, "failed");
            Skip(index);
            return;
        }
    }
    slot.Item = index;
    slot.Resampled = false;
    if (resample) {
        const std::string& temp = slot.ResampleFile;
        // The temporary file is never one the user chose to convert, this item or another.
        for (const std::string& source : *Items)
            if (!MayWrite(source, temp, index))
                return void(slot.Item = -1);
        if (!MayWrite(item, output, index) || !MayConvert(index))
            return void(slot.Item = -1);
        if (!SideBySide()) {
            m_display.Stage = "Resampling WAV";
            SetCaption(Resampling, n, item);
        }
        StartEncoding(slot, *slot.Resampler, item, temp);
        return;
    }
    if (!MayWrite(item, output, index) || !MayConvert(index))
        return void(slot.Item = -1);
    if (!SideBySide()) {
        m_display.Stage = first ? job.FirstStage : job.NextStage;
        if (!first && slot.Encoder->Estimates())
            m_display.Estimated.clear();
        SetCaption(job.Prefix, n, item);
    }
    StartEncoding(slot, *slot.Encoder, item, m_items[static_cast<std::size_t>(index)].OutputPart);
}

bool TRipJob::MayConvert(int index)
{
    // The recorder has asked about its MP3 copy itself.
    if (JobKind == jkRecordToMp3 || MayReplace(m_items[static_cast<std::size_t>(index)].Output, index))
        return true;
    Skip(index);
    return false;
}

void TRipJob::StartEncoding(TEncodeSlot& slot, TEncoder& encoder, const std::string& input, const std::string& output)
{
    // An estimated bar starts from nothing (a measured one from the encoder's first figure).
    if (encoder.Estimates() && !SideBySide())
        m_show.SetBar(0);
    slot.Running = &encoder;
    encoder.Start(input, output, Sink(slot));
}

HWND TRipJob::Sink(const TEncodeSlot& slot) const
{
    return slot.Target ? slot.Target->Handle() : Handle();
}

void TRipJob::StartReady()
{
    for (TEncodeSlot& slot : m_slots) {
        if (m_ready.empty() || !Items)
            break;
        if (slot.Item >= 0)
            continue;
        const int index = m_ready.front();
        m_ready.pop_front();
        const TJobItem& item = m_items[static_cast<std::size_t>(index)];
        slot.Item = index;
        slot.Resampled = false;
        StartEncoding(slot, EncoderFor(slot, index), EncoderInput(item), item.OutputPart);
    }
}

void TRipJob::StartFileItems()
{
    if (m_draining)
        return;  // the folder takes no more files
    for (TEncodeSlot& slot : m_slots)
        while (slot.Item < 0 && m_nextFile < Count())
            StartFileItem(m_nextFile++, false, slot);
}

// --- the reports -----------------------------------------------------------------------------

void TRipJob::Handle(TMessage& message, int slot)
{
    if (message.Msg == WM_COVERFETCHED) {  // also after the rip, while the job waits for it
        if (auto fetched = message.Take<TCoverFetched>())
            Guarded([&] { CoverFetched(*fetched); });
        return;
    }
    // Reports that arrive after the job has ended (a progress report posted just before, an
    // output's last word) have nothing left to move.
    if (!Items || m_stopping)
        return;
    if (m_handling) {  // a message box of an earlier report is open
        m_deferred.push_back({slot, std::move(message)});
        return;
    }
    Guarded([&] { Dispatch(message, slot); });
}

void TRipJob::Guarded(const std::function<void()>& work)
{
    if (m_handling) {
        work();
        return;
    }
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    };
    m_handling = true;
    const TReset reset{m_handling};
    work();
    while (!m_deferred.empty() && Items && !m_stopping) {
        TDeferred next = std::move(m_deferred.front());
        m_deferred.pop_front();
        Dispatch(next.Message, next.Slot);
    }
    if (!Items)
        m_deferred.clear();
}

void TRipJob::Dispatch(TMessage& message, int slot)
{
    // A stage that cannot start ends up here: the general error box, and the job waits for Stop.
    try {
        switch (message.Msg) {
        case WM_EXTRACTERROR:
            ExtractError(message.LParam);
            break;
        case WM_PROCESSINFO:
            if (auto r = message.Take<TProcessInfo>()) {
                if (slot >= 0)
                    SlotProgress(m_slots[static_cast<std::size_t>(slot)], *r);
                else
                    ProcessInfo(std::move(r));
            }
            break;
        case WM_ENCODEREND:
            if (auto e = message.Take<TEncoderEnded>())
                EncoderEnded(*e, message.WParam);
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        Error(e.what());
    }
}

std::string TRipJob::WaitingForDatabases() const
{
    return "Waiting for " + m_record.Databases() + "\u2026";
}

void TRipJob::ProcessInfo(std::unique_ptr<TProcessInfo> r)
{
    switch (r->Code) {
    case piNormalizing:
        SetCaption(Normalizing, TrackIndex + 1, m_items[static_cast<std::size_t>(TrackIndex)].Title);
        break;
    case piWaitingForDatabase:
        // Once a rip at most: what the bar waits for, over it.
        m_show.SetStage(WaitingForDatabases());
        break;
    case piExtracted:
        Extracted(std::move(r));
        break;
    default:
        if (m_display.Stage == WaitingForDatabases())  // the wait is over: the track is read
            m_display.Stage = "Extracting";
        if (SideBySide() && TrackIndex < Count()) {
            // The extraction's share of the whole job.
            m_show.Read(static_cast<std::size_t>(TrackIndex), std::clamp(r->Code, 0, 100) / 100.0);
            ShowSideBySide();
        } else {
            m_show.Progress(*r);
        }
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
    if (m_draining)
        return;  // the extraction was ended when the folder refused a file
    m_extracting = false;
    const int i = TrackIndex;
    const TJobItem& item = m_items[static_cast<std::size_t>(i)];
    const std::string& title = item.Title;
    const std::string& wav = item.Wav;
    bool stop = false;
    switch (r->Status) {
    case esReadFailed:
        if (AkripDriveVanished(CDHandle)) {
            // Unplugged mid-rip: said once, and nothing more is read; the tracks done stay.
            Error(WithDriveProblem("Error while reading CD information!", CDHandle) + " The job is stopped.");
            unlink(item.WavPart.c_str());
            RecordTrack(r->Status);
            m_driveGone = true;
            EndEarly();
            stop = true;
            break;
        }
        Error(WithDriveProblem("Error while reading CD information!", CDHandle));
        break;
    case esCannotCreate: {
        int error = RipThread ? RipThread->WriteError() : 0;
        // What was written of it is no track: a header alone, or a part of one.
        if (RipThread && RipThread->FileMade())
            unlink(item.WavPart.c_str());
        // The cause is the folder that could not be made, when one could not.
        std::string path = wav;
        if (m_folderError.Error != 0) {
            path = m_folderError.Folder;
            error = m_folderError.Error;
        }
        if (error == EBUSY)
            Error(wav + "maybe be used,operate fail!");
        else if (!(stop = StopForFolderProblem(path, error, path != wav)))
            Error((path != wav ? "Cannot make the folder " : "Cannot write ") + path + ": " + std::strerror(error) +
                  ".");
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
        if (m_draining) {
            ItemOver(i);
            AfterItem();
        }
        return;
    }
    // Audio hidden before the first track that is silence, all of it, is no track: its file goes.
    const bool silent = item.Track == 0 && r->Status == esDone && RipThread && RipThread->Result().Peak == 0;
    if (silent)
        unlink(item.WavPart.c_str());
    else
        RecordTrack(r->Status);
    if (RipThread)
        for (int j = i; j < Count() && ReaderOf(j) == i; ++j)  // the item and its further formats
            m_tagger->SetLoudness(j, RipThread->Result().Loudness);
    // A track that could not be normalised is encoded as it was extracted.
    bool extracted = !silent && (r->Status == esDone || r->Status == esNormalizeFailed);
    // Read for further formats alone: its own file, kept, stays as it was.
    const bool readOnly = m_readOnly.count(i) > 0;
    if (!extracted)
        unlink(item.WavPart.c_str());  // a refused damaged track, a read that failed: no whole track
    // A WAV the user keeps is whole now: under its own name (the encoder reads it there).
    else if (WavIsOutput() && !Publish(item.WavPart, wav, i))
        extracted = false;
    else if (!WavIsOutput())
        m_wholeWavs.push_back(i);
    TrackIndex += 1;
    m_readResult[i] = extracted ? "done" : silent ? "skipped" : "failed";

    const TOutputFormat& format = Format();
    if (!readOnly && (!extracted || !format.Encoded))  // an encoded track's outcome is its encoding's
        SetOutcome(i, extracted ? "done" : silent ? "skipped" : "failed");
    if (!format.Encoded) {
        // WAV output (or a format number edited into options.ini that names none: the WAV is
        // what there is).
        StartTrack(false);
        return;
    }
    RipThread.reset();  // it has ended with its report
    if (SideBySide()) {
        // The track waits for an encoder, and the drive reads the next one meanwhile.
        m_show.Read(static_cast<std::size_t>(i), 1);
        if (extracted && !readOnly) {
            m_ready.push_back(i);
        } else {
            if (readOnly)
                GroupItemOver(i, false);
            ItemOver(i);
        }
        SharesRead(i);
        StartReady();
        ShowSideBySide();  // as it stands while the next track is asked about
        StartTrack(true);
        return;
    }
    if (!extracted || readOnly) {
        Skip(i);  // (its end report ends it in its group)
        return;
    }
    m_display.Stage = "Encoding";
    SetCaption(Encoding, TrackIndex, title);
    StartEncoding(m_slots.front(), *m_slots.front().Encoder, EncoderInput(item), item.OutputPart);
}

bool TRipJob::StopForFolderProblem(const std::string& path, int error, bool isFolder)
{
    if (error == 0 || !IsFolderError(error))
        error = FolderWriteProblem(isFolder ? FolderOf(path.substr(0, path.size() - 1)) : FolderOf(path));
    if (error == 0 || !IsFolderError(error))
        return false;
    if (!m_folderFailed)  // said once
        Error((isFolder ? "Cannot make the folder " : "Cannot write ") + path + ": " + std::strerror(error) +
              ". The job is stopped.");
    m_folderFailed = true;
    EndEarly();
    return true;
}

void TRipJob::EndEarly()
{
    const bool busy = std::any_of(m_slots.begin(), m_slots.end(), [](const TEncodeSlot& s) { return s.Running; });
    if (SideBySide() && (busy || !m_ready.empty())) {
        // Nothing more is read or started, but the items under way (and the tracks read
        // already) are finished as one encoder would have finished them before it came here;
        // their outputs are smaller than what failed. The job ends after the last.
        StopExtraction();
        m_draining = true;
        return;
    }
    FinishJob();
    Close();
}

void TRipJob::EncoderEnded(const TEncoderEnded& end, WPARAM skipped)
{
    if (SideBySide() && !end.Encoder) {  // the job skipped the item (its outcome is set)
        ItemOver(static_cast<int>(skipped) - 1);
        AfterItem();
        return;
    }
    TEncodeSlot* slot = nullptr;
    for (TEncodeSlot& s : m_slots)
        if (s.Running == end.Encoder)
            slot = &s;
    if (!slot)
        return;  // the last word of a run the job has stopped
    const TEncoder* ended = slot->Running;
    slot->Running = nullptr;
    if (ended && ended == slot->Resampler.get() && end.End == TEncoderEnd::Done) {
        Resampled(*slot);
        return;
    }
    const int i = SideBySide() ? slot->Item : EncodeIndex;
    const std::string output = ended ? ended->Output() : std::string();
    const TJobItem& item = m_items[static_cast<std::size_t>(i)];
    // The error messages name the file the user will look for, not the name it was made under.
    const std::string shown = output == item.OutputPart ? item.Output : output;
    if (end.End != TEncoderEnd::Skipped)  // a skipped item's outcome was set where it was skipped
        SetOutcome(i, end.End == TEncoderEnd::Done ? "done" : end.End == TEncoderEnd::Declined ? "skipped" : "failed");
    // A full or read-only folder is the cause to tell, and it ends the job; what the encoder
    // wrote of the file goes (the cause is asked first: removing it frees space).
    const bool failed = end.End == TEncoderEnd::Failed || end.End == TEncoderEnd::ErrorLine;
    if (failed && StopForFolderProblem(shown, 0)) {
        RemoveIfFree(output);
        if (JobKind == jkRipTracks && !WavIsOutput())
            KeepOrRemoveWav(i, false);  // the space is what the folder lacks, as at the job's end
        if (m_draining) {
            slot->Item = -1;
            ItemOver(i);
            AfterItem();
        }
        return;
    }
    if (end.End == TEncoderEnd::InUse)
        Error(Item(i) + "maybe be used,operate fail!");
    else if (!end.Text.empty())
        Error(end.Text);
    if (end.Partial || (end.End != TEncoderEnd::Done && output == item.OutputPart))
        RemoveIfFree(output);  // under its own name, what a failed run wrote is of no use
    if (end.End == TEncoderEnd::Done) {
        // Tagged first, then under its name: a file there is whole and tagged.
        m_tagger->TagItem(item, i, item.OutputPart, ImageRip() ? &m_record.Log() : nullptr);
        Publish(item.OutputPart, item.Output, i);
    }
    // The track's WAV that was only the encoder's input goes as soon as the output is made (a
    // whole album to FLAC never needs all its WAVs at once); when it could not be made, the
    // track as read stays for the user.
    if (JobKind == jkRipTracks && !WavIsOutput())  // (a skipped item wrote nothing: no failure)
        GroupItemOver(i, end.End != TEncoderEnd::Done && end.End != TEncoderEnd::Skipped);
    if (SideBySide()) {
        slot->Item = -1;
        ItemOver(i);
        AfterItem();
        return;
    }
    EncodeIndex += 1;
    NextItem(EncodeIndex);
}

void TRipJob::ItemOver(int index)
{
    m_show.Read(static_cast<std::size_t>(index), 1);
    m_show.Encoded(static_cast<std::size_t>(index), 1);
    EncodeIndex += 1;
}

void TRipJob::AfterItem()
{
    if (JobKind == jkRipTracks)
        StartReady();
    else
        StartFileItems();
    if (!Items)
        return;
    const bool idle = m_ready.empty() && !m_extracting &&
                      std::none_of(m_slots.begin(), m_slots.end(), [](const TEncodeSlot& s) { return s.Running; });
    if (EncodeIndex == Count() || (m_draining && idle)) {
        m_tagger->TagAlbumGain(m_items, DoneItems());
        FinishJob();
        Close();
        return;
    }
    ShowSideBySide();
}

void TRipJob::NextItem(int finished)
{
    if (finished == Count()) {
        m_tagger->TagAlbumGain(m_items, DoneItems());
        FinishJob();
        Close();
        return;
    }
    if (JobKind == jkRipTracks)
        StartTrack(true);
    else
        StartFileItem(finished, false, m_slots.front());
}

void TRipJob::Resampled(TEncodeSlot& slot)
{
    slot.Resampled = true;
    const std::string& output = m_items[static_cast<std::size_t>(slot.Item)].OutputPart;
    if (SideBySide()) {
        StartEncoding(slot, *slot.Encoder, slot.ResampleFile, output);
        ShowSideBySide();
        return;
    }
    m_display.Stage = "Encoding";
    SetCaption(FileJobOf(JobKind)->Prefix, EncodeIndex + 1, Item(EncodeIndex));
    StartEncoding(slot, *slot.Encoder, slot.ResampleFile, output);
}

void TRipJob::SlotProgress(const TEncodeSlot& slot, const TProcessInfo& r)
{
    if (slot.Item < 0 || !slot.Running)
        return;
    // A conversion that resamples: the resampling is the item's first half.
    double part = std::clamp(r.Code, 0, 100) / 100.0;
    if (slot.Running == slot.Resampler.get())
        part /= 2;
    else if (slot.Resampled)
        part = 0.5 + part / 2;
    m_show.Encoded(static_cast<std::size_t>(slot.Item), part);
    ShowSideBySide();
}

void TRipJob::ShowSideBySide()
{
    std::vector<TJobDisplay::TBusy> busy;
    const TFileJob* job = FileJobOf(JobKind);
    for (const TEncodeSlot& slot : m_slots)
        if (slot.Item >= 0 && slot.Running)
            busy.push_back({slot.Item, job ? Item(slot.Item) : m_items[static_cast<std::size_t>(slot.Item)].Title,
                            slot.Running == slot.Resampler.get()});
    m_show.ShowSideBySide(std::move(busy), job ? job->Prefix : Encoding, Resampling, job ? job->FirstStage : "Encoding",
                          job != nullptr, m_extracting, Count());
}

// --- tagging ---------------------------------------------------------------

std::vector<bool> TRipJob::DoneItems() const
{
    std::vector<bool> done;
    for (const TItemOutcome& outcome : m_outcomes)
        done.push_back(outcome.Result == "done");
    return done;
}

// --- ending ----------------------------------------------------------------------------------

void TRipJob::StopExtraction()
{
    // Its thread ends after its current read, and its file is a part.
    if (RipThread) {
        RipThread->Cancel();
        RipThread->WaitFor();
        if (m_extracting && RipThread->FileMade())
            unlink(RipThread->FileName().c_str());
        RipThread.reset();
    }
    m_extracting = false;
}

void TRipJob::RemovePartialOutputs()
{
    StopExtraction();  // first
    // A running stage ends first (its worker parked, the encoder killed and reaped), so that
    // nothing writes the file while it goes or after.
    // A stage that ended just before, its end not yet handled, has a whole file: it stays.
    for (TEncodeSlot& slot : m_slots) {
        for (TEncoder* encoder : {slot.Resampler.get(), slot.Encoder.get()})
            if (encoder && encoder->Stop())
                RemoveIfFree(encoder->Output());
        slot.Running = nullptr;
        slot.Item = -1;
    }
    m_ready.clear();
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
    // Tracks read whose encoding the job's end cut short: their WAVs were only the encoders'
    // input, and go with the rest of the job's own names (a rerun reads them again).
    while (!m_wholeWavs.empty())
        KeepOrRemoveWav(m_wholeWavs.back(), false);
    for (const TJobItem& item : m_items)
        for (const std::string* part : {&item.WavPart, &item.OutputPart})
            if (!part->empty())
                unlink(part->c_str());
    // The temporary files go, unless the user chose one as a file to convert.
    std::vector<std::string> temps;
    for (const TEncodeSlot& slot : m_slots) {
        const auto chosen = [&](const std::string& item) { return SameFile(item, slot.ResampleFile); };
        if (!slot.ResampleFile.empty() && std::none_of(Items->begin(), Items->end(), chosen))
            temps.push_back(slot.ResampleFile);
    }
    Items.reset();
    for (const std::string& temp : temps)
        RemoveIfFree(temp);
}

void TRipJob::CoverFetched(const TCoverFetched& fetched)
{
    m_coverFetch.reset();
    m_view.Notice(fetched.Message);
    std::string problem;
    if (fetched.Written)
        if (std::optional<TCoverArt> cover = FindCoverArt(m_albumFolder, &problem))
            m_tagger->CoverArrived(std::move(*cover), m_items, DoneItems());
    if (!problem.empty())
        m_view.Notice(problem);
    if (m_closeWaits) {
        m_closeWaits = false;
        Close();
    }
}

void TRipJob::Close()
{
    if (m_closed)
        return;
    if (m_coverFetch && !m_stopPressed) {
        // The rip is over; the cover is on its way (the fetch ends within its time-outs).
        m_closeWaits = true;
        m_display.Stage = "Fetching the cover";
        m_display.InitializingShown = false;
        m_display.PercentShown = false;
        Show();
        return;
    }
    if (m_logPending) {
        if (!m_waiting) {
            m_waiting = true;
            m_display.Stage = "Checking with " + m_record.Databases();
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
    m_view.CloseJob();
}

void TRipJob::btStopClick()
{
    if (m_coverFetch && !Items) {  // the rip is over; Stop ends the wait for the cover
        m_coverFetch.reset();
        m_closeWaits = false;
        Close();
        return;
    }
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
    if (!m_slots.empty() && m_slots.front().Encoder->SettlesAfterStop()) {
        // The files are finished as far as they were written; then a moment for them to settle.
        for (TEncodeSlot& slot : m_slots)
            slot.Encoder->Stop();
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
    m_coverFetch.reset();
    FinishJob();
    m_closed = true;
}

// --- the secure rip's record -----------------------------------------------------------------

void TRipJob::ChooseOffset()
{
    // The drive list is read as it was last fetched: a rip does not wait for the network (the
    // command line and the Options dialog fetch it).
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(CDHandle);
    const std::string vendor = drive ? drive->Vendor() : std::string(), product = drive ? drive->Product() : std::string();
    std::vector<TDriveOffsetEntry> listed;
    if (drive && !m_settings.OffsetGiven && m_settings.Secure.ReadOffset == 0)
        listed = EntriesForDrive(LoadDriveOffsetList(m_settings.Secure.AccurateRipServer, CacheFolder(), false).Entries,
                                 vendor, product);
    m_offset = ChooseReadOffset(m_settings.OffsetGiven, m_settings.DriveOffsets, DriveModelKey(vendor, product),
                                m_settings.Secure.ReadOffset, listed);
}

void TRipJob::RecordTrack(int32_t status)
{
    if (!RipThread)
        return;
    const TJobItem& item = m_items[static_cast<std::size_t>(TrackIndex)];
    if (item.Track != TCDRipThread::WholeDisc) {
        m_record.AddTrack(item.Track, AlbumRelative(item.Output), item.Title, status, RipThread->Result());
        return;
    }
    // An image: each track as far as the reads went, the last one read with the end's status.
    const std::vector<TTrackResult>& results = RipThread->Results();
    for (std::size_t k = 0; k < results.size(); ++k) {
        const int p = results[k].Position;
        const std::string title = p == 0                                            ? "Hidden track"
                                  : static_cast<std::size_t>(p) <= m_titles.size() ? m_titles[static_cast<std::size_t>(p - 1)]
                                                                                    : std::string();
        m_record.AddTrack(p, AlbumRelative(item.Output), title, k + 1 == results.size() ? status : esDone, results[k]);
    }
}

std::string TRipJob::AlbumRelative(const std::string& path) const
{
    // From the album's folder, where the log and the cue sheet go.
    return path.rfind(m_albumFolder, 0) == 0 ? path.substr(m_albumFolder.size()) : path;
}

void TRipJob::KeepOrRemoveWav(int index, bool keep)
{
    const auto at = std::find(m_wholeWavs.begin(), m_wholeWavs.end(), index);
    if (at == m_wholeWavs.end())
        return;
    m_wholeWavs.erase(at);
    const TJobItem& item = m_items[static_cast<std::size_t>(index)];
    if (!keep || Exists(item.Wav) || rename(item.WavPart.c_str(), item.Wav.c_str()) != 0)
        unlink(item.WavPart.c_str());
}

void TRipJob::WriteRipLog()
{
    // A rip ended before its last track says so, and which tracks it covers.
    if ((m_stopPressed || m_driveGone) && JobKind == jkRipTracks && TrackIndex < Count() && m_record.Open()) {
        std::string covered;
        int chosen = 0;
        // A vanished drive's job ends on the track it failed, which the log names as failed.
        const int through = m_driveGone ? TrackIndex + 1 : TrackIndex;
        for (int i = 0; i < Count(); ++i) {
            const int track = m_items[static_cast<std::size_t>(i)].Track;
            chosen += track >= 1;
            if (track >= 1 && i < through)
                covered += (covered.empty() ? "" : ", ") + TwoDigits(track);
        }
        if (covered.empty())
            covered = "no track";
        else
            covered.insert(0, covered.find(',') == std::string::npos ? "track " : "tracks ");
        m_record.SetStopped(std::string(m_driveGone ? "because the drive is gone: " : "by the user (Stop or Ctrl+C): ") +
                            "this log covers " + covered + " of the " + std::to_string(chosen) + " chosen");
    }
    // An image read but not written (Stop while it was encoded, a full disk): the log says so.
    if (ImageRip() && m_record.Open() && !m_outcomes.empty() && m_outcomes.front().Result != "done" &&
        m_record.Log().Stopped.empty())
        m_record.SetStopped(std::string(m_stopPressed ? "by the user (Stop or Ctrl+C)" : "because the image could not be written") +
                            ": the disc was read, but " + FileNameOf(m_items.front().Output) + " was not made");
    // A folder that refused a track takes no log either (the user has been told).
    std::string error;
    if (!m_record.Write(m_albumFolder, m_settings.Secure.WriteLog && !m_folderFailed, m_waitStopped, error))
        Error(error);
    if (!m_record.Log().OffsetHint.empty())
        m_view.Notice(m_record.Log().OffsetHint);
}
