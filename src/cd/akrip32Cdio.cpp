#include "akrip32.h"
#include "akrip32Drives.h"

#include "FileSystem.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <map>
#include <mutex>
#include <string_view>
#include <cstring>
#include <sstream>

namespace {

// libcdio would print its complaints (no disc, unreadable sector) on standard error; the
// library reports failures through its result codes instead.
void QuietLog(cdio_log_level_t, const char*) {}

void QuietOnce()
{
    static const bool done = [] {
        cdio_log_set_handler(QuietLog);
        return true;
    }();
    static_cast<void>(done);
}

std::string Trimmed(const char* text, std::size_t max)
{
    std::string s(text, strnlen(text, max));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

bool EndsWith(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// The files a cue sheet names (FILE "name" ...), as paths beside it.
std::vector<std::string> CueFiles(const std::string& cue)
{
    std::vector<std::string> files;
    std::ifstream in(cue);
    const auto slash = cue.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : cue.substr(0, slash + 1);
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find("FILE");
        if (at == std::string::npos || line.find_first_not_of(" \t") != at)
            continue;
        const auto open = line.find('"', at);
        const auto close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close == std::string::npos)
            continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        files.push_back(!name.empty() && name[0] == '/' ? name : folder + name);
    }
    return files;
}


// Stand-in folders made for cue sheets during this run, removed when the program ends.
class TStandInFolders {
public:
    ~TStandInFolders()
    {
        for (const std::string& folder : m_folders) {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    }
    // The stand-in made for cue earlier in this run, if any.
    std::string Find(const std::string& cue) const
    {
        const auto it = m_byCue.find(cue);
        return it == m_byCue.end() ? std::string() : it->second;
    }
    void Keep(const std::string& cue, const std::string& standIn) { m_byCue[cue] = standIn; }
    std::string Make()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/sonvale-cue-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return {};
        m_folders.push_back(pattern);
        return pattern;
    }

private:
    std::vector<std::string> m_folders;
    std::map<std::string, std::string> m_byCue;
};

// What libcdio is given for a cue sheet. libcdio opens the data file named like the sheet
// ("album.cue" -> "album.bin") whatever its FILE line names, so a sheet naming "CD1.bin" cannot
// be read as it stands: it is given a stand-in sheet instead, in a folder of its own, whose FILE
// lines name the files by their whole paths and whose like-named ".bin" is a link to the first.
// The sheet itself when it needs none, or when the files it names are missing (said as such).
std::string CueForLibcdio(const std::string& cue)
{
    const std::vector<std::string> files = CueFiles(cue);
    struct stat st {};
    if (files.empty() || stat(WithExtension(cue, ".bin").c_str(), &st) == 0)
        return cue;
    std::vector<std::string> absolute;
    for (const std::string& file : files) {
        char* real = realpath(file.c_str(), nullptr);
        if (!real)
            return cue;
        absolute.emplace_back(real);
        std::free(real);
    }
    static TStandInFolders folders;
    if (std::string made = folders.Find(cue); !made.empty() && stat(made.c_str(), &st) == 0)
        return made;
    const std::string folder = folders.Make();
    if (folder.empty())
        return cue;
    const std::string standIn = folder + "/" + WithExtension(FileNameOf(cue), ".cue");
    std::ifstream in(cue);
    std::ofstream out(standIn);
    std::size_t next = 0;
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find("FILE");
        const auto open = line.find('"', at);
        const auto close = open == std::string::npos ? open : line.find('"', open + 1);
        if (at != std::string::npos && line.find_first_not_of(" \t") == at && close != std::string::npos &&
            next < absolute.size())
            line = line.substr(0, open + 1) + absolute[next++] + line.substr(close);
        out << line << '\n';
    }
    out.close();
    if (!out || symlink(absolute.front().c_str(), WithExtension(standIn, ".bin").c_str()) != 0)
        return cue;
    folders.Keep(cue, standIn);
    return standIn;
}

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const int n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0 || i + static_cast<std::size_t>(n) >= bytes.size() + (n == 0 ? 1 : 0))
            return false;
        uint32_t code = n == 0 ? c : c & (0x3F >> n);
        for (int k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = code << 6 | (d & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(n) + 1;
    }
    return true;
}

// Text that was UTF-8, taken for Latin-1 and converted to UTF-8 once more ("Ã©" for "é"), back
// as it was written; any other text as it is.
std::string Utf8ReadAsLatin1(const std::string& text)
{
    std::string bytes;
    bool high = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
            i += 1;
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            // U+0080..U+00FF: one Latin-1 byte.
            bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            high = true;
            i += 2;
        } else {
            return text;  // a character beyond Latin-1: it was read right
        }
    }
    return high && IsUtf8(bytes) ? bytes : text;
}

// A drive read through libcdio: a device node, or a disc image.
class TCdioDrive final : public TDriveBackend {
public:
    TCdioDrive(std::string source, driver_id_t driver, std::string vendor, std::string product)
        : m_source(std::move(source))
        , m_driver(driver)
        , m_vendor(std::move(vendor))
        , m_product(std::move(product))
    {
    }
    ~TCdioDrive() override { Close(); }

    std::string Vendor() const override { return m_vendor; }
    std::string Product() const override { return m_product; }

    bool Open() override
    {
        Close();
        m_cdio = cdio_open(m_source.c_str(), m_driver);
        if (!m_cdio)
            Diagnose();
        return m_cdio != nullptr;
    }

    std::string Problem() const override
    {
        const std::lock_guard<std::mutex> lock(m_problemMutex);
        return m_problem;
    }

    void Close() override
    {
        if (m_cdio)
            cdio_destroy(m_cdio);
        m_cdio = nullptr;
        m_cacheCount = 0;
    }

    bool ReadToc(TDiscToc& toc) override
    {
        // A drive's disc may have changed since it was opened; libcdio keeps the table it read
        // first, so a device is opened afresh. An image does not change.
        if (m_driver == DRIVER_DEVICE && !Open())
            return false;
        if (!m_cdio)
            return false;
        const track_t first = cdio_get_first_track_num(m_cdio);
        const track_t count = cdio_get_num_tracks(m_cdio);
        if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) {
            Diagnose();  // no disc, the tray open
            return false;
        }
        toc = TDiscToc{};
        toc.FirstTrack = first;
        // A disc of two sessions (an Enhanced CD: the audio, then a data track) tells where its
        // last session starts; tracks from there on are in session 2. Images and drivers that
        // cannot tell are one session.
        lsn_t lastSession = 0;
        if (m_driver != DRIVER_DEVICE || cdio_get_last_session(m_cdio, &lastSession) != DRIVER_OP_SUCCESS)
            lastSession = 0;
        for (track_t t = first; t < first + count; ++t) {
            // libcdio's "LSN" is the logical block address the drive reads by (track 1 at 0);
            // its "LBA" counts the 150-sector lead-in as well.
            const lsn_t lsn = cdio_get_track_lsn(m_cdio, t);
            if (lsn == CDIO_INVALID_LSN)
                return false;
            const bool audio = cdio_get_track_format(m_cdio, t) == TRACK_FORMAT_AUDIO;
            const auto flags = static_cast<uint8_t>(
                (cdio_get_track_preemphasis(m_cdio, t) == CDIO_TRACK_FLAG_TRUE ? 0x01 : 0) |
                (cdio_get_track_copy_permit(m_cdio, t) == CDIO_TRACK_FLAG_TRUE ? 0x02 : 0) |
                (audio && cdio_get_track_channels(m_cdio, t) == 4 ? 0x08 : 0));
            // Where the drive or the image tells the pregap (an image's INDEX 00 line; many drives
            // do not tell).
            const lsn_t pregap = cdio_get_track_pregap_lsn(m_cdio, t);
            toc.Tracks.push_back({lsn, audio, lastSession > 0 && lsn >= lastSession ? 2 : 1, flags,
                                  pregap != CDIO_INVALID_LSN && pregap >= 0 && pregap < lsn ? pregap : -1});
        }
        const lsn_t leadOut = cdio_get_track_lsn(m_cdio, CDIO_CDROM_LEADOUT_TRACK);
        if (leadOut == CDIO_INVALID_LSN)
            return false;
        toc.LeadOutLba = leadOut;
        return true;
    }

    bool ReadText(TDiscText& text) override
    {
        if (!m_cdio)
            return false;
        text = TDiscText{};
        const track_t first = cdio_get_first_track_num(m_cdio);
        const track_t count = cdio_get_num_tracks(m_cdio);
        if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK)
            return false;
        bool any = false;
        // libcdio hands CD-TEXT over as UTF-8, from a drive's lead-in or a CUE sheet's lines.
        const cdtext_t* cdtext = cdio_get_cdtext(m_cdio);
        const auto field = [&](cdtext_field_t f, track_t t) {
            const char* value = cdtext ? cdtext_get_const(cdtext, f, t) : nullptr;
            any = any || (value && *value);
            // A CUE sheet is written in UTF-8 today, which libcdio takes for Latin-1.
            return m_driver == DRIVER_DEVICE ? std::string(value ? value : "") : Utf8ReadAsLatin1(value ? value : "");
        };
        text.Performer = field(CDTEXT_FIELD_PERFORMER, 0);
        text.Title = field(CDTEXT_FIELD_TITLE, 0);
        for (track_t t = first; t < first + count; ++t) {
            text.TrackTitles.push_back(field(CDTEXT_FIELD_TITLE, t));
            char* isrc = cdio_get_track_isrc(m_cdio, t);
            text.TrackIsrc.emplace_back(isrc ? isrc : "");
            any = any || (isrc && *isrc);
            cdio_free(isrc);
        }
        char* mcn = cdio_get_mcn(m_cdio);
        // A drive without one answers with zeros.
        if (mcn && std::string_view(mcn).find_first_not_of('0') != std::string_view::npos)
            text.Catalog = mcn;
        any = any || !text.Catalog.empty();
        cdio_free(mcn);
        return any;
    }

    bool Eject() override
    {
        if (m_driver != DRIVER_DEVICE)
            return false;
        Close();  // the drive is opened afresh when its table is read next
        return cdio_eject_media_drive(m_source.c_str()) == DRIVER_OP_SUCCESS;
    }

    bool CloseTray() override
    {
        if (m_driver != DRIVER_DEVICE)
            return false;
        driver_id_t driver = DRIVER_DEVICE;
        return cdio_close_tray(m_source.c_str(), &driver) == DRIVER_OP_SUCCESS;
    }

    bool CdioSource(std::string& source, int& driver) const override
    {
        source = m_source;
        driver = m_driver;
        return true;
    }

    bool ReadQPosition(int32_t lba, int& track, int& index) override
    {
        // READ CD of one audio sector with its formatted Q sub-channel (16 bytes after the 2352):
        // control/ADR, track, index (both BCD), ... A drive only.
        if (!m_cdio || m_driver != DRIVER_DEVICE)
            return false;
        uint8_t block[CDSectorSize + 16];
        if (mmc_read_cd(m_cdio, block, lba, CDIO_MMC_READ_TYPE_CDDA, false, false, 0, true, false, 0, 2,
                        sizeof block, 1) != DRIVER_OP_SUCCESS)
            return false;
        const uint8_t* q = block + CDSectorSize;
        const auto bcd = [](uint8_t b) { return (b >> 4) > 9 || (b & 0x0F) > 9 ? -1 : (b >> 4) * 10 + (b & 0x0F); };
        if ((q[0] & 0x0F) != 1)  // mode 1: the position
            return false;
        track = bcd(q[1]);
        index = bcd(q[2]);
        return track >= 1 && track <= 99 && index >= 0;
    }

    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        if (!m_cdio)
            return false;
        if (m_driver == DRIVER_DEVICE) {
            if (cdio_read_audio_sectors(m_cdio, out, lba, static_cast<uint32_t>(count)) == DRIVER_OP_SUCCESS)
                return true;
            Diagnose();  // a drive unplugged mid-rip, a disc taken out
            return false;
        }
        // An image is read ahead in large pieces: the program reads 10 sectors at a time, and a
        // file read per request would cost more than the copy itself.
        for (int32_t s = 0; s < count;) {
            const int32_t at = lba + s;
            if (at < m_cacheStart || at >= m_cacheStart + m_cacheCount) {
                if (!FillCache(at))
                    return false;
            }
            const int32_t n = std::min(count - s, m_cacheStart + m_cacheCount - at);
            std::memcpy(out + std::size_t(s) * CDSectorSize, m_cache.data() + std::size_t(at - m_cacheStart) * CDSectorSize,
                        std::size_t(n) * CDSectorSize);
            s += n;
        }
        return true;
    }

private:
    static constexpr int32_t ReadAhead = 448;  // sectors, about 1 MiB

    // After a device's failure: what the system says of it, for the user.
    void Diagnose()
    {
        if (m_driver != DRIVER_DEVICE)
            return;
        std::string detail;
        const TDeviceState state = DiagnoseDevice(m_source, detail);
        const std::lock_guard<std::mutex> lock(m_problemMutex);
        m_problem = state == TDeviceState::Fine ? std::string() : DriveProblemText(m_source, state, detail);
        m_gone = m_gone || state == TDeviceState::Gone;
    }

public:
    bool Vanished() const override { return m_gone; }

private:
    std::atomic<bool> m_gone{false};

    mutable std::mutex m_problemMutex;
    std::string m_problem;

    // Reads up to ReadAhead sectors from lba, fewer at the disc's end.
    bool FillCache(int32_t lba)
    {
        m_cacheCount = 0;
        // The disc's sectors end where the lead-out begins.
        const lsn_t end = cdio_get_disc_last_lsn(m_cdio);
        if (lba < 0 || end == CDIO_INVALID_LSN || lba >= end)
            return false;
        const int32_t n = std::min<int32_t>(ReadAhead, end - lba);
        m_cache.resize(std::size_t(ReadAhead) * CDSectorSize);
        if (cdio_read_audio_sectors(m_cdio, m_cache.data(), lba, static_cast<uint32_t>(n)) != DRIVER_OP_SUCCESS)
            return false;
        m_cacheStart = lba;
        m_cacheCount = n;
        return true;
    }

    std::string m_source;
    driver_id_t m_driver;
    std::string m_vendor, m_product;
    CdIo_t* m_cdio = nullptr;
    std::vector<uint8_t> m_cache;
    int32_t m_cacheStart = 0;
    int32_t m_cacheCount = 0;
};

driver_id_t ImageDriver(const std::string& path)
{
    if (EndsWith(path, ".cue"))
        return DRIVER_BINCUE;
    if (EndsWith(path, ".toc"))
        return DRIVER_CDRDAO;
    if (EndsWith(path, ".nrg"))
        return DRIVER_NRG;
    return DRIVER_UNKNOWN;
}

// A drive whose tray is a folder (a disc-changing station's tests, a machine without a drive):
// its disc is the image put into the folder first (the oldest .cue or .toc file in it, by
// modification time, then by name); ejecting moves that image, and the files a cue sheet names
// beside it, into the folder's "ejected/". No image: no disc. Each look at the table of contents
// takes the disc there is now, as a drive does after a disc was changed.
class TFolderDrive final : public TDriveBackend {
public:
    explicit TFolderDrive(std::string folder)
        : m_folder(folder.empty() || folder.back() != '/' ? folder + "/" : folder)
    {
    }

    std::string Vendor() const override { return "Sonvale "; }
    std::string Product() const override { return "Tray " + FileNameOf(m_folder.substr(0, m_folder.size() - 1)); }
    bool Open() override
    {
        std::error_code ec;
        if (!std::filesystem::is_directory(m_folder, ec)) {
            SetProblem("The tray folder " + m_folder + " does not exist.");
            return false;
        }
        return true;
    }
    // (An image drive let go is closed by the last reader holding it: a read under way on
    // another thread finishes first.)
    void Close() override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_inner.reset();
        m_image.clear();
    }
    bool ReadToc(TDiscToc& toc) override
    {
        const std::shared_ptr<TDriveBackend> disc = Disc(true);
        if (!disc)
            return false;
        const bool read = disc->ReadToc(toc);
        if (!read)
            SetProblem(disc->Problem());
        return read;
    }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        const std::shared_ptr<TDriveBackend> disc = Disc(false);
        return disc && disc->ReadAudio(lba, count, out);
    }
    bool ReadText(TDiscText& text) override
    {
        const std::shared_ptr<TDriveBackend> disc = Disc(false);
        return disc && disc->ReadText(text);
    }
    bool ReadQPosition(int32_t lba, int& track, int& index) override
    {
        const std::shared_ptr<TDriveBackend> disc = Disc(false);
        return disc && disc->ReadQPosition(lba, track, index);
    }
    bool CdioSource(std::string& source, int& driver) const override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_inner && m_inner->CdioSource(source, driver);
    }
    std::string Problem() const override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_problem;
    }
    bool Eject() override
    {
        std::string image;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_inner.reset();
            m_image.clear();
            image = FirstImage();
        }
        if (image.empty())
            return true;  // an empty tray opens as well
        const std::string ejected = m_folder + "ejected/";
        std::error_code ec;
        std::filesystem::create_directories(ejected, ec);
        std::vector<std::string> files = {image};
        if (ImageDriver(image) == DRIVER_BINCUE)
            for (const std::string& file : CueFiles(image))
                if (FolderOf(file) == m_folder)
                    files.push_back(file);
        bool moved = true;
        for (const std::string& file : files)
            moved = std::rename(file.c_str(), (ejected + FileNameOf(file)).c_str()) == 0 && moved;
        if (!moved)
            SetProblem("Cannot move " + image + " into " + ejected + ": " + std::strerror(errno) + ".");
        return moved;
    }
    bool CloseTray() override { return true; }

private:
    std::string FirstImage() const { return FirstTrayImage(m_folder); }
    // The disc in the tray: looked for again when fresh (a new look at the table), else the one
    // last found.
    std::shared_ptr<TDriveBackend> Disc(bool fresh)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!fresh)
            return m_inner;
        const std::string image = FirstImage();
        if (image != m_image || !m_inner) {
            m_inner.reset();
            m_image = image;
            if (!image.empty()) {
                auto inner = OpenImageDrive(image);
                if (inner->Open())
                    m_inner = std::move(inner);
                else
                    m_problem = inner->Problem().empty() ? image + ": it is not a disc image libcdio can read" : inner->Problem();
            } else {
                m_problem = "No disc in " + m_folder + " (the tray folder holds no .cue or .toc image).";
            }
        }
        return m_inner;
    }
    void SetProblem(std::string problem)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_problem = std::move(problem);
    }

    const std::string m_folder;  // with its trailing "/"
    mutable std::mutex m_mutex;
    std::shared_ptr<TDriveBackend> m_inner;  // the image in the tray, open
    std::string m_image;
    std::string m_problem;
};

std::shared_ptr<TDriveBackend> OpenDeviceDrive(const std::string& device)
{
    std::string vendor, product = FileNameOf(device);
    if (CdIo_t* probe = cdio_open(device.c_str(), DRIVER_DEVICE)) {
        cdio_hwinfo_t info{};
        if (cdio_get_hwinfo(probe, &info)) {
            vendor = Trimmed(info.psz_vendor, sizeof info.psz_vendor);
            // Padded to the width of a SCSI vendor field, so the display name reads
            // "VENDOR  Model" as the drive reports it.
            vendor.resize(8, ' ');
            product = Trimmed(info.psz_model, sizeof info.psz_model);
        }
        cdio_destroy(probe);
    }
    return std::make_shared<TCdioDrive>(device, DRIVER_DEVICE, vendor, product);
}

}  // namespace

std::string DriveProblemText(const std::string& device, TDeviceState state, const std::string& detail)
{
    switch (state) {
    case TDeviceState::NoPermission:
        return "Cannot open " + device + ": Permission denied. Add your account to the 'cdrom' group: "
               "sudo adduser $USER cdrom, then log in again.";
    case TDeviceState::Busy:
        return "Cannot open " + device + ": it is busy" +
               (detail.empty() ? std::string(" (another program holds it: close that program first).")
                               : " (mounted at " + detail + ": unmount it first).");
    case TDeviceState::TrayOpen:
        return "The tray of " + device + " is open: close it with the disc in it.";
    case TDeviceState::NoDisc:
        return "There is no disc in " + device + ".";
    case TDeviceState::Gone:
        return "The drive " + device + " is gone (unplugged or switched off).";
    case TDeviceState::Other:
        return "Cannot read " + device + (detail.empty() ? std::string(".") : ": " + detail + ".");
    case TDeviceState::Fine:
        break;
    }
    return {};
}

TDeviceState DiagnoseDevice(const std::string& device, std::string& detail)
{
    detail.clear();
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return TDeviceState::Gone;
    const int fd = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return TDeviceState::NoPermission;
        if (error == ENODEV || error == ENXIO || error == ENOENT)
            return TDeviceState::Gone;
        if (error == EBUSY) {
            // Mounted (its mount point from /proc/mounts), or opened exclusively by another program.
            std::ifstream mounts("/proc/mounts");
            for (std::string line; std::getline(mounts, line);) {
                std::istringstream words(line);
                std::string source, target;
                if (words >> source >> target && source == device)
                    detail = target;
            }
            return TDeviceState::Busy;
        }
        detail = std::strerror(error);
        return TDeviceState::Other;
    }
    const int status = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    close(fd);
    if (status == CDS_TRAY_OPEN)
        return TDeviceState::TrayOpen;
    if (status == CDS_NO_DISC)
        return TDeviceState::NoDisc;
    return TDeviceState::Fine;
}

std::shared_ptr<TDriveBackend> OpenImageDrive(const std::string& path)
{
    QuietOnce();
    const driver_id_t driver = ImageDriver(path);
    return std::make_shared<TCdioDrive>(driver == DRIVER_BINCUE ? CueForLibcdio(path) : path, driver, "Sonvale ",
                                        "Image " + FileNameOf(path));
}


std::shared_ptr<TDriveBackend> OpenFolderDrive(const std::string& folder)
{
    QuietOnce();
    return std::make_shared<TFolderDrive>(folder);
}

bool IsTrayFolder(const std::string& path)
{
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || std::filesystem::is_directory(path, ec);
}

std::vector<std::string> DiscImageProblems()
{
    QuietOnce();
    std::vector<std::string> problems;
    const char* images = std::getenv("SONVALE_DISC_IMAGES");
    if (!images)
        return problems;
    std::istringstream list(images);
    for (std::string path; std::getline(list, path, ':');) {
        if (path.empty())
            continue;
        std::string why;
        struct stat st {};
        if (IsTrayFolder(path)) {
            if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                why = "the tray folder does not exist";
            else if (access(path.c_str(), R_OK | W_OK | X_OK) != 0)
                why = "the tray folder cannot be read and written";
        } else if (stat(path.c_str(), &st) != 0)
            why = "the file does not exist";
        else if (!S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0)
            why = "the file cannot be read";
        else if (ImageDriver(path) == DRIVER_UNKNOWN)
            why = "it is not a disc image (.cue, .toc or .nrg)";
        else if (CdIo_t* cdio = cdio_open(ImageDriver(path) == DRIVER_BINCUE ? CueForLibcdio(path).c_str() : path.c_str(),
                                          ImageDriver(path)))
            cdio_destroy(cdio);
        else {
            why = "it is not a disc image libcdio can read";
            if (ImageDriver(path) == DRIVER_BINCUE)
                for (const std::string& file : CueFiles(path))
                    if (access(file.c_str(), R_OK) != 0) {
                        why = "it names " + file + ", which " +
                              (access(file.c_str(), F_OK) != 0 ? "does not exist" : "cannot be read");
                        break;
                    }
        }
        if (!why.empty())
            problems.push_back(path + ": " + why);
    }
    return problems;
}

std::vector<std::shared_ptr<TDriveBackend>> FindDrives()
{
    QuietOnce();
    std::vector<std::shared_ptr<TDriveBackend>> drives;
    if (char** devices = cdio_get_devices(DRIVER_DEVICE)) {
        for (char** d = devices; *d && drives.size() < MaxCDList; ++d)
            drives.push_back(OpenDeviceDrive(*d));
        cdio_free_device_list(devices);
    }
    if (const char* images = std::getenv("SONVALE_DISC_IMAGES")) {
        std::istringstream list(images);
        std::string path;
        while (std::getline(list, path, ':') && drives.size() < MaxCDList)
            if (!path.empty())
                drives.push_back(IsTrayFolder(path) ? OpenFolderDrive(path) : OpenImageDrive(path));
    }
    return drives;
}
