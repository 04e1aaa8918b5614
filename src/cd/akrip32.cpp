#include "akrip32.h"

#include "akrip32Drives.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace {

// At most this many handles are open at once; GetCDHandle refuses a further one.
constexpr HCDROM MaxHandles = 10;
// MSF addresses count the 2-second lead-in: block 0 is 00:02:00.
constexpr int32_t LeadInFrames = 150;

struct OpenHandle {
    std::size_t Drive;
    bool Msf = false;
};

struct Library {
    std::mutex Mutex;
    std::optional<std::vector<std::shared_ptr<TDriveBackend>>> Drives;
    std::map<HCDROM, OpenHandle> Handles;

    std::vector<std::shared_ptr<TDriveBackend>>& DriveList()
    {
        if (!Drives) {
            Drives = FindDrives();
            if (Drives->size() > MaxCDList)
                Drives->resize(MaxCDList);
        }
        return *Drives;
    }

    void CloseAll()
    {
        while (!Handles.empty()) {
            const auto first = Handles.begin();
            ReleaseDrive(first->second.Drive, first->first);
            Handles.erase(first);
        }
    }

    // Closes the drive when handle is the last one open on it.
    void ReleaseDrive(std::size_t drive, HCDROM handle)
    {
        const bool others = std::any_of(Handles.begin(), Handles.end(), [&](const auto& h) {
            return h.first != handle && h.second.Drive == drive;
        });
        if (!others && Drives && drive < Drives->size())
            (*Drives)[drive]->Close();
    }

    OpenHandle* Find(HCDROM handle)
    {
        const auto it = Handles.find(handle);
        return it == Handles.end() ? nullptr : &it->second;
    }
};

Library& Lib()
{
    static Library lib;
    return lib;
}

thread_local int32_t lastError = ALERR_NOERROR;

int32_t Fail(int32_t error)
{
    lastError = error;
    return 0;
}

void CopyText(char* to, std::size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(text.size(), size - 1));
}

void SetAddress(TTOCTrack& entry, int32_t lba, bool msf)
{
    if (msf) {
        const int32_t frames = lba + LeadInFrames;
        entry.Addr[0] = 0;
        entry.Addr[1] = static_cast<uint8_t>(frames / 4500);
        entry.Addr[2] = static_cast<uint8_t>(frames / 75 % 60);
        entry.Addr[3] = static_cast<uint8_t>(frames % 75);
    } else {
        const auto v = static_cast<uint32_t>(lba);
        entry.Addr[0] = static_cast<uint8_t>(v >> 24);
        entry.Addr[1] = static_cast<uint8_t>(v >> 16);
        entry.Addr[2] = static_cast<uint8_t>(v >> 8);
        entry.Addr[3] = static_cast<uint8_t>(v);
    }
}

// Runs op(library, the handle's entry, its drive) under the library's lock, after clearing the
// calling thread's error; ALERR_NODRIVE when the handle is not open.
template <typename Op>
int32_t OnHandle(HCDROM handle, Op op)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    lastError = ALERR_NOERROR;
    OpenHandle* open = lib.Find(handle);
    if (!open)
        return Fail(ALERR_NODRIVE);
    return op(lib, *open, *(*lib.Drives)[open->Drive]);
}

}  // namespace

TTrackBufMemory::TTrackBufMemory(uint32_t lba, uint32_t count)
    : m_bytes(new uint8_t[TrackBufHeadSize + std::size_t{count} * CDSectorSize]())
{
    get()->StartFrame = lba;
    get()->NumFrames = count;
    get()->MaxLen = count * CDSectorSize;
}

void AkripUseDrives(std::vector<std::shared_ptr<TDriveBackend>> drives)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    lib.CloseAll();
    if (drives.size() > MaxCDList)
        drives.resize(MaxCDList);
    lib.Drives = std::move(drives);
}

void AkripForgetDrives()
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    lib.CloseAll();
    lib.Drives.reset();
}

int32_t GetCDList(TCDList* list)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    lastError = ALERR_NOERROR;
    if (!list)
        return Fail(ALERR_INVPARM);
    const auto& drives = lib.DriveList();
    const std::size_t n = std::min<std::size_t>({drives.size(), list->Max, MaxCDList});
    list->Num = static_cast<uint8_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
        TCDRec& rec = list->Cd[i];
        rec.HostAdapter = 0;
        rec.Target = static_cast<uint8_t>(i);
        rec.Lun = 0;
        CopyText(rec.Vendor, sizeof rec.Vendor, drives[i]->Vendor());
        CopyText(rec.ProductId, sizeof rec.ProductId, drives[i]->Product());
    }
    return static_cast<int32_t>(n);
}

namespace {
thread_local std::string t_openProblem;  // why this thread's last GetCDHandle failed to open
}

HCDROM GetCDHandle(const TGetCDHand* request)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    lastError = ALERR_NOERROR;
    if (!request || request->HostAdapter != 0 || request->Lun != 0)
        return Fail(ALERR_NODRIVE);
    const auto& drives = lib.DriveList();
    const std::size_t drive = request->Target;
    if (drive >= drives.size())
        return Fail(ALERR_NODRIVE);

    HCDROM handle = 1;
    while (handle <= MaxHandles && lib.Handles.contains(handle))
        ++handle;
    if (handle > MaxHandles)
        return Fail(ALERR_NOHANDLE);
    const bool alreadyOpen = std::any_of(lib.Handles.begin(), lib.Handles.end(),
                                         [&](const auto& h) { return h.second.Drive == drive; });
    t_openProblem.clear();
    if (!alreadyOpen && !drives[drive]->Open()) {
        t_openProblem = drives[drive]->Problem();
        return Fail(ALERR_NOHANDLE);
    }
    lib.Handles[handle] = OpenHandle{drive};
    return handle;
}

int32_t CloseCDHandle(HCDROM handle)
{
    return OnHandle(handle, [&](Library& lib, OpenHandle& open, TDriveBackend&) {
        lib.ReleaseDrive(open.Drive, handle);
        lib.Handles.erase(handle);
        return 1;
    });
}

int32_t ModifyCDParms(HCDROM handle, int32_t which, uint32_t value)
{
    return OnHandle(handle, [&](Library&, OpenHandle& open, TDriveBackend& drive) {
        if (which != CDP_MSF || !drive.SetParameter(which, value))
            return Fail(ALERR_INVPARM);
        open.Msf = value != 0;
        return 1;
    });
}

namespace {

// The drive's table in the record, addresses in MSF or as block addresses; the error code when
// it cannot be read or does not fit.
int32_t FillToc(TDriveBackend& drive, bool msf, TTOC* toc)
{
    TDiscToc disc;
    if (!drive.ReadToc(disc))
        return ALERR_TOC;
    // The record holds 99 tracks and the lead-out, numbered 1 to 99.
    const std::size_t count = disc.Tracks.size();
    if (count == 0 || count >= MaxTocEntries || disc.FirstTrack < 1 || disc.FirstTrack + static_cast<int>(count) - 1 > 99)
        return ALERR_TOC;

    std::memset(toc, 0, sizeof *toc);
    toc->TocLen = static_cast<uint16_t>(2 + 8 * (count + 1));
    toc->FirstTrack = static_cast<uint8_t>(disc.FirstTrack);
    toc->LastTrack = static_cast<uint8_t>(disc.FirstTrack + count - 1);
    for (std::size_t i = 0; i < count; ++i) {
        TTOCTrack& entry = toc->Tracks[i];
        entry.Session = static_cast<uint8_t>(std::clamp(disc.Tracks[i].Session, 0, 99));
        // ADR 1 (the entry gives a position), the control bits as the drive reports them.
        entry.AdrCtrl = static_cast<uint8_t>(0x10 | (disc.Tracks[i].Audio ? 0 : 0x04) | (disc.Tracks[i].Flags & 0x0B));
        entry.TrackNumber = static_cast<uint8_t>(disc.FirstTrack + i);
        SetAddress(entry, disc.Tracks[i].Lba, msf);
    }
    TTOCTrack& leadOut = toc->Tracks[count];
    leadOut.Session = toc->Tracks[count - 1].Session;
    leadOut.AdrCtrl = 0x10;
    leadOut.TrackNumber = 0xAA;
    SetAddress(leadOut, disc.LeadOutLba, msf);
    return ALERR_NOERROR;
}

}  // namespace

int32_t ReadTOC(HCDROM handle, TTOC* toc)
{
    return OnHandle(handle, [&](Library&, OpenHandle& open, TDriveBackend& drive) {
        if (!toc)
            return Fail(ALERR_INVPARM);
        if (const int32_t error = FillToc(drive, open.Msf, toc); error != ALERR_NOERROR)
            return Fail(error);
        return 1;
    });
}

int32_t ReadCDAudioLBA(HCDROM handle, TTrackBuf* buffer)
{
    return OnHandle(handle, [&](Library&, OpenHandle&, TDriveBackend& drive) {
        if (!buffer || buffer->NumFrames == 0 || buffer->NumFrames > 0x7FFFFFFF / CDSectorSize ||
            buffer->MaxLen < buffer->NumFrames * CDSectorSize || buffer->StartFrame > 0x7FFFFFFF)
            return Fail(ALERR_INVPARM);
        buffer->Len = 0;
        buffer->StartOffset = 0;
        if (!drive.ReadAudio(static_cast<int32_t>(buffer->StartFrame), static_cast<int32_t>(buffer->NumFrames),
                             buffer->Buf))
            return Fail(ALERR_READ);
        buffer->Len = buffer->NumFrames * CDSectorSize;
        return 1;
    });
}

bool AkripReadSectors(int32_t handle, int32_t lba, int32_t count, uint8_t* out)
{
    return OnHandle(handle, [&](Library&, OpenHandle&, TDriveBackend& drive) {
        if (count <= 0 || lba < 0 || !out)
            return Fail(ALERR_INVPARM);
        return drive.ReadAudio(lba, count, out) ? 1 : Fail(ALERR_READ);
    }) == 1;
}

bool AkripReadDiscText(int32_t handle, TDiscText& text)
{
    return OnHandle(handle, [&](Library&, OpenHandle&, TDriveBackend& drive) { return drive.ReadText(text) ? 1 : 0; }) == 1;
}

std::shared_ptr<TDriveBackend> AkripDrive(int32_t handle)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    const OpenHandle* open = lib.Find(handle);
    if (!open || !lib.Drives || open->Drive >= lib.Drives->size())
        return nullptr;
    return (*lib.Drives)[open->Drive];
}

int32_t GetAspiLibError()
{
    return lastError;
}

void AkripSetLastError(int32_t error)
{
    lastError = error;
}

int32_t AkripReadMsfToc(HCDROM handle, TTOC* toc)
{
    const int32_t read = OnHandle(handle, [&](Library&, OpenHandle&, TDriveBackend& drive) {
        const int32_t error = FillToc(drive, true, toc);
        return error == ALERR_NOERROR ? 1 : Fail(error);
    });
    return read == 1 ? ALERR_NOERROR : lastError;
}

std::string AkripDriveName(HCDROM handle)
{
    Library& lib = Lib();
    std::lock_guard lock(lib.Mutex);
    const OpenHandle* open = lib.Find(handle);
    if (!open || !lib.Drives || open->Drive >= lib.Drives->size())
        return {};
    const TDriveBackend& drive = *(*lib.Drives)[open->Drive];
    return drive.Vendor().substr(0, 8) + drive.Product().substr(0, 16);  // as the drive list shows them
}

std::string AkripDriveProblem(int32_t handle)
{
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(handle);
    return drive ? drive->Problem() : std::string();
}

bool AkripDriveVanished(int32_t handle)
{
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(handle);
    return drive && drive->Vanished();
}

std::string AkripLastOpenProblem()
{
    return t_openProblem;
}

std::string WithDriveProblem(const std::string& message, int32_t handle)
{
    const std::string problem = AkripDriveProblem(handle);
    return problem.empty() ? message : message + " " + problem;
}

int32_t AkripEject(HCDROM handle)
{
    return OnHandle(handle, [](Library&, OpenHandle&, TDriveBackend& drive) { return drive.Eject() ? 1 : 0; });
}

int32_t AkripCloseTray(HCDROM handle)
{
    return OnHandle(handle, [](Library&, OpenHandle&, TDriveBackend& drive) { return drive.CloseTray() ? 1 : 0; });
}

void FindPregaps(TDriveBackend& drive, TDiscToc& toc)
{
    // The position of the first sector from lba (before limit) whose Q carries one, and that
    // sector; false when none of four does.
    const auto position = [&drive](int32_t lba, int32_t limit, int& track, int32_t& at) {
        int index = 0;
        for (at = lba; at < lba + 4 && at < limit; ++at)
            if (drive.ReadQPosition(at, track, index))
                return true;
        return false;
    };
    for (std::size_t i = 1; i < toc.Tracks.size(); ++i) {
        TDiscToc::Track& t = toc.Tracks[i];
        const TDiscToc::Track& previous = toc.Tracks[i - 1];
        if (t.Index0 >= 0 || !t.Audio || !previous.Audio || t.Session != previous.Session)
            continue;
        const int number = toc.FirstTrack + static_cast<int>(i);
        int track = 0;
        int32_t at = 0;
        // A drive that cannot tell the track's own start tells nothing.
        if (!position(t.Lba, toc.LeadOutLba, track, at) || track != number)
            continue;
        // The first sector that names the track lies in [lo, hi]; hi names it. (A gap longer than
        // 10 seconds is taken from there.)
        int32_t lo = std::max(previous.Lba + 1, t.Lba - 750), hi = t.Lba;
        while (lo < hi) {
            const int32_t mid = lo + (hi - lo) / 2;
            if (!position(mid, hi, track, at))
                lo = hi;  // the sectors just before hi carry no position: hi is the first that tells
            else if (track == number)
                hi = at;
            else
                lo = at + 1;
        }
        if (hi < t.Lba)
            t.Index0 = hi;
    }
}
