#pragma once
// The drives behind the drive library. A drive answers for one disc: its table of contents and
// its raw audio sectors. The library owns the list and the handles.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TDiscToc {
    struct Track {
        int32_t Lba;       // start, logical block address (track 1 of a normal disc: 0)
        bool Audio;
        int Session = 1;   // an Enhanced CD has its data track in session 2
        uint8_t Flags = 0; // the other control bits of the track: 0x01 pre-emphasis, 0x02 copy
                           // permitted, 0x08 four channels
        int32_t Index0 = -1;  // where its pregap (INDEX 00) begins, before Lba; -1: none known
    };
    int FirstTrack = 1;
    std::vector<Track> Tracks;  // FirstTrack, FirstTrack + 1, ... in disc order
    int32_t LeadOutLba = 0;     // the disc's end
};

// What a disc says of itself beside its table: CD-TEXT (UTF-8) and each track's ISRC, the
// strings empty where it says nothing.
struct TDiscText {
    std::string Performer, Title;         // the disc's
    std::vector<std::string> TrackTitles;  // [i]: track FirstTrack + i
    std::vector<std::string> TrackIsrc;    // likewise
    std::string Catalog;                   // the disc's catalogue number (MCN, 13 digits)
};

class TDriveBackend {
public:
    virtual ~TDriveBackend() = default;

    virtual std::string Vendor() const = 0;   // at most 8 characters are shown
    virtual std::string Product() const = 0;  // at most 16

    // Opened when the first handle to the drive is taken, closed with the last.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    // Whether the drive takes the parameter (ModifyCDParms).
    virtual bool SetParameter(int32_t which, uint32_t value) { return which == 36 && value <= 1; }
    virtual bool ReadToc(TDiscToc& toc) = 0;
    // count raw 2352-byte sectors from lba into out.
    virtual bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) = 0;
    // The disc's CD-TEXT and ISRCs; false when it holds none of them (or the drive cannot tell).
    virtual bool ReadText(TDiscText& text)
    {
        static_cast<void>(text);
        return false;
    }
    // The position the Q sub-channel of sector lba gives: its track number and index (1..99,
    // 0..99). False where the drive cannot tell, and for a sector whose Q carries no position
    // (one in about a hundred carries the catalogue number or an ISRC instead).
    virtual bool ReadQPosition(int32_t lba, int& track, int& index)
    {
        static_cast<void>(lba);
        static_cast<void>(track);
        static_cast<void>(index);
        return false;
    }
    // Why the last Open, ReadToc or ReadAudio failed, in the user's words ("Cannot open /dev/sr0:
    // Permission denied. ..."); empty when the drive cannot tell (the caller's own message then
    // stands alone).
    virtual std::string Problem() const { return {}; }
    // The drive is gone since it was opened (unplugged): nothing more can be read from it.
    virtual bool Vanished() const { return false; }
    // Opens or closes the tray; false where there is none (an image).
    virtual bool Eject() { return false; }
    virtual bool CloseTray() { return false; }
    // Where libcdio opens this drive (a device node or an image) and with which of its drivers
    // (a driver_id_t); false for a drive libcdio does not know.
    virtual bool CdioSource(std::string& source, int& driver) const
    {
        static_cast<void>(source);
        static_cast<void>(driver);
        return false;
    }
};

// A drive over another one (a fault layer in tests, a drive's pace in a benchmark): everything is
// the inner drive's until the layer overrides it, most often ReadAudio.
class TDriveLayer : public TDriveBackend {
public:
    explicit TDriveLayer(std::shared_ptr<TDriveBackend> inner)
        : m_inner(std::move(inner))
    {
    }
    std::string Vendor() const override { return m_inner->Vendor(); }
    std::string Problem() const override { return m_inner->Problem(); }
    bool Vanished() const override { return m_inner->Vanished(); }
    std::string Product() const override { return m_inner->Product(); }
    bool Open() override { return m_inner->Open(); }
    void Close() override { m_inner->Close(); }
    bool SetParameter(int32_t which, uint32_t value) override { return m_inner->SetParameter(which, value); }
    bool ReadToc(TDiscToc& toc) override { return m_inner->ReadToc(toc); }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override { return m_inner->ReadAudio(lba, count, out); }
    bool ReadText(TDiscText& text) override { return m_inner->ReadText(text); }
    bool ReadQPosition(int32_t lba, int& track, int& index) override { return m_inner->ReadQPosition(lba, track, index); }
    bool CdioSource(std::string& source, int& driver) const override { return m_inner->CdioSource(source, driver); }

private:
    std::shared_ptr<TDriveBackend> m_inner;
};

// The machine's CD drives (libcdio), then the images of $SONVALE_DISC_IMAGES.
std::vector<std::shared_ptr<TDriveBackend>> FindDrives();

// Each disc image of $SONVALE_DISC_IMAGES that cannot be opened, and why: "<path>: the file does
// not exist" (or "cannot be read", "is not a disc image (.cue, .toc or .nrg)", "names X, which
// does not exist", "is not a disc image libcdio can read").
std::vector<std::string> DiscImageProblems();

// A disc image (CUE/BIN, cdrdao TOC or NRG) read through libcdio, shown as vendor "Sonvale",
// product "Image <file name>".
std::shared_ptr<TDriveBackend> OpenImageDrive(const std::string& path);
// A drive whose tray is a folder: its disc is the oldest .cue or .toc image put into it, and
// ejecting moves that image (with the files its cue sheet names) into the folder's "ejected/".
// Shown as vendor "Sonvale", product "Tray <folder name>". In $SONVALE_DISC_IMAGES a folder
// ("/path/tray/") is such a drive.
std::shared_ptr<TDriveBackend> OpenFolderDrive(const std::string& folder);
// Whether an entry of $SONVALE_DISC_IMAGES is a tray folder: it ends in "/" or is a folder.
bool IsTrayFolder(const std::string& path);

// What a device node's failure means to the user, from what the system says of it.
enum class TDeviceState { Fine, NoPermission, Busy, TrayOpen, NoDisc, Gone, Other };
// "Cannot open /dev/sr0: Permission denied. Add your account to the 'cdrom' group: ...".
// detail: for Busy the mount point ("" when another program holds it), for Other the system's
// words.
std::string DriveProblemText(const std::string& device, TDeviceState state, const std::string& detail = {});
// The state of a device node after a failure: its open()'s errno, its drive status, whether it
// is mounted (the mount point into mountPoint).
TDeviceState DiagnoseDevice(const std::string& device, std::string& detail);

// Why the drive of an open handle last failed (see TDriveBackend::Problem); "" when unknown.
std::string AkripDriveProblem(int32_t handle);
bool AkripDriveVanished(int32_t handle);
// Why the last GetCDHandle on this thread could not open its drive; "" when unknown.
std::string AkripLastOpenProblem();
// message, then the drive's reason when it gives one: "Error while reading CD information! The
// drive /dev/sr0 is gone (...)".
std::string WithDriveProblem(const std::string& message, int32_t handle);

// The drive behind an open handle; null for a handle that is not open.
std::shared_ptr<TDriveBackend> AkripDrive(int32_t handle);
// The CD-TEXT and ISRCs of the disc behind an open handle; false when there are none.
bool AkripReadDiscText(int32_t handle, TDiscText& text);
// Where the table does not say where a track's pregap (INDEX 00) begins, looks for it in the Q
// sub-channel of the sectors before the track (the last 10 seconds of the previous one), where
// the drive can read it: a binary search for the first sector that names the track.
void FindPregaps(TDriveBackend& drive, TDiscToc& toc);
// count raw sectors from lba into out through the handle, as ReadCDAudioLBA reads them, without
// the request record.
bool AkripReadSectors(int32_t handle, int32_t lba, int32_t count, uint8_t* out);

// Replaces the library's drives (tests, or a caller that found them itself) and closes every
// handle.
void AkripUseDrives(std::vector<std::shared_ptr<TDriveBackend>> drives);
// Closes every handle; the next operation looks for the drives again (FindDrives()).
void AkripForgetDrives();

// A drive for tests: the table of contents is given in code, every sample byte is a function of
// its sector and offset (SampleByte), and each operation can be made to fail.
class TScriptedDrive : public TDriveBackend {
public:
    explicit TScriptedDrive(TDiscToc toc, std::string vendor = "Scripted", std::string product = "Drive");

    // A drive without a disc: the table of contents cannot be read.
    static std::shared_ptr<TScriptedDrive> Empty(std::string vendor = "Scripted", std::string product = "Empty");
    // Tracks of the given lengths in sectors, audio, track 1 at block 0.
    static TDiscToc AudioToc(const std::vector<int32_t>& trackSectors);
    // An Enhanced CD: the audio tracks in session 1, then a data track of dataSectors in session
    // 2, which starts 11400 sectors after session 1's end (its lead-out, the next lead-in and the
    // data track's pregap lie between).
    static TDiscToc EnhancedToc(const std::vector<int32_t>& audioSectors, int32_t dataSectors);

    static uint8_t SampleByte(int32_t lba, int offset)
    {
        return static_cast<uint8_t>((lba * 7 + offset * 13 + (offset >> 8)) & 0xFF);
    }

    std::string Vendor() const override { return m_vendor; }
    std::string Product() const override { return m_product; }
    bool Open() override;
    void Close() override;
    bool SetParameter(int32_t which, uint32_t value) override;
    bool ReadToc(TDiscToc& toc) override;
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override;

    // The Q sub-channel, when set: Pregaps[i] is where track FirstTrack + i's INDEX 00 begins
    // (its Lba: none); every QOtherEvery-th sector's Q carries no position (0: none does).
    std::vector<int32_t> QPregaps;
    int32_t QOtherEvery = 0;
    int QReads = 0;
    bool ReadQPosition(int32_t lba, int& track, int& index) override;

    // Faults to inject.
    bool RefuseHandle = false;
    bool RefuseAddressMode = false;
    bool TocUnreadable = false;
    int32_t FailReadAtSector = -1;  // a read that includes this sector fails
    // What Problem() says (the system's reason a real drive would give for the fault injected).
    std::string ProblemText;
    std::string Problem() const override { return ProblemText; }
    std::atomic<bool> Gone{false};  // every read fails from now on, and the drive says it vanished
    bool Vanished() const override { return Gone; }
    // Reads fail, as on a real drive, for sectors outside every audio track: data tracks and
    // the gap between two sessions.
    // Runs at the start of every read, on the reading thread, with the read's first sector.
    std::function<void(int32_t lba)> OnRead;

    TDiscToc Toc;
    int OpenCount = 0;   // handles' worth of Open() minus Close()
    int Reads = 0;

private:
    bool HoldsAudio(int32_t lba) const;

    std::string m_vendor, m_product;
};
