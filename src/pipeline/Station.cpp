#include "Station.h"

#include "AccurateRip.h"
#include "Ctdb.h"
#include "DiscScan.h"
#include "FileSystem.h"
#include "Global.h"
#include "MediaMonitor.h"
#include "MusicBrainz.h"
#include "OutputFormats.h"
#include "akrip32Drives.h"
#include "rip.h"
#include "BackgroundFetch.h"

#include <QDateTime>
#include <QProcess>

#include <algorithm>
#include <filesystem>

namespace {

std::string Now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODate).toStdString();
}

// A command line's words as a POSIX shell splits them (blanks between words; '...' as it stands;
// "..." with \" \\ \$ \` escaped; a backslash outside quotes takes the next character), nothing
// else of a shell: the words are run as they are, so a disc's names put into them are never
// commands themselves.
std::vector<std::string> SplitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            word += line.substr(i + 1, (end == std::string::npos ? line.size() : end) - i - 1);
            i = end == std::string::npos ? line.size() : end;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && std::string("\"\\$`").find(line[i + 1]) != std::string::npos)
                    ++i;
                word += line[i];
            }
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

}  // namespace

// One drive of the station: its handle while a disc is worked on, the disc last seen, its job.
struct TStation::TDrive : public TRipView {
    TStation* Station = nullptr;
    int Position = 0;
    TCDRec Rec{};
    std::string Name;
    HCDROM Handle = 0;
    std::string LastKey;                 // the disc seen there last; "" an empty tray
    std::unique_ptr<TMp3EncodeProcess> Mp3;
    std::unique_ptr<TWMAEncodeProcess> Wma;
    std::unique_ptr<TRipJob> Job;
    // The disc being looked up in MusicBrainz, its table and CD-TEXT until then.
    std::unique_ptr<TBackgroundFetch<TMusicBrainzResult>> Lookup;
    TTOC Toc{};
    TDiscText Text;
    TStationDisc Disc;                   // the record of the disc being ripped
    TRipDisplay Shown;                   // what its job shows

    void DisplayChanged(const TRipDisplay& display) override { Shown = display; }
    void CloseJob() override
    {
        // Not from inside the job's own call: it is destroyed there.
        QTimer::singleShot(0, [station = Station, this] { station->Finished(*this); });
    }
    void Notice(const std::string& text) override { Station->m_say(Name + ": " + text); }
};

TStation::TStation(TStationOptions options, TJobSettings settings, Dialogs& dialogs,
                   std::function<void(const std::string&)> say)
    : m_options(std::move(options))
    , m_settings(std::move(settings))
    , m_dialogs(dialogs)
    , m_say(std::move(say))
    , m_history(m_options.HistoryPath.empty() ? DefaultStationHistoryPath() : m_options.HistoryPath)
{
    m_poll.setInterval(2000);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { Look(); });
    m_answers.setInterval(50);
    QObject::connect(&m_answers, &QTimer::timeout, [this] {
        bool waiting = false;
        for (const std::unique_ptr<TDrive>& drive : m_drives) {
            if (drive->Lookup && drive->Lookup->TryGet())
                Rip(*drive);
            waiting = waiting || drive->Lookup;
        }
        if (!waiting)
            m_answers.stop();
    });
}

TStation::~TStation()
{
    for (const std::unique_ptr<TDrive>& drive : m_drives) {
        drive->Job.reset();
        if (drive->Handle != 0)
            CloseCDHandle(drive->Handle);
    }
}

bool TStation::Start(TMediaMonitor* monitor)
{
    std::string error;
    if (!m_history.Load(error))
        m_say(error);
    if (!m_history.Save(error)) {
        m_say(error);
        return false;
    }
    const TCDList list = DriveList();
    for (int p = 0; p < list.Num; ++p) {
        if (!m_options.Drives.empty() &&
            std::find(m_options.Drives.begin(), m_options.Drives.end(), p) == m_options.Drives.end())
            continue;
        auto drive = std::make_unique<TDrive>();
        drive->Station = this;
        drive->Position = p;
        drive->Rec = list.Cd[p];
        drive->Name = DriveDisplayName(list.Cd[p]);
        drive->Mp3 = std::make_unique<TMp3EncodeProcess>(m_dialogs);
        drive->Wma = std::make_unique<TWMAEncodeProcess>(m_dialogs);
        m_say("Watching drive " + std::to_string(p + 1) + ": " + drive->Name);
        m_drives.push_back(std::move(drive));
    }
    if (m_drives.empty()) {
        m_say("No drive to watch.");
        return false;
    }
    if (monitor) {
        QObject::connect(monitor, &TMediaMonitor::VolumeArrived, [this] { Look(); });
        QObject::connect(monitor, &TMediaMonitor::VolumeRemoved, [this] { Look(); });
    }
    m_poll.start();
    Look();
    return true;
}

void TStation::Look()
{
    if (m_stopping)
        return;
    for (const std::unique_ptr<TDrive>& drive : m_drives)
        if (!drive->Job && !drive->Lookup)
            LookAt(*drive);
}

void TStation::LookAt(TDrive& drive)
{
    const TGetCDHand request = HandleRequest(drive.Rec);
    drive.Handle = GetCDHandle(&request);
    TTOC toc{};
    if (drive.Handle == 0 || !ReadMsfToc(drive.Handle, toc)) {
        drive.LastKey.clear();  // no disc (or no table): the next one is new
        if (drive.Handle != 0)
            CloseCDHandle(drive.Handle);
        drive.Handle = 0;
        return;
    }
    const std::string key = DiscKeyOfToc(toc) + "-" + AccurateRipDiscId(toc).Text();
    if (key == drive.LastKey) {  // the disc already worked on, still there
        CloseCDHandle(drive.Handle);
        drive.Handle = 0;
        return;
    }
    drive.LastKey = key;
    TStationDisc disc;
    disc.Drive = drive.Name;
    disc.Start = Now();
    disc.MusicBrainzId = MusicBrainzDiscId(toc);
    disc.CtdbId = CtdbTocId(toc);
    disc.AccurateRipId = AccurateRipDiscId(toc).Text();
    if (!IsAudioDisc(toc)) {
        disc.Result = "failed";
        disc.Note = "no audio on the disc";
        Record(drive, std::move(disc), true);
        return;
    }
    if (const TStationDisc* before = m_history.RippedBefore(disc.MusicBrainzId, disc.CtdbId, disc.AccurateRipId);
        before && !m_options.Again) {
        disc.Result = "skipped";
        disc.Artist = before->Artist;
        disc.Album = before->Album;
        disc.Folder = before->Folder;
        disc.Note = "ripped before (record " + before->Id + "): not ripped again";
        Record(drive, std::move(disc), true);
        return;
    }
    // Its names: MusicBrainz's (asked on a thread of its own), else its CD-TEXT, else its disc ID.
    drive.Disc = disc;
    drive.Toc = toc;
    drive.Text = TDiscText{};
    if (!AkripReadDiscText(drive.Handle, drive.Text))
        drive.Text = TDiscText{};
    drive.Lookup = std::make_unique<TBackgroundFetch<TMusicBrainzResult>>(
        [options = m_settings.MusicBrainz, toc](const std::atomic<bool>* cancel) {
            return LookupMusicBrainz(options, toc, cancel);
        });
    m_say(drive.Name + ": looking the disc up");
    m_answers.start();
}

void TStation::Rip(TDrive& drive)
{
    const TMusicBrainzResult found = drive.Lookup->Wait();
    drive.Lookup.reset();
    if (m_stopping) {
        CloseCDHandle(drive.Handle);
        drive.Handle = 0;
        CheckStopped();
        return;
    }
    TStationDisc disc = drive.Disc;
    const TTOC& toc = drive.Toc;
    const TDiscText& text = drive.Text;
    TJobSettings settings = m_settings;
    TCDInfo& info = settings.Disc;
    info = TCDInfo{};
    info.Artist = text.Performer;
    info.Album = text.Title;
    std::vector<std::string> titles = text.TrackTitles;
    if (!found.Releases.empty()) {
        // The release whose barcode is the disc's catalogue number, else the first (and the user
        // is told to check when there were several).
        const auto digits = [](const std::string& s) {
            std::string d;
            for (const char c : s)
                if (c >= '0' && c <= '9')
                    d += c;
            return d.empty() ? d : d.substr(d.find_first_not_of('0') == std::string::npos ? d.size() - 1 : d.find_first_not_of('0'));
        };
        const TMbRelease* chosen = &found.Releases.front();
        bool sure = found.Releases.size() == 1;
        for (const TMbRelease& r : found.Releases)
            if (!text.Catalog.empty() && !r.Barcode.empty() && digits(r.Barcode) == digits(text.Catalog)) {
                chosen = &r;
                sure = true;
            }
        const TCddbFields fields = MusicBrainzFields(*chosen);
        info.Artist = fields.Artist.value_or(info.Artist);
        info.Album = fields.Album.value_or(info.Album);
        info.Year = fields.Year.value_or("");
        info.MusicBrainzRelease = fields.MusicBrainzRelease.value_or("");
        if (fields.HasTitles)
            titles = fields.Titles;
        disc.Release = ReleaseSummary(*chosen);
        if (!sure)
            disc.Note = "release chosen without you: check";
    }
    // (An ID of the disc for its names: MusicBrainz's, else CTDB's, else AccurateRip's.)
    const std::string id = !disc.MusicBrainzId.empty() ? disc.MusicBrainzId
                           : !disc.CtdbId.empty()      ? disc.CtdbId
                                                       : disc.AccurateRipId;
    if (info.Album.empty())
        info.Album = id;
    if (info.Artist.empty())
        info.Artist = "Unknown Artist";
    // Another disc of the same names (the discs of a set, discs whose CD-TEXT says the same) gets
    // its disc ID after the album: two discs never share a folder or a file.
    const auto other = [&](const TStationDisc& d) {
        return d.Artist == info.Artist && d.Album == info.Album && d.AccurateRipId != disc.AccurateRipId &&
               d.Result != "failed" && d.Result != "skipped";
    };
    bool taken = std::any_of(m_history.Discs().begin(), m_history.Discs().end(), other);
    for (const std::unique_ptr<TDrive>& d : m_drives)
        taken = taken || (d->Job && other(d->Disc));
    if (taken)
        info.Album += " (" + id + ")";
    std::vector<std::string> items;
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    for (int p = 1; p <= count; ++p) {
        if (TrackSectors(toc, p).Data)
            continue;
        const auto i = static_cast<std::size_t>(p - 1);
        std::string title = i < titles.size() && !titles[i].empty() ? titles[i] : "Track " + TwoDigits(p);
        info.Tracks[static_cast<std::size_t>(p)] = title;
        items.push_back(TrackItemText(p, title));
    }
    info.TrackNumber = count;
    settings.Secure.SecureMode = true;
    settings.Secure.BurstFirst = true;
    settings.Secure.Image = false;
    settings.Naming.Template = m_options.Template;
    settings.Encoders = std::max(1, m_options.Jobs / static_cast<int>(m_drives.size()));
    disc.Artist = info.Artist;
    disc.Album = info.Album;
    disc.Formats.push_back(std::string(FormatOfStored(settings.Common.OutputFormat).Key));
    for (const int32_t f : settings.AlsoFormats)
        disc.Formats.push_back(std::string(FormatOfStored(f).Key));
    disc.Result = "ripping";
    drive.Disc = disc;
    m_say(drive.Name + ": ripping " + info.Artist + " - " + info.Album);
    drive.Job = std::make_unique<TRipJob>(drive, m_dialogs, *drive.Mp3, *drive.Wma, jkRipTracks, drive.Handle,
                                          std::move(items), std::move(settings));
    try {
        drive.Job->Start();
    } catch (const std::exception& e) {
        m_say(drive.Name + ": " + e.what());
        Finished(drive);
    }
}

void TStation::Finished(TDrive& drive)
{
    if (!drive.Job)
        return;
    TStationDisc disc = drive.Disc;
    const TRipLog& log = drive.Job->SecureRecord();
    disc.Log = log.Path;
    if (!log.Path.empty() && log.Path.size() > 4) {
        const std::string cue = log.Path.substr(0, log.Path.size() - 4) + ".cue";
        if (std::error_code ec; std::filesystem::exists(cue, ec))
            disc.Cue = cue;
    }
    // Each track: its worst outcome over the formats, and its verdicts.
    int failed = 0, done = 0;
    std::vector<std::string> folders;
    for (const TItemOutcome& outcome : drive.Job->Outcomes()) {
        const int number = std::atoi(outcome.Item.substr(0, 2).c_str());
        auto it = std::find_if(disc.Tracks.begin(), disc.Tracks.end(), [&](const TStationTrack& t) { return t.Number == number; });
        if (it == disc.Tracks.end()) {
            disc.Tracks.push_back({number, outcome.Result, "", ""});
            it = disc.Tracks.end() - 1;
        } else if (outcome.Result != "done") {
            it->Result = outcome.Result;
        }
        if (outcome.Result == "done")
            folders.push_back(FolderOf(outcome.Output));
    }
    for (TStationTrack& t : disc.Tracks) {
        for (const TRipLogTrack& l : log.Tracks)
            if (l.Number == t.Number) {
                t.AccurateRip = l.AccurateRip;
                t.Ctdb = l.Ctdb;
            }
        (t.Result == "done" ? done : failed) += 1;
    }
    if (!folders.empty())
        disc.Folder = folders.front();
    const bool stopped = m_stopping;
    disc.Result = stopped ? "stopped" : failed == 0 && done > 0 ? "ripped" : done > 0 ? "ripped with errors" : "failed";
    drive.Job.reset();
    Record(drive, std::move(disc), !stopped);
    CheckStopped();
}

void TStation::Record(TDrive& drive, TStationDisc disc, bool eject)
{
    disc.End = Now();
    m_say(drive.Name + ": " + disc.Artist + " - " + disc.Album + ": " + disc.Result +
          (disc.Note.empty() ? std::string() : " (" + disc.Note + ")"));
    const std::size_t at = m_history.Add(std::move(disc));
    std::string error;
    if (!m_history.Save(error))
        m_say(error);
    if (m_history.Discs()[at].Result != "skipped" || !m_options.OnDisc.empty())
        RunOnDisc(m_history.Discs()[at]);
    if (drive.Handle != 0) {
        if (eject && m_options.Eject)
            AkripEject(drive.Handle);
        CloseCDHandle(drive.Handle);
        drive.Handle = 0;
    }
}

void TStation::RunOnDisc(const TStationDisc& disc)
{
    if (m_options.OnDisc.empty())
        return;
    QStringList words;
    for (const std::string& word : SplitWords(m_options.OnDisc))
        words << QString::fromStdString(word);
    if (words.isEmpty())
        return;
    const std::vector<std::pair<QString, std::string>> fields = {{QStringLiteral("%log%"), disc.Log},
                                                                {QStringLiteral("%folder%"), disc.Folder},
                                                                {QStringLiteral("%result%"), disc.Result},
                                                                {QStringLiteral("%artist%"), disc.Artist},
                                                                {QStringLiteral("%album%"), disc.Album}};
    for (QString& word : words)
        for (const auto& [field, value] : fields)
            word.replace(field, QString::fromStdString(value));
    const QString program = words.takeFirst();
    if (!QProcess::startDetached(program, words))
        m_say("Cannot run " + program.toStdString() + " ([Station] OnDisc).");
}

void TStation::Stop(std::function<void()> done)
{
    m_stopping = true;
    m_stopped = std::move(done);
    m_poll.stop();
    for (const std::unique_ptr<TDrive>& drive : m_drives)
        if (drive->Job)
            drive->Job->btStopClick();
    CheckStopped();
}

void TStation::CheckStopped()
{
    if (!m_stopping || !m_stopped)
        return;
    if (std::any_of(m_drives.begin(), m_drives.end(), [](const std::unique_ptr<TDrive>& d) { return d->Job != nullptr; }))
        return;
    auto done = std::move(m_stopped);
    m_stopped = nullptr;
    done();
}
