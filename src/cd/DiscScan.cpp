#include "DiscScan.h"

#include "Global.h"
#include "akrip32Drives.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace {

// 44100 frames a second of 4 bytes (16-bit stereo).
constexpr double WavBytesPerSecond = 176400.0;


}  // namespace

TGetCDHand HandleRequest(const TCDRec& rec)
{
    TGetCDHand request{};
    request.Size = sizeof(TGetCDHand);
    request.Ver = 1;
    request.HostAdapter = rec.HostAdapter;
    request.Target = rec.Target;
    request.Lun = rec.Lun;
    return request;
}

TCDList DriveList()
{
    TCDList list{};
    list.Max = MaxCDList;
    GetCDList(&list);
    return list;
}

// The table of the disc in drive position of the list, in MSF mode, through a handle of its own.
bool ReadDriveToc(const TCDList& list, int position, TTOC& toc)
{
    if (position < 0 || position >= list.Num)
        return false;
    const TGetCDHand request = HandleRequest(list.Cd[position]);
    const HCDROM handle = GetCDHandle(&request);
    if (handle == 0)
        return false;
    std::memset(&toc, 0, sizeof toc);
    const bool ok = ModifyCDParms(handle, CDP_MSF, 1) && ReadTOC(handle, &toc) == 1 && TocIsUsable(toc);
    CloseCDHandle(handle);
    return ok;
}

bool ReadMsfToc(HCDROM handle, TTOC& toc)
{
    ModifyCDParms(handle, CDP_MSF, 1);
    return ReadTOC(handle, &toc) == 1 && TocIsUsable(toc);
}

// An audio disc is one whose first track is audio.
bool IsAudioDisc(const TTOC& toc)
{
    return !IsDataTrack(toc.Tracks[0]);
}

bool TocIsUsable(const TTOC& toc)
{
    return toc.FirstTrack >= 1 && toc.LastTrack <= 99 && toc.LastTrack >= toc.FirstTrack;
}

int32_t TocFrames(const TTOCTrack& entry)
{
    return entry.Addr[1] * 4500 + entry.Addr[2] * 75 + entry.Addr[3];
}

bool IsDataTrack(const TTOCTrack& entry)
{
    return (entry.AdrCtrl & 0x04) != 0;
}

namespace {

constexpr int32_t LeadInFrames = 150;

// The frames (MSF) where the track of entry r ends: the next entry's start, or its session's end.
int32_t EndFrames(const TTOC& toc, int r)
{
    const TTOCTrack& track = toc.Tracks[r];
    const TTOCTrack& next = toc.Tracks[r + 1];
    const bool lastOfSession = r + 1 <= toc.LastTrack - toc.FirstTrack && track.Session != 0 &&
                               next.Session > track.Session;
    return TocFrames(next) - (lastOfSession ? SessionGapSectors : 0);
}

}  // namespace

TTrackSectors TrackSectors(const TTOC& toc, int position)
{
    const int r = position - 1;
    TTrackSectors t;
    t.Start = TocFrames(toc.Tracks[r]) - LeadInFrames;
    t.Length = std::max(0, EndFrames(toc, r) - TocFrames(toc.Tracks[r]));
    t.Data = IsDataTrack(toc.Tracks[r]);
    return t;
}

std::string LengthText(int minutes, int seconds)
{
    return TwoDigits(minutes) + ":" + TwoDigits(seconds);
}

std::string SizeText(int minutes, int seconds)
{
    const double mebibytes = (minutes * 60 + seconds) * WavBytesPerSecond / 1048576.0;
    // Hundredths, rounded to nearest with halves to even (the default rounding mode).
    const auto v = static_cast<long long>(std::nearbyint(mebibytes * 100.0));
    return TwoDigits(static_cast<int>(v / 100)) + "." + TwoDigits(static_cast<int>(v % 100));
}

std::vector<TTrackRow> TrackRows(const TTOC& toc, TCDInfo& info, int rememberedTitles)
{
    std::vector<TTrackRow> rows;
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    for (int r = 0; r < count; ++r) {
        // Entry r is the row's track, entry r + 1 the next track or the lead-out (or, for the
        // last track of a session, the session's end). Only minutes and seconds count; the frames
        // are dropped.
        const TTOCTrack& start = toc.Tracks[r];
        const TTOCTrack& next = toc.Tracks[r + 1];
        const int32_t endFrames = EndFrames(toc, r);
        const bool cut = endFrames != TocFrames(next);
        int seconds = (cut ? endFrames / 75 % 60 : next.Addr[2]) - start.Addr[2];
        int minutes = (cut ? endFrames / 4500 : next.Addr[1]) - start.Addr[1];
        if (seconds < 0) {
            seconds += 60;
            minutes -= 1;
        }
        if (minutes < 0)  // a table whose addresses run backwards: no length rather than a negative one
            minutes = seconds = 0;

        const int n = r + 1;
        if (n > rememberedTitles || info.Tracks[n].empty())
            info.Tracks[n] = DefaultTrackTitle(n);
        // A data track keeps its row but starts unchecked: it holds no audio to extract.
        rows.push_back(TTrackRow{toc.FirstTrack + r, !IsDataTrack(start), info.Tracks[n], LengthText(minutes, seconds),
                                 SizeText(minutes, seconds)});
    }
    return rows;
}

std::string DiscKeyOfToc(const TTOC& toc)
{
    // The Windows CD file system's serial number of an audio disc: the sum of every track's
    // start address packed as 0x00MMSSFF, plus, on a disc of one or two tracks, the disc's length
    // in frames from the first track to the lead-out. Kept in 32 bits.
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    uint32_t sum = 0;
    for (int r = 0; r < count; ++r) {
        const uint8_t* a = toc.Tracks[r].Addr;
        sum += static_cast<uint32_t>(a[1]) << 16 | static_cast<uint32_t>(a[2]) << 8 | a[3];
    }
    if (count < 3)
        sum += static_cast<uint32_t>(TocFrames(toc.Tracks[count]) - TocFrames(toc.Tracks[0]));
    return std::to_string(static_cast<int32_t>(sum));
}

uint32_t CddbDiscId(const TTOC& toc)
{
    const auto digitSum = [](int n) {
        int sum = 0;
        for (; n > 0; n /= 10)
            sum += n % 10;
        return sum;
    };
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    uint32_t n = 0;
    for (int r = 0; r < count; ++r)
        n += static_cast<uint32_t>(digitSum(TocFrames(toc.Tracks[r]) / 75));
    const uint32_t t = static_cast<uint32_t>(TocFrames(toc.Tracks[count]) / 75 - TocFrames(toc.Tracks[0]) / 75);
    return (n % 0xFF) << 24 | t << 8 | static_cast<uint32_t>(count);
}

std::string DiscKey()
{
    const TCDList list = DriveList();
    for (int position = 0; position < list.Num; ++position) {
        TTOC toc;
        if (ReadDriveToc(list, position, toc) && IsAudioDisc(toc))
            return DiscKeyOfToc(toc);
    }
    return {};
}

std::string DiscKeyOf(HCDROM handle)
{
    TTOC toc{};
    return handle != 0 && ReadMsfToc(handle, toc) && IsAudioDisc(toc) ? DiscKeyOfToc(toc) : std::string();
}

std::string DriveDisplayName(const TCDRec& rec)
{
    std::string name(rec.Vendor, strnlen(rec.Vendor, sizeof rec.Vendor));
    name.append(rec.ProductId, strnlen(rec.ProductId, sizeof rec.ProductId));
    return name.substr(0, 26);
}

std::string DriveFullName(const TCDList& list, int position)
{
    if (position < 0 || position >= list.Num)
        return {};
    const TGetCDHand request = HandleRequest(list.Cd[position]);
    const HCDROM handle = GetCDHandle(&request);
    const std::shared_ptr<TDriveBackend> drive = handle != 0 ? AkripDrive(handle) : nullptr;
    std::string name = drive ? drive->Vendor() + drive->Product() : DriveDisplayName(list.Cd[position]);
    if (handle != 0)
        CloseCDHandle(handle);
    return name;
}

TDiscScan::TDiscScan(Dialogs& dialogs)
    : m_dialogs(dialogs)
{
}

void TDiscScan::SetStatus(const std::string& text)
{
    m_statusText = text;
    Changed();
}

void TDiscScan::Changed()
{
    if (OnChanged)
        OnChanged();
}

HCDROM TDiscScan::OpenDrive(int position)
{
    const TCDList list = DriveList();
    if (list.Num == 0) {
        SetStatus("No CD devices found!");
        return 0;
    }
    if (position < 0 || position >= list.Num) {
        SetStatus("CD device information error in your configration!");
        return 0;
    }
    SetStatus(DriveDisplayName(list.Cd[position]));
    const TGetCDHand request = HandleRequest(list.Cd[position]);
    HCDROM handle = GetCDHandle(&request);
    if (handle == 0) {
        // Every handle may be taken by an earlier run that did not close them: free one, try again.
        for (HCDROM h = 1; h <= 10; ++h) {
            if (CloseCDHandle(h)) {
                handle = GetCDHandle(&request);
                break;
            }
        }
    }
    if (handle == 0) {
        // The system's reason where the drive gives one (no permission, busy).
        const std::string problem = AkripLastOpenProblem();
        SetStatus(problem.empty() ? "No CD devices found!" : problem);
    }
    return handle;
}

std::string NoAudioDiscText(HCDROM handle)
{
    const std::string message = "Please check if have Audio CD in your CD device.";
    if (TTOC toc{}; handle != 0 && ReadMsfToc(handle, toc) && !IsAudioDisc(toc))
        return message + " The disc holds no audio tracks.";
    return WithDriveProblem(message, handle);
}

bool TDiscScan::AudioCDPresent()
{
    if (CDHandle != 0)
        return !DiscKeyOf(CDHandle).empty();
    TTOC toc;
    return ReadDriveToc(DriveList(), 0, toc) && IsAudioDisc(toc);
}

void TDiscScan::RememberListedDisc()
{
    if (m_listedKey.empty() || Rows.empty())
        return;
    TCDInfo info = Options.CDInfo;
    info.TrackNumber = std::min<int>(static_cast<int>(Rows.size()), MaxTracks);
    for (int r = 0; r < info.TrackNumber; ++r)
        info.Tracks[r + 1] = Rows[r].Title;
    m_remembered[m_listedKey] = std::move(info);
}

void TDiscScan::ApplyDiscText()
{
    TDiscText text;
    if (!AkripReadDiscText(CDHandle, text))
        return;
    TCDInfo& info = Options.CDInfo;
    if (!text.Performer.empty())
        info.Artist = text.Performer;
    if (!text.Title.empty())
        info.Album = text.Title;
    // Titles by the track's row (1 = the first track on the disc).
    for (std::size_t i = 0; i < text.TrackTitles.size() && int(i) < MaxTracks; ++i)
        if (!text.TrackTitles[i].empty())
            info.Tracks[i + 1] = text.TrackTitles[i];
}

void TDiscScan::ScanDisc()
{
    if (CDHandle == 0)
        return;
    RememberListedDisc();
    // The disc in the open drive, which need not be the first drive's: its table is read once,
    // for the key and for the rows.
    TTOC toc{};
    const bool read = ReadMsfToc(CDHandle, toc);
    const std::string key = read && IsAudioDisc(toc) ? DiscKeyOfToc(toc) : std::string();
    LoadSaveCDInfo(key, true);
    // A disc listed before in this run comes back as the user left it, not as the file has it.
    m_listedKey.clear();
    if (const auto it = m_remembered.find(key); !key.empty() && it != m_remembered.end()) {
        Options.CDInfo = it->second;
        m_remembered.erase(it);
    } else if (!key.empty() && !CDInfoStored(key)) {
        // A disc never named here: what it says of itself in CD-TEXT is the start.
        ApplyDiscText();
    }
    Rows.clear();
    if (!read) {
        SetStatus("Not get CD device information!");
        return;
    }
    TCDInfo& info = Options.CDInfo;
    Rows = TrackRows(toc, info, std::clamp(info.TrackNumber, 0, MaxTracks));
    m_listedKey = key;
    Changed();
}

bool TDiscScan::OutputFolderExists()
{
    std::error_code ec;
    if (std::filesystem::is_directory(Options.CommonOptions.OutputFolder, ec))
        return true;
    m_dialogs.MessageBox(QStringLiteral("The output directory does not exist.Please check the output directory setting."),
                         Dialogs::Icon::Information);
    return false;
}

bool TDiscScan::AnyTrackChecked() const
{
    return std::any_of(Rows.begin(), Rows.end(), [](const TTrackRow& row) { return row.Checked; });
}

void TDiscScan::FormShow()
{
    if (CDHandle == 0)
        CDHandle = OpenDrive(0);
    if (CDHandle != 0) {
        if (AudioCDPresent())
            ScanDisc();
        else
            NoAudioCD = true;
        DriveStatusText = m_statusText;
    }
}

void TDiscScan::Refresh()
{
    if (AudioCDPresent())
        ScanDisc();
    else
        m_dialogs.MessageBox(QString::fromStdString(NoAudioDiscText(CDHandle)), Dialogs::Icon::Error);
}

void TDiscScan::ChangeDrive(int position)
{
    CDHandle = OpenDrive(position);
    ScanDisc();
    DriveStatusText = m_statusText;
}

void TDiscScan::VolumeArrived()
{
    ScanDisc();
}

void TDiscScan::VolumeRemoved()
{
    RememberListedDisc();
    m_listedKey.clear();
    Rows.clear();
    Changed();
}

void TDiscScan::FormClose()
{
    TCDInfo& info = Options.CDInfo;
    const int count = std::min<int>(static_cast<int>(Rows.size()), MaxTracks);
    info.TrackNumber = count;
    for (int r = 0; r < count; ++r)
        info.Tracks[r + 1] = Rows[r].Title;
    // The rows belong to the disc they were listed from, in whichever drive.
    const std::string key = m_listedKey.empty() ? DiscKeyOf(CDHandle) : m_listedKey;
    // The discs that left the drive first (each written in one step), then the one in it, which
    // wins when it is one of them.
    const TCDInfo current = info;
    try {
        for (const auto& [remembered, discInfo] : m_remembered) {
            if (remembered == key)
                continue;
            info = discInfo;
            LoadSaveCDInfo(remembered, false);
        }
    } catch (...) {
        info = current;
        throw;
    }
    info = current;
    LoadSaveCDInfo(key, false);
    if (CDHandle != 0) {
        if (!CloseCDHandle(CDHandle))
            m_dialogs.MessageBox(QStringLiteral("Error while closing CD handle!"), Dialogs::Icon::Error);
        CDHandle = 0;
    }
}
