#include "Cli.h"

#include "CliArgs.h"
#include "Ctdb.h"
#include "DiscScan.h"
#include "DriveOffsetList.h"
#include "OffsetSearch.h"
#include "Global.h"
#include "JobItems.h"
#include "GlobalTables.h"
#include "MusicBrainz.h"
#include "OutputFormats.h"
#include "ProgramFolder.h"
#include "QueryCddb.h"
#include "AccurateRipLookup.h"
#include "RipLog.h"
#include "RipVerify.h"
#include "akrip32CddbParse.h"
#include "akrip32Drives.h"
#include "id3.h"
#include "Tagging.h"
#include "rip.h"
#include "MediaMonitor.h"
#include "Station.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

namespace {

const char* const ProgramUsage =
    "Usage: sonvale-cli COMMAND [options]\n"
    "\n"
    "Turns audio CDs into music files and converts files, with the settings of Sonvale\n"
    "(options.ini and cdinfo.dat: installed, in ~/.config/sonvale and ~/.local/share/sonvale;\n"
    "run from its build folder, beside the program).\n"
    "\n"
    "Commands:\n"
    "  drives                      the drives, and which hold an audio disc\n"
    "  tracks [--drive N]          the track list, the disc key and the CDDB disc ID\n"
    "  lookup [--drive N] [--source cddb|musicbrainz] [--release N] [--apply]\n"
    "                              ask the CDDB server (or MusicBrainz); --apply keeps the\n"
    "                              result in cdinfo.dat\n"
    "  rip [--drive N] [--tracks LIST] [--format mp3|wav|ogg|wma|flac|opus[,...]] [--output DIR]\n"
    "      [--normalize PERCENT] [--keep-wav] [--lookup] [--source cddb|musicbrainz] [--release N]\n"
    "      [--secure] [--offset N] [--burst-first|--no-burst-first] [--overwrite] [--jobs N] [--image]\n"
    "                              rip tracks (LIST like 1,3-5; default all); --secure verifies\n"
    "                              every sector and checks AccurateRip and CTDB, --offset N\n"
    "                              (samples) applies the drive's read offset, --image copies\n"
    "                              the whole disc into one file with its cue sheet\n"
    "  station [--drive LIST] [--output DIR] [--format LIST] [--jobs N] [--again] [--no-eject]\n"
    "                              rip every disc put into a drive, unattended, until Ctrl+C\n"
    "  convert --to mp3|wav|ogg|wma|flac|opus [--output DIR] [--jobs N] FILE...\n"
    "                              convert WAV files (MP3 or FLAC files with --to wav)\n"
    "  tag show|set|remove FILE [--title T] [--artist A] [--album A] [--year Y]\n"
    "      [--comment C] [--track N] [--genre NAME]\n"
    "                              the ID3v1 tag of an MP3 file\n"
    "  verify LOG [--accuraterip] [--ctdb]\n"
    "                              check a secure rip's files against its log\n"
    "\n"
    "Every command takes --json (one JSON document on standard output) and --help;\n"
    "sonvale-cli --version prints the version.\n"
    "rip and convert skip a file that exists unless --overwrite (convert: --no-overwrite is the default).\n"
    "rip and convert run --jobs N encoders at once (1 to 16; default one per processor).\n"
    "Exit status: 0 done, 1 an item failed or was skipped, 2 usage error, 130 interrupted.\n";

class TCliDialogs;
class TCliOutput;

// One command of sonvale-cli: its usage text, the options that take a value, the flags, and the
// function that does it. A new command is one row of Commands() and one handler.
struct TCommandSyntax {
    const char* Usage;
    std::set<std::string> ValueOptions;
    std::set<std::string> Flags;
    int (*Handler)(const TCliArgs&, TCliDialogs&, TCliOutput&) = nullptr;
};

const std::map<std::string, TCommandSyntax>& Commands();

// Every message of the run, for the JSON document.
QJsonArray g_errors;

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "sonvale-cli: %s\n", TerminalText(text).c_str());
    g_errors.append(QString::fromStdString(text));
}

int UsageError(const std::string& text, const std::string& usage)
{
    PrintError(text);
    std::fputs(usage.c_str(), stderr);
    return cliUsage;
}

// Where a command's result goes: with --json one JSON document on standard output, otherwise
// its text. Messages go to standard error either way (PrintError), and into that document. A
// command that ends without a result of its own (it failed early) still gives a document with
// --json: its status and messages.
class TCliOutput {
public:
    explicit TCliOutput(bool json) : m_json(json) {}
    bool Json() const { return m_json; }
    // The command's result: document with --json, else what text prints.
    void Result(const QJsonObject& document, const std::function<void()>& text = {})
    {
        if (!m_json) {
            if (text)
                text();
            return;
        }
        m_given = true;
        std::fputs(QJsonDocument(document).toJson(QJsonDocument::Indented).constData(), stdout);
    }
    // The end of the command.
    void Finish(int status)
    {
        if (m_json && !m_given)
            Result({{"ok", status == cliOk}, {"status", status}, {"messages", g_errors}});
    }

private:
    bool m_json;
    bool m_given = false;
};

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// SIGINT and SIGTERM reach the event loop through a socket pair: the handler only writes a byte.
int g_signalPipe[2] = {-1, -1};

std::atomic<bool> g_watching{false};       // a TSignalWatch turns signals into its event
std::atomic<bool> g_holding{false};        // a file is being written: the signal waits for it
std::atomic<int> g_heldSignal{0};

extern "C" void OnSignal(int sig)
{
    const int saved = errno;  // the interrupted code may be about to read it
    if (g_holding.load()) {
        g_heldSignal = sig;
    } else if (g_watching.load()) {
        const char byte = static_cast<char>(sig);  // which one: a station ends on SIGTERM with 0
        [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
    } else {
        signal(sig, SIG_DFL);
        raise(sig);
    }
    errno = saved;
}

void CatchSignals()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// While cdinfo.dat and options.ini are written: Ctrl+C or SIGTERM then ends the program once the
// file is whole, never half way with its temporary file left behind.
class THoldSignals {
public:
    THoldSignals()
    {
        CatchSignals();
        g_holding = true;
    }
    ~THoldSignals()
    {
        g_holding = false;
        if (const int sig = g_heldSignal.exchange(0)) {
            signal(sig, SIG_DFL);
            raise(sig);
        }
    }
    THoldSignals(const THoldSignals&) = delete;
    THoldSignals& operator=(const THoldSignals&) = delete;
};

class TSignalWatch {
public:
    explicit TSignalWatch(std::function<void()> onSignal)
    {
        if (g_signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, onSignal = std::move(onSignal)] {
            char buffer[16];
            for (ssize_t n; (n = read(g_signalPipe[0], buffer, sizeof buffer)) > 0;)
                Signal = buffer[n - 1];
            Interrupted = true;
            onSignal();
        });
        g_watching = true;
        CatchSignals();
    }
    // Outside a watch a signal ends the program as by default (OnSignal).
    ~TSignalWatch() { g_watching = false; }
    bool Interrupted = false;
    int Signal = 0;  // the last one caught

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Progress on standard error: on a terminal one line per stage redrawn in place, otherwise a line
// when the stage changes and at every tenth of the bar.
class TCliProgress : public TRipView {
public:
    explicit TCliProgress(std::function<void()> onClose)
        : m_tty(isatty(STDERR_FILENO) == 1)
        , m_onClose(std::move(onClose))
    {
    }
    void DisplayChanged(const TRipDisplay& d) override
    {
        const int percent = std::clamp(d.Bar, 0, 100);
        std::string line = d.Caption.empty() ? d.Stage : d.Caption;
        if (d.InitializingShown) {
            line += "  Initializing...";
        } else {
            constexpr int width = 30;
            const int filled = percent * width / 100;
            line += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(width - filled), '-') + "] " + std::to_string(percent) + "%";
        }
        if (!d.Elapsed.empty())
            line += "  " + d.Elapsed;
        if (!d.Estimated.empty())
            line += " / " + d.Estimated;
        if (!d.Encoding.empty())
            line += "  " + d.Encoding;
        line = TerminalText(line);
        const bool newStage = d.Caption != m_caption;
        if (m_tty) {
            if (newStage && m_lineOpen)
                std::fputc('\n', stderr);
            std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
            m_lineOpen = true;
        } else if (newStage || percent / 10 != m_tenth) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::fflush(stderr);
        m_caption = d.Caption;
        m_tenth = percent / 10;
    }
    void Notice(const std::string& text) override
    {
        EndLine();
        std::fprintf(stderr, "sonvale-cli: %s\n", TerminalText(text).c_str());
        std::fflush(stderr);
    }
    void CloseJob() override
    {
        EndLine();
        Over = true;
        m_onClose();
    }
    // Before anything else is written to standard error.
    void EndLine()
    {
        if (m_lineOpen)
            std::fputc('\n', stderr);
        m_lineOpen = false;
    }
    bool Over = false;

private:
    bool m_tty;
    std::function<void()> m_onClose;
    std::string m_caption;
    int m_tenth = -1;
    bool m_lineOpen = false;
};

// The boxes the windows would show, as lines on standard error; questions answered by the
// command line, never by waiting for input.
class TCliDialogs : public Dialogs {
public:
    bool Overwrite = false;
    int Failures = 0;
    TCliProgress* Progress = nullptr;

    void MessageBox(const QString& text, Icon) override
    {
        Say(text);
        ++Failures;
    }
    Answer AskYesNo(const QString& text, Icon, Answer) override
    {
        Say(text + (Overwrite ? QStringLiteral(" yes (--overwrite)") : QStringLiteral(" no (--no-overwrite)")));
        if (!Overwrite)
            ++Failures;  // the item is skipped
        return Overwrite ? Answer::Yes : Answer::No;
    }
    Answer AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer) override
    {
        return AskYesNo(text, icon, defaultAnswer);
    }
    QStringList OpenFiles(const QString&, bool, const FileDialogSetup&) override { return {}; }
    QString SaveFile(const QString&, const QString&, const FileDialogSetup&) override { return {}; }
    QString BrowseFolder(const QString&, const QString&) override { return {}; }
    bool OpenWithShell(const QString&) override { return false; }
    int ShowModal(QDialog&) override { return 0; }

private:
    void Say(const QString& text)
    {
        if (Progress)
            Progress->EndLine();
        PrintError(text.toStdString());
    }
};


// Opens the drive (position from 0, or -1: as the main window does) and lists its disc; an
// error text when there is no disc to work on.
std::string OpenDisc(TDiscScan& disc, int position)
{
    for (const std::string& problem : DiscImageProblems())
        PrintError(problem);
    if (position < 0) {
        disc.FormShow();
    } else {
        disc.CDHandle = disc.OpenDrive(position);
        if (disc.CDHandle != 0 && disc.AudioCDPresent())
            disc.ScanDisc();
    }
    if (disc.CDHandle == 0)
        return disc.StatusText();
    if (disc.Rows.empty())
        return NoAudioDiscText(disc.CDHandle);
    return {};
}

void CloseDisc(TDiscScan& disc)
{
    if (disc.CDHandle != 0)
        CloseCDHandle(disc.CDHandle);
    disc.CDHandle = 0;
}

// --drive N (from 1) as a position, -1 when absent; false after a usage error.
bool DrivePosition(const TCliArgs& args, int& position)
{
    position = -1;
    const auto it = args.Values.find("drive");
    if (it == args.Values.end())
        return true;
    const auto n = ParseNumber(it->second, 1, MaxCDList);
    if (!n)
        return false;
    position = *n - 1;
    return true;
}

std::string GenreName(int32_t choice)
{
    return choice >= 1 && choice <= GenreCount ? GenreNames[static_cast<std::size_t>(choice - 1)].Name : "";
}

// The index of the genre named name in any letter case ("rock", "ROCK"), or -1.
int GenreIndexIgnoringCase(const std::string& name)
{
    for (std::size_t i = 0; i < GenreNames.size(); ++i)
        if (QString::fromStdString(name).compare(QString::fromStdString(GenreNames[i].Name), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

int CommandDrives(const TCliArgs&, TCliDialogs&, TCliOutput& out)
{
    for (const std::string& problem : DiscImageProblems())
        PrintError(problem);
    const TCDList list = DriveList();
    QJsonArray drives;
    // The offsets as a secure rip would take them (the drive list as kept: this asks no server).
    const std::vector<TDriveOffsetEntry> offsets =
        list.Num > 0 ? LoadDriveOffsetList(Options.SecureOptions.AccurateRipServer, CacheFolder(), false).Entries
                     : std::vector<TDriveOffsetEntry>{};
    for (int i = 0; i < list.Num; ++i) {
        TTOC toc;
        const bool audio = ReadDriveToc(list, i, toc) && IsAudioDisc(toc);
        const std::string name = DriveFullName(list, i);
        const std::string vendor(list.Cd[i].Vendor, strnlen(list.Cd[i].Vendor, sizeof list.Cd[i].Vendor));
        const std::string model(list.Cd[i].ProductId, strnlen(list.Cd[i].ProductId, sizeof list.Cd[i].ProductId));
        const TReadOffset offset = ChooseReadOffset({}, Options.DriveOffsets, DriveModelKey(vendor, model),
                                                    Options.SecureOptions.ReadOffset, EntriesForDrive(offsets, vendor, model));
        drives.append(QJsonObject{{"number", i + 1}, {"name", Q(name)}, {"audio_disc", audio},
                                  {"vendor", Q(QString::fromStdString(vendor).trimmed().toStdString())},
                                  {"model", Q(QString::fromStdString(model).trimmed().toStdString())},
                                  {"read_offset", offset.Samples}, {"read_offset_source", Q(offset.SourceText())}});
        if (!out.Json())
            std::printf("%d  %-26s  %s\n", i + 1, name.c_str(), audio ? "audio disc" : "no audio disc");
    }
    out.Result({{"drives", drives}}, [&] {
        if (list.Num == 0)
            PrintError("No CD devices found!");
    });
    return list.Num == 0 ? cliFailed : cliOk;
}

QJsonObject DiscJson(const TDiscScan& disc, const std::string& key, const std::string& id)
{
    QJsonArray tracks;
    for (const TTrackRow& row : disc.Rows)
        tracks.append(QJsonObject{{"number", row.TrackNumber}, {"title", Q(row.Title)}, {"length", Q(row.LengthText)},
                                  {"size_mb", Q(row.SizeText)}, {"checked", row.Checked}});
    const TCDInfo& info = Options.CDInfo;
    return {{"disc_key", Q(key)}, {"cddb_id", Q(id)}, {"artist", Q(info.Artist)}, {"album", Q(info.Album)},
            {"year", Q(info.Year)}, {"genre", Q(GenreName(info.Genre))}, {"tracks", tracks}};
}

std::string CddbIdOf(HCDROM handle)
{
    TTOC toc{};
    if (!ReadMsfToc(handle, toc))
        return {};
    char id[9];
    std::snprintf(id, sizeof id, "%08x", CddbDiscId(toc));
    return id;
}

int CommandTracks(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out)
{
    int position;
    if (!DrivePosition(args, position))
        return UsageError("--drive takes a drive number from 1 (see: sonvale-cli drives)", Commands().at("tracks").Usage);
    TDiscScan disc(dialogs);
    if (const std::string error = OpenDisc(disc, position); !error.empty()) {
        CloseDisc(disc);
        PrintError(error);
        return cliFailed;
    }
    const std::string key = disc.ListedKey();
    const std::string id = CddbIdOf(disc.CDHandle);
    TTOC toc{};
    const std::string ctdb = ReadMsfToc(disc.CDHandle, toc) ? CtdbTocId(toc) : std::string();
    QJsonObject document = DiscJson(disc, key, id);
    document.insert("ctdb_id", Q(ctdb));
    out.Result(document, [&] {
        std::printf("Disc key %s, CDDB ID %s, CTDB TOC ID %s\n", key.c_str(), id.c_str(), ctdb.c_str());
        // The title column as wide as the longest title (in characters, not bytes), so the
        // columns after it stay in line.
        qsizetype width = 32;
        for (const TTrackRow& row : disc.Rows)
            width = std::max(width, Q(row.Title).size());
        const auto padded = [width](const std::string& text) {
            return text + std::string(static_cast<std::size_t>(width - Q(text).size()), ' ');
        };
        std::printf("No.  %s  Length(min)  Size(MB)  Checked\n", padded("Title").c_str());
        for (const TTrackRow& row : disc.Rows)
            std::printf("%-3d  %s  %-11s  %-8s  %s\n", row.TrackNumber, padded(TerminalText(row.Title)).c_str(),
                        row.LengthText.c_str(), row.SizeText.c_str(), row.Checked ? "yes" : "no");
    });
    CloseDisc(disc);
    return cliOk;
}

// Runs the lookup in the event loop; false (and said) when nothing was found or it was stopped.
// A signal quits the loop (the caller's watch); the lookup is then abandoned as it goes.
bool Lookup(TDiscScan& disc, QEventLoop& loop, bool& found)
{
    TTOC toc{};
    if (!ReadMsfToc(disc.CDHandle, toc)) {
        PrintError("Error while reading TOC information!");
        return false;
    }
    found = false;
    bool over = false;
    const std::string server = Options.QueryCDDB.Server.empty() ? std::string(DefaultCDDBServer) : Options.QueryCDDB.Server;
    TCddbLookup lookup(toc.FirstTrack, toc.LastTrack, disc.CDHandle);
    const auto nothing = [&] {
        const std::string reason = lookup.NoMatchReason().empty() ? CddbFailureReason(ALERR_NOERROR) : lookup.NoMatchReason();
        PrintError("No match from " + server + ": " + reason);
        over = true;
        loop.quit();
    };
    lookup.OnNoMatch = nothing;
    // An entry that was read but holds nothing ends "over" with nothing found: no match as well.
    lookup.OnApply = [&](const TCddbFields& fields) {
        found = fields.HasTitles || fields.Artist || fields.Album || fields.Year || fields.Genre;
        if (found)
            ApplyCddbResult(fields, disc.Rows, Options.CDInfo);
    };
    lookup.OnOver = [&] {
        if (!found)
            return nothing();
        over = true;
        loop.quit();
    };
    lookup.Start();
    if (!over)
        loop.exec();
    return found;
}

// How a lookup is asked for: its source, and which of several releases (1-based; 0: none
// chosen). What MusicBrainz listed is kept for the output.
struct TLookupChoice {
    bool MusicBrainz = false;
    int Release = 0;
    std::vector<TMbRelease> Releases;
};

// "--source cddb|musicbrainz" and "--release N"; false (and why) when they are wrong.
bool ParseLookupChoice(const TCliArgs& args, TLookupChoice& choice, std::string& error)
{
    if (const auto it = args.Values.find("source"); it != args.Values.end()) {
        if (it->second != "cddb" && it->second != "musicbrainz") {
            error = "--source takes cddb or musicbrainz";
            return false;
        }
        choice.MusicBrainz = it->second == "musicbrainz";
    }
    if (const auto it = args.Values.find("release"); it != args.Values.end()) {
        const auto n = ParseNumber(it->second, 1, 1000);
        if (!n || !choice.MusicBrainz) {
            error = n ? "--release goes with --source musicbrainz" : "--release takes the number of a listed release, from 1";
            return false;
        }
        choice.Release = *n;
    }
    return true;
}

// The MusicBrainz lookup: one release is taken; of several, the one --release names, else they
// are listed and none is taken.
bool LookupMusicBrainzRun(TDiscScan& disc, QEventLoop& loop, TLookupChoice& choice)
{
    bool found = false, over = false;
    TMusicBrainzLookup lookup(disc.CDHandle, Options.MusicBrainz);
    lookup.OnNoMatch = [&] {
        PrintError("No match from MusicBrainz: " + lookup.NoMatchReason());
        over = true;
        loop.quit();
    };
    lookup.OnChoose = [&](const std::vector<TMbRelease>& releases) {
        if (choice.Release >= 1 && choice.Release <= static_cast<int>(releases.size()))
            return choice.Release - 1;
        std::fprintf(stderr, "sonvale-cli: %zu releases hold this disc:\n", releases.size());
        for (std::size_t i = 0; i < releases.size(); ++i)
            std::fprintf(stderr, "%3zu  %s\n", i + 1, TerminalText(ReleaseSummary(releases[i])).c_str());
        PrintError(choice.Release > 0 ? "There is no release " + std::to_string(choice.Release) + " in the list."
                                      : "Choose one with --release N.");
        return -1;
    };
    lookup.OnApply = [&](const TCddbFields& fields) {
        found = true;
        ApplyCddbResult(fields, disc.Rows, Options.CDInfo);
    };
    lookup.OnOver = [&] {
        over = true;
        loop.quit();
    };
    lookup.Start();
    if (!over)
        loop.exec();
    if (!over)
        lookup.Abandon();  // interrupted
    choice.Releases = lookup.Releases();
    return found;
}

bool LookupFrom(TDiscScan& disc, QEventLoop& loop, TLookupChoice& choice)
{
    bool found = false;
    return choice.MusicBrainz ? LookupMusicBrainzRun(disc, loop, choice) : Lookup(disc, loop, found);
}

QJsonArray ReleasesJson(const std::vector<TMbRelease>& releases)
{
    QJsonArray list;
    for (const TMbRelease& r : releases) {
        QJsonArray tracks;
        for (const TMbTrack& t : r.Tracks)
            tracks.append(QJsonObject{{"title", Q(t.Title)}, {"artist", Q(t.Artist)}});
        list.append(QJsonObject{{"id", Q(r.Id)},           {"title", Q(r.Title)},     {"artist", Q(r.Artist)},
                                {"date", Q(r.Date)},       {"country", Q(r.Country)}, {"label", Q(r.Label)},
                                {"catalog_number", Q(r.CatalogNumber)}, {"barcode", Q(r.Barcode)},
                                {"format", Q(r.Format)},   {"medium", r.Medium},      {"media", r.MediumCount},
                                {"fuzzy", r.Fuzzy},        {"tracks", tracks}});
    }
    return list;
}

void PrintDiscInfo(const TDiscScan& disc)
{
    const TCDInfo& info = Options.CDInfo;
    std::printf("Artist: %s\nAlbum: %s\nYear: %s\nGenre: %s\n", TerminalText(info.Artist).c_str(),
                TerminalText(info.Album).c_str(), TerminalText(info.Year).c_str(), GenreName(info.Genre).c_str());
    for (const TTrackRow& row : disc.Rows)
        std::printf("%2d  %s\n", row.TrackNumber, TerminalText(row.Title).c_str());
}

int CommandLookup(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out)
{
    int position;
    if (!DrivePosition(args, position))
        return UsageError("--drive takes a drive number from 1 (see: sonvale-cli drives)", Commands().at("lookup").Usage);
    TLookupChoice choice;
    if (std::string error; !ParseLookupChoice(args, choice, error))
        return UsageError(error, Commands().at("lookup").Usage);
    TDiscScan disc(dialogs);
    if (const std::string error = OpenDisc(disc, position); !error.empty()) {
        CloseDisc(disc);
        PrintError(error);
        return cliFailed;
    }
    QEventLoop loop;
    TSignalWatch interrupts([&loop] { loop.quit(); });
    const bool found = LookupFrom(disc, loop, choice);
    if (interrupts.Interrupted) {
        CloseDisc(disc);
        return cliInterrupted;
    }
    if (!found) {
        // Several releases and none chosen: the list is the answer, with --json too.
        if (out.Json() && !choice.Releases.empty())
            out.Result({{"source", "musicbrainz"}, {"releases", ReleasesJson(choice.Releases)}, {"chosen", QJsonValue()}},
                       [] {});
        CloseDisc(disc);
        return cliFailed;
    }
    QJsonObject document = DiscJson(disc, disc.ListedKey(), CddbIdOf(disc.CDHandle));
    document.insert("source", choice.MusicBrainz ? "musicbrainz" : "cddb");
    if (choice.MusicBrainz) {
        document.insert("musicbrainz_release", Q(Options.CDInfo.MusicBrainzRelease));
        document.insert("releases", ReleasesJson(choice.Releases));
    }
    out.Result(document, [&] { PrintDiscInfo(disc); });
    if (args.Has("apply")) {
        try {
            const THoldSignals hold;
            disc.FormClose();  // the titles and the disc's information into cdinfo.dat, as at the window's close
        } catch (const std::exception& e) {
            PrintError(e.what());
            CloseDisc(disc);
            return cliFailed;
        }
    }
    CloseDisc(disc);
    return cliOk;
}

// The output folder: --output (made when missing) or the options' folder, which must exist.
bool PrepareOutputFolder(const TCliArgs& args, std::string& folder)
{
    folder = Options.CommonOptions.OutputFolder;
    if (const auto it = args.Values.find("output"); it != args.Values.end()) {
        std::error_code ec;
        std::filesystem::create_directories(it->second, ec);
        if (!std::filesystem::is_directory(it->second)) {
            PrintError("Cannot create " + it->second + (ec ? ": " + ec.message() : std::string()));
            return false;
        }
        folder = QFileInfo(Q(it->second)).absoluteFilePath().toStdString();
    }
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(folder, ec) && MakeOutputFolder(folder))
        std::fprintf(stderr, "sonvale-cli: created the output directory %s\n", folder.c_str());  // as the window offers
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        PrintError("The output directory \"" + folder +
                   "\" does not exist. Give one with --output DIR, or set it in Sonvale's options.");
        return false;
    }
    // Files going to the folder of the settings, not one typed: said where, before they go.
    if (!args.Values.count("output"))
        std::fprintf(stderr,
                     "sonvale-cli: writing into %s (the output folder of the settings; --output DIR for another)\n",
                     folder.c_str());
    return true;
}

// After a secure rip: each track's AccurateRip and CTDB verdicts, the summary, CTDB's word on the
// disc and the log's path, said on standard error with the progress, and given for the JSON
// document.
QJsonObject SayVerdicts(const TRipLog& record)
{
    QJsonArray verdicts;
    for (const TRipLogTrack& track : record.Tracks) {
        std::fprintf(stderr, "Track %s: AccurateRip: %s; CTDB: %s\n", TwoDigits(track.Number).c_str(),
                     TerminalText(track.AccurateRip).c_str(), TerminalText(track.Ctdb).c_str());
        verdicts.append(QJsonObject{{"track", track.Number}, {"accuraterip", Q(track.AccurateRip)}, {"ctdb", Q(track.Ctdb)}});
    }
    const std::string summary = RipLogSummary(record);
    std::fprintf(stderr, "Summary: %s\n", summary.c_str());
    if (!record.CtdbDisc.empty())
        std::fprintf(stderr, "CTDB: %s\n", TerminalText(record.CtdbDisc).c_str());
    if (!record.Path.empty())
        std::fprintf(stderr, "Log: %s\n", record.Path.c_str());
    return {{"log", Q(record.Path)},
            {"tracks", verdicts},
            {"summary", Q(summary)},
            {"ctdb", Q(record.CtdbDisc)},
            {"ctdb_id", Q(record.CtdbId)},
            {"offset_hint", record.OffsetHint.empty() ? QJsonValue() : QJsonValue(Q(record.OffsetHint))}};
}

// Before a secure rip whose drive has no offset of its own: the AccurateRip drive list fetched
// when the copy kept is missing or old (the job reads the copy); its note said.
void RefreshDriveList(const TJobSettings& settings, HCDROM handle)
{
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(handle);
    if (!drive || settings.OffsetGiven || settings.Secure.ReadOffset != 0)
        return;
    const std::string key = DriveModelKey(drive->Vendor(), drive->Product());
    if (ChooseReadOffset({}, settings.DriveOffsets, key, 0, {}).Source != TOffsetSource::None)
        return;
    const TDriveOffsetList list = LoadDriveOffsetList(settings.Secure.AccurateRipServer, CacheFolder(), true);
    if (!list.Note.empty())
        PrintError(list.Note);
}

// --jobs N: the encoders the job runs at once, 1..16; by default one per processor. False for
// anything else.
bool ParseJobs(const TCliArgs& args, TJobSettings& settings)
{
    settings.Encoders = EncodersAtOnce(0);
    const auto it = args.Values.find("jobs");
    if (it == args.Values.end())
        return true;
    const auto n = ParseNumber(it->second, 1, MaxEncoders);
    if (n)
        settings.Encoders = *n;
    return n.has_value();
}

// Runs a job to its end in the event loop; SIGINT and SIGTERM stop it as the Stop button does.
// Runs a job with settings to its end. alreadyFailed: something asked for before the job failed
// (a lookup, a missing input), so the run is not ok.
int RunJobToEnd(TJobKind kind, HCDROM handle, std::vector<std::string> items, const TJobSettings& settings,
                TCliDialogs& dialogs, TCliOutput& out, bool alreadyFailed)
{
    QEventLoop loop;
    TCliProgress progress([&loop] { loop.quit(); });
    dialogs.Progress = &progress;
    TMp3EncodeProcess mp3(dialogs);
    TWMAEncodeProcess wma(dialogs);
    const std::vector<std::string> itemsCopy = items;
    TRipJob job(progress, dialogs, mp3, wma, kind, handle, std::move(items), settings);
    TSignalWatch interrupts([&job] { job.btStopClick(); });
    bool started = true;
    try {
        job.Start();
    } catch (const std::exception& e) {
        dialogs.MessageBox(QString::fromUtf8(e.what()), Dialogs::Icon::Error);
        started = false;
    }
    if (started && !progress.Over)
        loop.exec();
    job.FormClose();
    dialogs.Progress = nullptr;
    const QJsonObject secure = job.SecureRecord().Tracks.empty() ? QJsonObject() : SayVerdicts(job.SecureRecord());
    const int status = interrupts.Interrupted ? cliInterrupted
                       : dialogs.Failures == 0 && started && !alreadyFailed ? cliOk
                                                                            : cliFailed;
    if (out.Json()) {
        QJsonArray list, results;
        for (const std::string& item : itemsCopy)
            list.append(Q(item));
        // The job's own outcomes, which may hold an item it added (a secure rip's hidden audio);
        // before it started, every item not done.
        std::vector<TItemOutcome> rows = job.Outcomes();
        if (rows.empty())
            for (const std::string& item : itemsCopy)
                rows.push_back({item, "", "not done"});
        for (const TItemOutcome& outcome : rows) {
            results.append(QJsonObject{{"item", Q(outcome.Item)}, {"output", Q(outcome.Output)}, {"result", Q(outcome.Result)}});
        }
        // Every message of the run (a failed lookup's as well), so that ok and the messages
        // always agree with the exit status.
        out.Result({{"items", list},
                   {"results", results},
                   {"output_folder", Q(settings.Common.OutputFolder)},
                   {"messages", g_errors},
                   {"interrupted", interrupts.Interrupted},
                   {"secure", secure.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(secure)},
                   {"status", status},
                   {"ok", status == cliOk}});
    }
    return status;
}

// --format: one format, or a list ("flac,opus"), each track read once and encoded to each; the
// usage error, or "".
std::string ParseFormats(const TCliArgs& args, TJobSettings& settings)
{
    const auto it = args.Values.find("format");
    if (it == args.Values.end())
        return {};
    std::string unknown;
    const std::vector<int32_t> formats = FormatsOfKeys(it->second, &unknown);
    if (formats.empty() || !unknown.empty())
        return "--format takes mp3, wav, ogg, wma, flac or opus, or a list of them like flac,opus";
    if (formats.size() > 1 && std::any_of(formats.begin(), formats.end(), [](int32_t f) { return !FormatOfStored(f).Encoded; }))
        return "--format lists encoded formats only: the WAV of each track is kept with --keep-wav";
    settings.Common.OutputFormat = formats.front();
    settings.AlsoFormats.assign(formats.begin() + 1, formats.end());
    return {};
}

// The station: every disc put into a watched drive ripped, recorded and ejected, until Ctrl+C
// (exit status 130) or SIGTERM (0), which end the rips under way first.
int CommandStation(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput&)
{
    const char* usage = Commands().at("station").Usage;
    TJobSettings settings = TJobSettings::FromOptions();
    if (const std::string error = ParseFormats(args, settings); !error.empty())
        return UsageError(error, usage);
    if (!ParseJobs(args, settings))
        return UsageError("--jobs takes a number of encoders from 1 to 16", usage);
    TStationOptions options;
    if (const auto it = args.Values.find("drive"); it != args.Values.end()) {
        const auto drives = ParseTrackList(it->second);
        if (!drives)
            return UsageError("--drive takes drive numbers like 1,2 (see: sonvale-cli drives)", usage);
        for (const int d : *drives)
            options.Drives.push_back(d - 1);
    }
    options.Again = args.Has("again");
    options.Eject = !args.Has("no-eject");
    options.Jobs = settings.Encoders;
    options.OnDisc = Options.Station.OnDisc;
    for (const std::string& problem : DiscImageProblems())
        PrintError(problem);
    if (!PrepareOutputFolder(args, settings.Common.OutputFolder))
        return cliFailed;
    QEventLoop loop;
    TStation station(options, settings, dialogs, [](const std::string& line) {
        std::fprintf(stderr, "sonvale-cli: %s\n", TerminalText(line).c_str());
        std::fflush(stderr);
    });
    const std::unique_ptr<TMediaMonitor> monitor = CreateMediaMonitor();
    if (!station.Start(monitor.get()))
        return cliFailed;
    TSignalWatch interrupts([&] { station.Stop([&loop] { loop.quit(); }); });
    loop.exec();
    return interrupts.Signal == SIGTERM ? cliOk : cliInterrupted;
}

int CommandRip(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out)
{
    const char* usage = Commands().at("rip").Usage;
    int position;
    if (!DrivePosition(args, position))
        return UsageError("--drive takes a drive number from 1 (see: sonvale-cli drives)", usage);
    std::optional<std::vector<int>> tracks;
    if (const auto it = args.Values.find("tracks"); it != args.Values.end()) {
        tracks = ParseTrackList(it->second);
        if (!tracks)
            return UsageError("--tracks takes a list like 1,3-5", usage);
    }
    // This run's settings: the options with the flags over them. options.ini is not touched by
    // them; it is written at the end as the window writes it.
    TJobSettings settings = TJobSettings::FromOptions();
    if (args.Has("secure"))
        settings.Secure.SecureMode = true;
    if (args.Has("burst-first") && args.Has("no-burst-first"))
        return UsageError("--burst-first and --no-burst-first exclude each other", usage);
    if (args.Has("burst-first") || args.Has("no-burst-first"))
        settings.Secure.BurstFirst = args.Has("burst-first");
    if (const auto it = args.Values.find("offset"); it != args.Values.end()) {
        const bool negative = !it->second.empty() && it->second[0] == '-';
        const auto samples = ParseNumber(std::string_view(it->second).substr(negative ? 1 : 0), 0, 5880);
        if (!samples)
            return UsageError("--offset takes a number of samples from -5880 to 5880", usage);
        settings.OffsetGiven = negative ? -*samples : *samples;
        settings.Secure.SecureMode = true;  // the offset is applied by secure reads
    }
    if (const std::string error = ParseFormats(args, settings); !error.empty())
        return UsageError(error, usage);
    if (const auto it = args.Values.find("normalize"); it != args.Values.end()) {
        const auto percent = ParseNumber(it->second, 1, 100);
        if (!percent)
            return UsageError("--normalize takes a percentage from 1 to 100", usage);
        settings.Common.IsNormalize = true;
        settings.Common.NormalizePercent = *percent;
    }
    if (args.Has("keep-wav"))
        settings.Common.IsKeepWav = true;
    if (!ParseJobs(args, settings))
        return UsageError("--jobs takes a number of encoders from 1 to 16", usage);
    if (args.Has("image")) {
        if (tracks)
            return UsageError("--image copies the whole disc: it takes no --tracks", usage);
        if (!settings.AlsoFormats.empty())
            return UsageError("--image writes one file: it takes one --format", usage);
        settings.Secure.SecureMode = true;
        settings.Secure.Image = true;
    }
    if (settings.Secure.SecureMode && settings.Secure.Image) {
        const TOutputFormat& format = FormatOfStored(settings.Common.OutputFormat);
        if (format.Encoded && format.Tags != TTagFamily::FlacXiph)
            return UsageError(std::string("a disc image is written as WAV or FLAC, not ") + std::string(format.Key) +
                                  " (--format wav or --format flac)",
                              usage);
    }

    TDiscScan disc(dialogs);
    int status = cliOk;
    if (const std::string error = OpenDisc(disc, position); !error.empty()) {
        PrintError(error);
        status = cliFailed;
    }
    if (status == cliOk && tracks) {
        for (const int t : *tracks) {
            if (std::none_of(disc.Rows.begin(), disc.Rows.end(), [t](const TTrackRow& r) { return r.TrackNumber == t; })) {
                status = UsageError("track " + std::to_string(t) + " is not on the disc", usage);
                break;
            }
        }
        for (TTrackRow& row : disc.Rows)
            row.Checked = std::find(tracks->begin(), tracks->end(), row.TrackNumber) != tracks->end();
    }
    bool lookupFailed = false;
    TLookupChoice choice;
    if (std::string error; !ParseLookupChoice(args, choice, error))
        return UsageError(error, usage);
    if (status == cliOk && args.Has("lookup")) {
        QEventLoop loop;
        TSignalWatch interrupts([&loop] { loop.quit(); });
        // Nothing found: the tracks are still ripped, with the titles of cdinfo.dat, and the
        // exit status says that not everything asked for was done.
        lookupFailed = !LookupFrom(disc, loop, choice);
        if (interrupts.Interrupted)
            status = cliInterrupted;
    }
    if (status == cliOk && !PrepareOutputFolder(args, settings.Common.OutputFolder))
        status = cliFailed;
    if (status == cliOk && settings.Secure.SecureMode)
        RefreshDriveList(settings, disc.CDHandle);
    if (status == cliOk) {
        settings.Disc = Options.CDInfo;  // as the lookup left it: the tags
        std::vector<std::string> items;
        for (std::size_t r = 0; r < disc.Rows.size(); ++r)
            if (disc.Rows[r].Checked)
                items.push_back(TrackItemText(static_cast<int>(r) + 1, disc.Rows[r].Title));
        if (items.empty()) {
            PrintError("Please select a track at least!");
            status = cliFailed;
        } else {
            status = RunJobToEnd(jkRipTracks, disc.CDHandle, std::move(items), settings, dialogs, out, lookupFailed);
        }
    }
    // As at the window's close: the titles into cdinfo.dat, the settings into options.ini.
    try {
        const THoldSignals hold;
        if (disc.CDHandle != 0 && !disc.Rows.empty())
            disc.FormClose();
        LoadSaveOptions(false);
    } catch (const std::exception& e) {
        PrintError(e.what());
        if (status == cliOk)
            status = cliFailed;
    }
    CloseDisc(disc);
    return status;
}

int CommandConvert(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out)
{
    const char* usage = Commands().at("convert").Usage;
    static const std::map<std::string, TJobKind> kinds = {{"mp3", jkWavToMp3}, {"wav", jkMp3ToWav},
                                                          {"ogg", jkWavToOgg}, {"wma", jkWavToWma},
                                                          {"flac", jkWavToFlac}, {"opus", jkWavToOpus}};
    const auto to = args.Values.find("to");
    if (to == args.Values.end() || !kinds.count(to->second))
        return UsageError("convert needs --to mp3, wav, ogg, wma, flac or opus", usage);
    if (args.Plain.empty())
        return UsageError("convert needs at least one FILE", usage);
    int status = cliOk;
    std::vector<std::string> items;
    for (const std::string& file : args.Plain) {
        const QFileInfo info(Q(file));
        if (!info.isFile()) {
            PrintError(file + ": " + (info.exists() ? "not a file" : "no such file"));
            status = cliFailed;
            continue;
        }
        items.push_back(info.absoluteFilePath().toStdString());
    }
    TJobKind kind = kinds.at(to->second);
    if (kind == jkMp3ToWav && !items.empty()) {
        // FLAC files decode in the process, MP3 files through lame: one kind of file per run.
        const TSourceKind& flac = *FileJobOf(jkFlacToWav)->Source;
        const auto flacs = std::count_if(items.begin(), items.end(), [&](const std::string& f) { return flac.Is(f); });
        if (flacs == static_cast<std::ptrdiff_t>(items.size()))
            kind = jkFlacToWav;
        else if (flacs > 0)
            return UsageError("convert --to wav takes MP3 files or FLAC files, not both in one run", usage);
    }
    TJobSettings settings = TJobSettings::FromOptions();
    if (!ParseJobs(args, settings))
        return UsageError("--jobs takes a number of encoders from 1 to 16", usage);
    if (!items.empty() && PrepareOutputFolder(args, settings.Common.OutputFolder)) {
        const int job = RunJobToEnd(kind, 0, std::move(items), settings, dialogs, out, status != cliOk);
        status = job == cliOk ? status : job;
    } else if (!items.empty()) {
        status = cliFailed;
    }
    return status;
}

std::string GenreOfCode(uint8_t code)
{
    for (const TGenreName& g : GenreNames)
        if (g.Code == code)
            return g.Name;
    return {};
}

// The AccurateRip disc ID as a log writes it: "003-0001a2b3-00d2ca2c-9f0ae10b".
std::optional<TAccurateRipDiscId> DiscIdOfText(const std::string& text)
{
    TAccurateRipDiscId id;
    unsigned tracks = 0, id1 = 0, id2 = 0, cddb = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%3u-%8x-%8x-%8x%c", &tracks, &id1, &id2, &cddb, &end) != 4 || tracks > 99)
        return std::nullopt;
    id.AudioTracks = static_cast<int>(tracks);
    id.Id1 = id1;
    id.Id2 = id2;
    id.CddbId = cddb;
    return id;
}

// --- offset ------------------------------------------------------------------------------------

// The drive list for the offset commands: fetched when the copy is missing or old; its note said.
std::vector<TDriveOffsetEntry> OffsetList()
{
    TDriveOffsetList list = LoadDriveOffsetList(Options.SecureOptions.AccurateRipServer, CacheFolder(), true);
    if (!list.Note.empty())
        PrintError(list.Note);
    return std::move(list.Entries);
}

QJsonObject EntryJson(const TDriveOffsetEntry& e)
{
    return {{"name", Q(e.Name())}, {"offset", e.Offset}, {"submissions", e.Submissions}};
}

// The drive's offset as a secure rip would take it, and the list's other entries for the model.
TReadOffset DriveReadOffset(const TDriveBackend& drive, const std::vector<TDriveOffsetEntry>& listed)
{
    return ChooseReadOffset({}, Options.DriveOffsets, DriveModelKey(drive.Vendor(), drive.Product()),
                            Options.SecureOptions.ReadOffset, listed);
}

int OffsetFind(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out, int position)
{
    const char* usage = Commands().at("offset").Usage;
    std::optional<std::vector<int>> chosen;
    if (const auto it = args.Values.find("tracks"); it != args.Values.end() && !(chosen = ParseTrackList(it->second)))
        return UsageError("--tracks takes a list like 5,3", usage);
    TDiscScan disc(dialogs);
    if (const std::string error = OpenDisc(disc, position); !error.empty()) {
        PrintError(error);
        CloseDisc(disc);
        return cliFailed;
    }
    const auto done = [&](int status) {
        CloseDisc(disc);
        return status;
    };
    TTOC toc{};
    if (!ReadMsfToc(disc.CDHandle, toc))
        return done((PrintError("Error while reading TOC information!"), cliFailed));
    // The tracks to read: those asked for, else the longest two away from the disc's first track.
    std::vector<int> tracks;
    if (chosen) {
        const int count = toc.LastTrack - toc.FirstTrack + 1;
        for (const int t : *chosen) {
            const int p = t - toc.FirstTrack + 1;
            if (p < 1 || p > count || TrackSectors(toc, p).Data)
                return done(UsageError("track " + std::to_string(t) + " is no audio track of the disc", usage));
            tracks.push_back(p);
        }
    } else {
        tracks = DefaultOffsetTracks(toc);
    }
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(disc.CDHandle);
    std::vector<int> modelOffsets;
    if (drive)
        for (const TDriveOffsetEntry& e :
             EntriesForDrive(LoadDriveOffsetList(Options.SecureOptions.AccurateRipServer, CacheFolder(), false).Entries,
                             drive->Vendor(), drive->Product()))
            modelOffsets.push_back(e.Offset);
    int shown = 0;
    const TOffsetFindResult found = FindDriveOffset(
        disc.CDHandle, toc, tracks, Options.SecureOptions.AccurateRipServer, modelOffsets, [&](int track, int percent) {
            if (out.Json())
                return;
            if (shown != 0 && shown != track)
                std::fputc('\n', stderr);
            shown = track;
            std::fprintf(stderr, "\rReading track %s once, with 5 sectors beyond each end  %3d%%", TwoDigits(track).c_str(),
                         std::clamp(percent, 0, 100));
        });
    if (shown != 0)
        std::fputc('\n', stderr);
    QJsonArray confirmed;
    std::string said;
    for (const auto& [track, confidence] : found.MatchedOn) {
        confirmed.append(track);
        said += std::string(said.empty() ? "" : ", ") + "track " + TwoDigits(track) + " (confidence " +
                std::to_string(confidence) + ")";
    }
    out.Result({{"offset", found.Offset ? QJsonValue(*found.Offset) : QJsonValue()},
                {"confirmed_on", confirmed},
                {"source", found.Offset ? "found on this drive" : QString::fromStdString(found.Failure)}},
               [] {});
    if (!found.Offset) {
        PrintError((found.TracksRead.empty() ? found.Failure : "No read offset found: " + found.Failure) + ".");
        return done(cliFailed);
    }
    if (!out.Json())
        std::printf("Read offset %s: AccurateRip matches %s.\n", SignedSamples(*found.Offset).c_str(), said.c_str());
    if (found.TracksRead.size() == 1 && !out.Json())
        std::fprintf(stderr, "sonvale-cli: found on one track only: give --tracks with two to confirm it.\n");
    const std::string key = drive ? DriveModelKey(drive->Vendor(), drive->Product()) : std::string();
    if (args.Has("apply") && !key.empty()) {
        Options.DriveOffsets[key] = StoredOffsetText({*found.Offset, TOffsetSource::Found});
        try {
            const THoldSignals hold;
            LoadSaveOptions(false);
        } catch (const std::exception& e) {
            return done((PrintError(e.what()), cliFailed));
        }
        if (!out.Json())
            std::printf("Stored for %s in [DriveOffsets].\n", key.c_str());
    }
    return done(cliOk);
}

int CommandOffset(const TCliArgs& args, TCliDialogs& dialogs, TCliOutput& out)
{
    const char* usage = Commands().at("offset").Usage;
    const std::string action = args.Plain.empty() ? std::string() : args.Plain[0];
    int position;
    if (!DrivePosition(args, position))
        return UsageError("--drive takes a drive number from 1 (see: sonvale-cli drives)", usage);
    if (action == "search") {
        if (args.Plain.size() != 2)
            return UsageError("offset search takes one TEXT", usage);
        const QString text = Q(args.Plain[1]).trimmed();
        QJsonArray found;
        std::string lines;
        for (const TDriveOffsetEntry& e : OffsetList())
            if (Q(e.Name()).contains(text, Qt::CaseInsensitive)) {
                found.append(EntryJson(e));
                char line[96];
                std::snprintf(line, sizeof line, "%6s  %-34s  %d submission%s\n", SignedSamples(e.Offset).c_str(),
                              TerminalText(e.Name()).c_str(), e.Submissions, e.Submissions == 1 ? "" : "s");
                lines += line;
            }
        out.Result({{"entries", found}}, [&] { std::fputs(lines.c_str(), stdout); });
        if (found.isEmpty())
            PrintError("The AccurateRip drive list has no drive named like \"" + args.Plain[1] + "\".");
        return found.isEmpty() ? cliFailed : cliOk;
    }
    if (action == "show" && args.Plain.size() == 1) {
        TDiscScan disc(dialogs);
        disc.CDHandle = disc.OpenDrive(std::max(position, 0));
        const std::shared_ptr<TDriveBackend> drive = disc.CDHandle != 0 ? AkripDrive(disc.CDHandle) : nullptr;
        if (!drive) {
            PrintError(disc.CDHandle == 0 ? disc.StatusText() : "No such drive.");
            CloseDisc(disc);
            return cliFailed;
        }
        const std::string key = DriveModelKey(drive->Vendor(), drive->Product());
        const std::vector<TDriveOffsetEntry> listed = EntriesForDrive(OffsetList(), drive->Vendor(), drive->Product());
        const TReadOffset offset = DriveReadOffset(*drive, listed);
        QJsonArray others;
        for (std::size_t i = 0; i < listed.size(); ++i)
            others.append(EntryJson(listed[i]));
        out.Result({{"drive", Q(key)}, {"offset", offset.Samples}, {"source", Q(offset.SourceText())}, {"listed", others}},
                   [&] {
                       std::printf("Drive: %s\nRead offset: %s\n", TerminalText(key).c_str(), offset.Text().c_str());
                       for (std::size_t i = 0; i < listed.size(); ++i)
                           std::printf("%s: %s (%d submission%s)\n", i == 0 ? "AccurateRip drive list" : "  also listed",
                                       SignedSamples(listed[i].Offset).c_str(), listed[i].Submissions,
                                       listed[i].Submissions == 1 ? "" : "s");
                   });
        CloseDisc(disc);
        return cliOk;
    }
    if (action == "find" && args.Plain.size() == 1)
        return OffsetFind(args, dialogs, out, position);
    return UsageError("offset takes show, search TEXT or find", usage);
}

int CommandVerify(const TCliArgs& args, TCliDialogs&, TCliOutput& out)
{
    const char* usage = Commands().at("verify").Usage;
    if (args.Plain.size() != 1)
        return UsageError("verify takes one LOG", usage);
    const std::string path = args.Plain[0];
    QFile file(Q(path));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        PrintError("Cannot read " + path + (QFileInfo::exists(Q(path)) ? ": it is not a readable file" : ": no such file"));
        return cliFailed;
    }
    const QByteArray bytes = file.read(16 << 20);  // a log is some kilobytes
    const std::string text = bytes.toStdString();
    std::string why;
    const std::optional<TLoggedRip> log = ParseRipLog(text, why);
    if (!log) {
        PrintError("Cannot verify " + path + ": " + why + ".");
        return cliFailed;
    }
    const std::string folder = QFileInfo(Q(path)).absolutePath().toStdString() + "/";
    const TRipCheck check = CheckRip(*log, text, folder);
    // With --accuraterip, what the database says of the files as they are now.
    std::optional<TAccurateRipEntry> entry;
    std::optional<TAccurateRipDiscId> id = DiscIdOfText(log->DiscId);
    if (args.Has("accuraterip")) {
        if (!id)
            PrintError("The log gives no AccurateRip disc ID to look up.");
        else
            entry = FetchAccurateRip(Options.SecureOptions.AccurateRipServer, *id);
    }
    // With --ctdb, what CTDB says of them: the table of contents is the log's.
    std::optional<TCtdbAnswer> ctdb;
    std::vector<TTrackSectors> sectors;
    int audioTracks = 0;
    for (const TLoggedRip::TTocRow& row : log->Toc) {
        sectors.push_back({row.Start, row.Length, row.Data});
        audioTracks += !row.Data;
    }
    if (args.Has("ctdb"))
        ctdb = FetchCtdb(Options.Ctdb.Server, CtdbTocParameter(sectors));
    bool contradicted = args.Has("accuraterip") && !id;
    int ctdbAccurate = 0, ctdbJudged = 0;
    std::vector<TCtdbPart> parts;
    QJsonArray tracks;
    std::string lines = std::string("Log: ") + (check.Intact ? "intact" : "its checksum does not match: it was edited or damaged") + "\n";
    const int first = log->Toc.front().Number;
    for (const TTrackCheck& t : check.Tracks) {
        QJsonObject row{{"track", t.Number}, {"file", Q(t.File)}, {"result", Q(t.Text)},
                        {"ok", t.Result == TTrackCheck::TResult::Match || t.Result == TTrackCheck::TResult::NotCopied}};
        std::string line = "Track " + TwoDigits(t.Number) + ": " + t.Text;
        // (The database keeps nothing of audio hidden before the first track, track 00.)
        if (entry && t.Number > 0 && (t.Result == TTrackCheck::TResult::Match || t.Result == TTrackCheck::TResult::Differs)) {
            const TAccurateRipVerdict verdict = JudgeTrack(*entry, *id, t.Number - first + 1, t.V1, t.V2);
            line += "; AccurateRip: " + verdict.Text();
            row["accuraterip"] = Q(verdict.Text());
            contradicted = contradicted || verdict.Result == TAccurateRipVerdict::NotAccurate;
        }
        if (ctdb && t.Number > 0 && (t.Result == TTrackCheck::TResult::Match || t.Result == TTrackCheck::TResult::Differs)) {
            const TCtdbVerdict verdict = JudgeCtdbTrack(*ctdb, audioTracks, t.Number - first + 1, t.CtdbCrc);
            line += "; CTDB: " + verdict.Text();
            row["ctdb"] = Q(verdict.Text());
            contradicted = contradicted || verdict.Result == TCtdbVerdict::Differs;
            ctdbAccurate += verdict.Result == TCtdbVerdict::Accurate;
            ++ctdbJudged;
            parts.push_back({t.CtdbCrc, t.CtdbBytes});
        }
        lines += line + "\n";
        tracks.append(row);
    }
    const std::string summary = check.Summary();
    lines += "Summary: " + summary + "\n";
    QJsonObject result{{"log", Q(path)}, {"intact", check.Intact}, {"tracks", tracks}, {"summary", Q(summary)}};
    if (ctdb) {
        // The disc's CRC when every audio track's file was checked.
        const std::optional<uint32_t> discCrc =
            ctdbJudged == audioTracks && ctdbJudged > 0 ? std::optional<uint32_t>(CtdbDiscCrc(parts)) : std::nullopt;
        const std::string disc = CtdbDiscText(*ctdb, audioTracks, ctdbAccurate, ctdbJudged, discCrc);
        lines += "CTDB: " + disc + "\n";
        result["ctdb"] = Q(disc);
    }
    const bool ok = check.Ok() && !contradicted;
    result["ok"] = ok;
    out.Result(result, [&] { std::fputs(lines.c_str(), stdout); });
    return ok ? cliOk : cliFailed;
}

int CommandTag(const TCliArgs& args, TCliDialogs&, TCliOutput& out)
{
    const char* usage = Commands().at("tag").Usage;
    if (args.Plain.size() != 2 || (args.Plain[0] != "show" && args.Plain[0] != "set" && args.Plain[0] != "remove"))
        return UsageError("tag takes show, set or remove and one FILE", usage);
    const std::string& action = args.Plain[0];
    const std::string& file = args.Plain[1];
    if (action != "set") {
        for (const char* field : {"title", "artist", "album", "year", "comment", "track", "genre"})
            if (args.Values.count(field))
                return UsageError(std::string("--") + field + " goes with tag set", usage);
    }
    Tid3tag tag;
    const uint16_t read = tag.ReadFromFile(file);
    if (read >= id3NoFile && read != id3NoTag) {
        PrintError("Could not find " + file);
        return cliFailed;
    }
    // A tag appended to a WAV or a text file would spoil it, and a FLAC's own tags are no ID3
    // tag: only MP3 files are read or written.
    if (!IsMp3File(file)) {
        PrintError(file + " is not an MP3 file: " + (action == "set" ? "no tag written" : "it has no ID3 tag"));
        return cliFailed;
    }
    if (action == "set") {
        std::optional<int> track;
        if (const auto it = args.Values.find("track"); it != args.Values.end()) {
            track = ParseNumber(it->second, 0, 255);
            if (!track)
                return UsageError("--track takes a number from 0 (none) to 255", usage);
        }
        if (const auto it = args.Values.find("genre"); it != args.Values.end()) {
            if (it->second.empty()) {
                tag.Genre = 255;
            } else {
                const int index = GenreIndexIgnoringCase(it->second);
                if (index < 0)
                    return UsageError("unknown genre \"" + it->second + "\" (the names of Sonvale's tag editor, e.g. Rock)", usage);
                tag.Genre = GenreNames[static_cast<std::size_t>(index)].Code;
            }
        }
        const auto set = [&args](const char* name, void (Tid3tag::*setter)(std::string_view), Tid3tag& t) {
            if (const auto it = args.Values.find(name); it != args.Values.end())
                (t.*setter)(it->second);
        };
        set("title", &Tid3tag::SetTitle, tag);
        set("artist", &Tid3tag::SetArtist, tag);
        set("album", &Tid3tag::SetAlbum, tag);
        set("year", &Tid3tag::SetYear, tag);
        set("comment", &Tid3tag::SetComment, tag);
        // The tag keeps 30 Latin-1 characters a field (the year 4): what it cannot keep is said.
        const struct {
            const char* name;
            std::string (Tid3tag::*get)() const;
            int limit;
        } fields[] = {{"title", &Tid3tag::Title, 30}, {"artist", &Tid3tag::Artist, 30}, {"album", &Tid3tag::Album, 30},
                      {"year", &Tid3tag::Year, 4}, {"comment", &Tid3tag::Comment, 30}};
        for (const auto& f : fields) {
            const auto it = args.Values.find(f.name);
            if (it == args.Values.end() || (tag.*f.get)() == it->second)
                continue;
            std::fprintf(stderr,
                         "sonvale-cli: --%s is stored as \"%s\": an ID3v1 tag keeps %d characters of Latin-1 there, "
                         "other characters become \"?\"\n",
                         f.name, (tag.*f.get)().c_str(), f.limit);
        }
        if (track)
            tag.SetTrack(static_cast<uint8_t>(*track));
        const uint16_t saved = tag.SaveToFile(file);
        if (saved > 255) {
            PrintError("Error #" + std::to_string(saved) + "! Could not save Tag! (" + file + ")");
            return cliFailed;
        }
        // Players read the ID3v2 tag a rip also wrote: the same fields there, whole.
        TId3Edit edit;
        const auto value = [&args](const char* name) -> std::optional<std::string> {
            const auto it = args.Values.find(name);
            return it == args.Values.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        edit.Title = value("title");
        edit.Artist = value("artist");
        edit.Album = value("album");
        edit.Year = value("year");
        edit.Comment = value("comment");
        if (const auto genre = value("genre"))
            edit.Genre = genre->empty() ? "" : GenreNames[static_cast<std::size_t>(GenreIndexIgnoringCase(*genre))].Name;
        edit.Track = track;
        if (const std::string error = EditId3v2(file, edit); !error.empty()) {
            PrintError(error);
            return cliFailed;
        }
    } else if (action == "remove") {
        if (read == id3NoTag) {
            out.Result({{"file", Q(file)}, {"tag", QJsonValue::Null}});
            return cliOk;
        }
        tag.RemoveTag();
        Tid3tag check;
        if (check.ReadFromFile(file) != id3NoTag) {
            PrintError("Could not remove the tag of " + file);
            return cliFailed;
        }
        out.Result({{"file", Q(file)}, {"tag", QJsonValue::Null}});
        return cliOk;
    }
    const bool hasTag = action == "set" || read != id3NoTag;
    QJsonValue value = QJsonValue::Null;
    if (hasTag)
        value = QJsonObject{{"title", Q(tag.Title())}, {"artist", Q(tag.Artist())}, {"album", Q(tag.Album())},
                            {"year", Q(tag.Year())}, {"comment", Q(tag.Comment())}, {"track", tag.Track()},
                            {"genre", Q(GenreOfCode(tag.Genre))}, {"genre_code", tag.Genre}};
    out.Result({{"file", Q(file)}, {"tag", value}}, [&] {
        if (!hasTag)
            std::printf("%s: no ID3v1 tag\n", file.c_str());
        else
            std::printf("Title: %s\nArtist: %s\nAlbum: %s\nYear: %s\nComment: %s\nTrack: %d\nGenre: %s\n",
                        TerminalText(tag.Title()).c_str(), TerminalText(tag.Artist()).c_str(),
                        TerminalText(tag.Album()).c_str(), TerminalText(tag.Year()).c_str(),
                        TerminalText(tag.Comment()).c_str(), tag.Track(), GenreOfCode(tag.Genre).c_str());
    });
    return cliOk;
}

const std::map<std::string, TCommandSyntax>& Commands()
{
    static const std::map<std::string, TCommandSyntax> commands = {
        {"drives", {"Usage: sonvale-cli drives [--json]\n"
                    "Lists the drives in Sonvale's order (drives, then the disc images of SONVALE_DISC_IMAGES),\n"
                    "numbered from 1, each with its name and whether it holds an audio disc.\n",
                    {}, {}, CommandDrives}},
        {"tracks", {"Usage: sonvale-cli tracks [--drive N] [--json]\n"
                    "The track list of the disc in drive N (default: as the main window opens it): number,\n"
                    "title (from cdinfo.dat), length, size in MB, whether checked; the disc key and CDDB ID.\n",
                    {"drive"}, {}, CommandTracks}},
        {"lookup", {"Usage: sonvale-cli lookup [--drive N] [--source cddb|musicbrainz] [--release N] [--apply]\n"
                    "                          [--json]\n"
                    "Asks the CDDB server of options.ini ([QueryCDDB]), or MusicBrainz ([MusicBrainz]), about\n"
                    "the disc and prints what it found; --apply stores it in cdinfo.dat under the disc key.\n"
                    "When several releases hold the disc they are listed; --release N takes the Nth.\n",
                    {"drive", "source", "release"}, {"apply"}, CommandLookup}},
        {"rip", {"Usage: sonvale-cli rip [--drive N] [--tracks LIST] [--format mp3|wav|ogg|wma|flac|opus[,...]]\n"
                 "                       [--output DIR] [--normalize PERCENT] [--keep-wav] [--lookup] [--secure]\n"
                 "                       [--offset N] [--burst-first|--no-burst-first] [--overwrite|--no-overwrite]\n"
                 "                       [--source cddb|musicbrainz] [--release N] [--jobs N] [--image] [--json]\n"
                 "Rips the tracks of LIST (\"1,3-5\"; default: every audio track) into the output folder,\n"
                 "named by their titles in cdinfo.dat (or from the CDDB server first, with --lookup).\n"
                 "--secure verifies every sector with repeated reads, applies the drive's read offset\n"
                 "(--offset N samples, -5880..5880), checks the tracks with AccurateRip and the CUETools\n"
                 "database (CTDB) and writes a log; with --burst-first (the default) each track is read\n"
                 "once and read again securely only when neither database confirms it.\n"
                 "--image copies the whole disc (from sector 0, the audio hidden before track 1 included)\n"
                 "securely into one WAV or FLAC file \"<artist> - <album>\" with its cue sheet and log.\n"
                 "--format flac,opus,mp3 reads each track once and encodes it to each format, each in a\n"
                 "folder of its own (%format% in [Naming] Template says where; default \"%format%/\" first).\n"
                 "--jobs N encodes up to N tracks at once while the drive reads on (default: one per\n"
                 "processor; 1 reads and encodes in turn).\n"
                 "The options override options.ini for this run only. A track whose file exists already\n"
                 "is skipped (exit status 1) unless --overwrite.\n",
                 {"drive", "tracks", "format", "output", "normalize", "offset", "source", "release", "jobs"},
                 {"keep-wav", "lookup", "secure", "overwrite", "no-overwrite", "burst-first", "no-burst-first", "image"},
                 CommandRip}},
        {"station", {"Usage: sonvale-cli station [--drive LIST] [--output DIR] [--format LIST] [--jobs N]\n"
                     "                           [--again] [--no-eject]\n"
                     "Watches every drive (or LIST, \"1,2\") until Ctrl+C or SIGTERM: each audio disc put in\n"
                     "is ripped securely (burst-first, AccurateRip and CTDB) into the output folder as\n"
                     "%artist%/%album%/%track% %title%, in each --format, named by MusicBrainz (else its\n"
                     "CD-TEXT, else its disc ID as the album), recorded in $XDG_DATA_HOME/sonvale/station.json\n"
                     "and ejected. A disc\n"
                     "in that history is skipped unless --again; one that cannot be ripped is recorded and\n"
                     "ejected. [Station] OnDisc runs a command when a disc is done (%log%, %folder%,\n"
                     "%result%, %artist%, %album%). Several drives rip at once; --jobs N encoders in all.\n",
                     {"drive", "output", "format", "jobs"}, {"again", "no-eject"}, CommandStation}},
        {"convert", {"Usage: sonvale-cli convert --to mp3|wav|ogg|wma|flac|opus [--output DIR]\n"
                     "                           [--overwrite|--no-overwrite] [--jobs N] [--json] FILE...\n"
                     "Converts WAV files to MP3, Ogg Vorbis, WMA, FLAC or Opus, or MP3 or FLAC files to WAV\n"
                     "(--to wav; one kind per run), in the order given, into the output folder; --jobs N\n"
                     "converts up to N files at once (default: one per processor).\n",
                     {"to", "output", "jobs"}, {"overwrite", "no-overwrite"}, CommandConvert}},
        {"offset", {"Usage: sonvale-cli offset show [--drive N] [--json]\n"
                    "       sonvale-cli offset search TEXT [--json]\n"
                    "       sonvale-cli offset find [--drive N] [--tracks LIST] [--apply] [--json]\n"
                    "The drive's read offset: show says the offset a secure rip uses and where it comes from\n"
                    "(--offset, found on this drive, set by hand, the AccurateRip drive list, or none); search\n"
                    "lists the drive list's models whose name holds TEXT. find reads two tracks of a disc\n"
                    "AccurateRip knows once each (the first of LIST, else the longest) and tests every offset\n"
                    "from -2940 to +2940 on that one read; --apply stores the offset found for the drive.\n"
                    "Exit status 1 when nothing matches.\n",
                    {"drive", "tracks"}, {"apply"}, CommandOffset}},
        {"verify", {"Usage: sonvale-cli verify LOG [--accuraterip] [--ctdb] [--json]\n"
                    "Checks a secure rip against its log: the log's own checksum, then each track's file\n"
                    "(WAV or FLAC) decoded and its CRC32 and AccurateRip checksums computed again; with\n"
                    "--accuraterip also what the AccurateRip database says of them, with --ctdb what the\n"
                    "CUETools database (CTDB) says. Lossy files cannot be checked. Exit status 0 when\n"
                    "everything matches, 1 when anything differs.\n",
                    {}, {"accuraterip", "ctdb"}, CommandVerify}},
        {"tag", {"Usage: sonvale-cli tag show|set|remove FILE [--title T] [--artist A] [--album A] [--year Y]\n"
                 "                      [--comment C] [--track N] [--genre NAME] [--json]\n"
                 "Shows, sets (fields not given are kept) or removes the ID3v1 tag of an MP3 file.\n",
                 {"title", "artist", "album", "year", "comment", "track", "genre"}, {}, CommandTag}},
    };
    return commands;
}


}  // namespace

int RunCli(QCoreApplication&, const std::vector<std::string>& argv)
{
    if (argv.size() == 1 && argv[0] == "--version") {
        std::puts("sonvale-cli 2.1");
        return cliOk;
    }
    if (argv.empty() || argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
        std::fputs(ProgramUsage, argv.empty() ? stderr : stdout);
        return argv.empty() ? cliUsage : cliOk;
    }
    const auto command = Commands().find(argv[0]);
    if (command == Commands().end())
        return UsageError("unknown command \"" + argv[0] + "\"", ProgramUsage);
    const TCommandSyntax& syntax = command->second;
    std::vector<std::string> rest(argv.begin() + 1, argv.end());
    rest.insert(rest.begin(), argv[0]);
    const TCliArgs args = ParseCliArgs(rest, syntax.ValueOptions);
    if (!args.Error.empty())
        return UsageError(args.Error, syntax.Usage);
    if (args.Has("help")) {
        std::fputs(syntax.Usage, stdout);
        return cliOk;
    }
    for (const std::string& flag : args.Flags)
        if (flag != "json" && !syntax.Flags.count(flag))
            return UsageError("unknown option --" + flag, syntax.Usage);
    if (args.Has("overwrite") && args.Has("no-overwrite"))
        return UsageError("--overwrite and --no-overwrite together", syntax.Usage);
    const std::string& name = command->first;
    if (!args.Plain.empty() && name != "convert" && name != "tag" && name != "verify" && name != "offset")
        return UsageError("unexpected argument \"" + args.Plain[0] + "\"", syntax.Usage);

    try {
        LoadSaveOptions(true);
        CheckLoadedNaming(Options);
    } catch (const std::exception& e) {
        PrintError(e.what());
        return cliFailed;
    }
    // What the settings file said that could not be used: once, before the work.
    for (const std::string& note : OptionsLoadNotes)
        std::fprintf(stderr, "sonvale-cli: %s\n", note.c_str());
    TCliDialogs dialogs;
    dialogs.Overwrite = args.Has("overwrite");
    TCliOutput out(args.Has("json"));
    const int status = syntax.Handler(args, dialogs, out);
    out.Finish(status);
    return status;
}
