#include "ripthread.h"

#include "akrip32Drives.h"

#include "AccurateRip.h"
#include "DiscScan.h"
#include "SecureRead.h"

#include "Global.h"
#include "JobMessages.h"
#include "WavHeader.h"

#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t SectorsPerRead = 10;   // 23520 bytes
constexpr std::size_t NormalizeBlock = 2048;
constexpr std::size_t PendingBytes = 1 << 20;

void Post(HWND window, std::unique_ptr<TProcessInfo> info)
{
    PostMessage(window, WM_PROCESSINFO, 0, 0, std::move(info));
}

void PostEnd(HWND window, int32_t status)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Code = piExtracted;
    info->Status = status;
    Post(window, std::move(info));
}

// A progress report: percent done and, from 1 % on, the elapsed and the estimated total time of
// the stage, both rounded to whole seconds.
void PostProgress(HWND window, int32_t percent, Clock::time_point start)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Code = percent;
    if (percent != 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto elapsed = static_cast<int64_t>(std::nearbyint(seconds));
        info->ElapsedText = TimeText(elapsed);
        info->EstimatedText = TimeText(static_cast<int64_t>(std::nearbyint(elapsed * 100.0 / percent)));
    }
    Post(window, std::move(info));
}

// Opens path for writing as a new, empty file that this program holds the write lock on. A
// symbolic link is not followed (the file must stay in its folder); a file another writer holds
// is not touched. -1 on failure.
int CreateLocked(const std::string& path)
{
    // O_NONBLOCK: a FIFO put in the file's place fails at once instead of waiting for a reader.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return -1;
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (!TryLockForWriting(fd))
        error = EBUSY;  // another writer holds it
    else if (ftruncate(fd, 0) != 0)
        error = errno;
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// a / b rounded down, for a that may be negative (a byte before the disc's start).
int64_t FloorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

std::string DataTrackMessage(int trackNumber)
{
    return "Track " + TwoDigits(trackNumber) + " is a data track and holds no audio.";
}

TExtractSettings TExtractSettings::FromOptions()
{
    TExtractSettings s;
    s.Normalize = Options.CommonOptions.IsNormalize;
    s.NormalizePercent = Options.CommonOptions.NormalizePercent;
    s.Secure = Options.SecureOptions.SecureMode;
    s.ReadOffset = Options.SecureOptions.ReadOffset;
    s.RefuseDamaged = Options.SecureOptions.RefuseDamaged;
    s.Loudness = Options.Tags.ReplayGain;
    return s;
}

TCDRipThread::TCDRipThread(int trackPosition, std::string path)
    : m_trackPosition(trackPosition)
    , m_path(std::move(path))
{
}

TCDRipThread::~TCDRipThread()
{
    Cancel();
    WaitFor();
}

void TCDRipThread::Start()
{
    if (m_thread.joinable())
        return;
    m_normalize = Settings.Normalize;
    m_normalizePercent = Settings.NormalizePercent;
    m_secure = Settings.Secure;
    m_readOffset = Settings.ReadOffset;
    m_refuseDamaged = Settings.RefuseDamaged;
    m_loudness = Settings.Loudness;
    m_burst = Settings.Burst;
    m_thread = std::thread([this] { Execute(); });
}

void TCDRipThread::WaitFor()
{
    if (m_thread.joinable())
        m_thread.join();
}

void TCDRipThread::Execute()
{
    if (!ModifyCDParms(DriveHandle, CDP_MSF, 1)) {
        PostMessage(ReceivingWindow, WM_EXTRACTERROR, 0, 1);
        return;
    }
    TTOC toc{};
    // The track and the entry after it (the next track or the lead-out) must be in the table.
    if (ReadTOC(DriveHandle, &toc) != 1 || !TocIsUsable(toc) || m_trackPosition < WholeDisc ||
        m_trackPosition > toc.LastTrack - toc.FirstTrack + 1) {
        PostMessage(ReceivingWindow, WM_EXTRACTERROR, 0, 2);
        return;
    }
    if (m_trackPosition > 0 && TocFrames(toc.Tracks[m_trackPosition]) < TocFrames(toc.Tracks[m_trackPosition - 1])) {
        PostMessage(ReceivingWindow, WM_EXTRACTERROR, 0, 2);  // addresses that run backwards
        return;
    }
    // The audio tracks' range: AccurateRip leaves out the first track's start and the last
    // one's end; secure reads shifted by the offset find silence beyond the audio's end.
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    int lastAudio = 0;
    for (int p = 1; p <= count; ++p)
        if (!TrackSectors(toc, p).Data)
            lastAudio = p;
    const TTrackSectors lastTrack = TrackSectors(toc, std::max(lastAudio, 1));
    const int32_t discEnd = lastTrack.Start + lastTrack.Length;
    m_discSamples = int64_t{discEnd - TrackSectors(toc, 1).Start} * 588;
    // What the file holds: the one track, or (the whole disc) the audio before the first track
    // and every audio track, one after another from sector 0.
    std::vector<TRegion> regions;
    const TTrackSectors first = TrackSectors(toc, 1);
    if (m_trackPosition == WholeDisc) {
        if (!first.Data && first.Start > 0)
            regions.push_back({0, 0, first.Start});
        for (int p = 1; p <= lastAudio && !TrackSectors(toc, p).Data; ++p)
            regions.push_back({p, TrackSectors(toc, p).Start, TrackSectors(toc, p).Length});
    } else if (m_trackPosition == 0) {  // the audio before the first track (sector 0 to its start)
        if (first.Data || first.Start == 0) {  // the disc hides nothing there
            PostMessage(ReceivingWindow, WM_EXTRACTERROR, 0, 2);
            return;
        }
        regions.push_back({0, 0, first.Start});
    } else {
        const TTrackSectors track = TrackSectors(toc, m_trackPosition);
        if (track.Data) {
            PostEnd(ReceivingWindow, esDataTrack);
            return;
        }
        regions.push_back({m_trackPosition, track.Start, track.Length});
    }
    if (regions.empty()) {  // a whole disc without audio
        PostEnd(ReceivingWindow, esDataTrack);
        return;
    }
    if (m_path.empty()) {
        PostEnd(ReceivingWindow, esCannotCreate);
        return;
    }
    const int32_t status = ReadRegions(regions, lastAudio, discEnd);
    if (status < 0)
        return;  // cancelled
    PostEnd(ReceivingWindow, status);
}

int32_t TCDRipThread::ReadRegions(const std::vector<TRegion>& regions, int lastAudio, int32_t discEnd)
{
    m_results.clear();
    const TFd file(CreateLocked(m_path));
    if (file.get() < 0) {
        m_writeError = errno;
        return esCannotCreate;
    }
    m_fileMade = true;
    if (!WriteWavHeader(file.get(), CanonicalWavHeader(0))) {
        m_writeError = errno;
        return esCannotCreate;
    }
    m_progressTotal = 0;
    for (const TRegion& r : regions)
        m_progressTotal += r.Length;
    // Reserve the file's space up front (its size stays as written): the file system allocates it
    // in one piece instead of a megabyte at a time. A file system that cannot reserve simply does
    // not; unused space is given back below.
    static_cast<void>(fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, WavHeaderSize + off_t{m_progressTotal} * CDSectorSize));
    m_started = Clock::now();
    m_progressBefore = 0;
    uint64_t written = 0;
    int32_t status = esDone;
    for (const TRegion& r : regions) {
        uint64_t bytes = 0;
        status = ReadTrack(file.get(), static_cast<off_t>(WavHeaderSize + written), r, r.Position == 1,
                           r.Position == lastAudio && r.Position > 0, discEnd, bytes);
        written += bytes;
        m_result.Position = r.Position;
        m_results.push_back(m_result);
        m_progressBefore += r.Length;
        if (status != esDone)
            break;
    }
    // Whatever has been read is in the file, for whatever reason the reads ended; its header says
    // 0 bytes unless every region is whole (or Stop cut the reads short: a valid WAV of what was
    // read).
    static_cast<void>(ftruncate(file.get(), static_cast<off_t>(WavHeaderSize + written)));
    if ((status == esDone || status < 0) && !WriteWavHeader(file.get(), CanonicalWavHeader(written))) {
        m_writeError = errno;
        return status < 0 ? status : esCannotCreate;
    }
    if (status != esDone)
        return status;
    if (m_normalize && regions.size() == 1) {
        if (!NormalizeFile(m_path, m_normalizePercent, ReceivingWindow, &m_cancel, m_meter.get()))
            return Cancelled() ? -1 : esNormalizeFailed;
    }
    m_result.Loudness = std::move(m_meter);
    return esDone;
}

// One region read into file at at: once secure (or plain), or burst-first (plain reads, kept when
// a database confirms them, else read again securely over the same bytes). The end status, or -1
// when cancelled; bytes: what the region's last pass wrote.
int32_t TCDRipThread::ReadTrack(int fd, off_t at, const TRegion& region, bool firstAudio, bool lastAudio,
                                int32_t discEnd, uint64_t& bytes)
{
    m_result = TTrackResult{};
    int32_t status;
    // While the answer is awaited the window says so, rather than "Initializing...".
    const auto waiting = [this] {
        auto info = std::make_unique<TProcessInfo>();
        info->Code = piWaitingForDatabase;
        Post(ReceivingWindow, std::move(info));
    };
    const auto pass = [&](bool paranoia) {
        return ReadPass(fd, at, region.Start, region.Length, firstAudio, lastAudio, discEnd, paranoia, bytes);
    };
    // Burst-first only where a database has an entry for the disc to confirm against (neither
    // keeps the audio hidden before the first track).
    if (m_secure && m_burst && region.Position > 0 && m_burst->HasEntry(m_cancel, waiting)) {
        status = pass(false);
        if (status < 0)
            return status;
        const TBurstCheck::TConfirmation confirmed =
            status == esDone ? m_burst->Confirms(region.Position, m_result) : TBurstCheck::TConfirmation{};
        if (confirmed.AccurateRip || confirmed.Ctdb) {
            m_result.Read = TReadKind::BurstConfirmed;
            m_result.ConfirmedByAccurateRip = confirmed.AccurateRip;
            m_result.ConfirmedByCtdb = confirmed.Ctdb;
        } else {
            status = pass(true);
            m_result.Read = TReadKind::SecureAfterBurst;
        }
    } else {
        status = pass(m_secure);
        m_result.Read = m_secure ? TReadKind::Secure : TReadKind::Plain;
    }
    if (status == esDone && Cancelled())
        return -1;
    return status;
}

// One pass over a region into the file from at on. paranoia: secure reads; otherwise plain reads
// (in secure mode still shifted by the read offset, with silence beyond the disc). The status, or
// -1 when cancelled; bytes: what it wrote.
int32_t TCDRipThread::ReadPass(int fd, off_t at, int32_t start, int32_t length, bool firstAudio, bool lastAudio,
                               int32_t discEnd, bool paranoia, uint64_t& bytes)
{
    const TReadKind kind = m_result.Read;
    m_result = TTrackResult{};
    m_result.Read = kind;
    m_result.Secure = m_secure;
    m_result.ReadOffset = m_secure ? m_readOffset : 0;
    bytes = 0;
    TTrackChecksums sums(int64_t{length} * 588, firstAudio, lastAudio, m_discSamples);
    // Loudness is measured on what the file ends up holding: as read, or after normalising.
    m_meter = m_loudness ? std::make_shared<TLoudness>() : nullptr;
    TLoudness* readMeter = m_normalize ? nullptr : m_meter.get();
    // Secure reads set paranoia up over the drive's disc; plain reads never touch it.
    std::optional<TSecureReader> secure;
    if (paranoia) {
        secure.emplace(DriveHandle, discEnd, 20, &m_cancel);
        if (!secure->Ready()) {
            std::fprintf(stderr, "Secure reads: %s\n", secure->Error().c_str());
            return esReadFailed;
        }
    }
    // Secure mode reads the track's bytes shifted by the offset: from this byte of the disc.
    const int64_t firstByte = int64_t{start} * CDSectorSize + int64_t{m_result.ReadOffset} * 4;
    // The sectors of a shifted piece: through paranoia, or plain with silence outside the disc.
    const auto readSectors = [&](int32_t s0, int32_t sectors, uint8_t* out) {
        if (secure)
            return secure->Read(s0, sectors, out);
        std::memset(out, 0, std::size_t(sectors) * CDSectorSize);
        const int32_t from = std::max(s0, 0), to = std::min(s0 + sectors, discEnd);
        return from >= to || AkripReadSectors(DriveHandle, from, to - from, out + std::size_t(from - s0) * CDSectorSize);
    };
    if (lseek(fd, at, SEEK_SET) != at) {
        m_writeError = errno;
        return esCannotCreate;
    }
    std::vector<uint8_t> span;
    TTrackBufMemory buffer(0, SectorsPerRead);
    // Reads are gathered and written about 1 MiB at a time; whatever has been read is in the file
    // before the loop ends, for whatever reason it ends.
    std::vector<uint8_t> pending;
    pending.reserve(PendingBytes + SectorsPerRead * CDSectorSize);
    int32_t done = 0;
    bool readFailed = false, writeFailed = false;
    const auto flush = [&] {
        if (!pending.empty() && !writeFailed) {
            if (WriteFully(fd, pending.data(), pending.size())) {
                bytes += pending.size();
            } else {
                writeFailed = true;
                m_writeError = errno;
            }
        }
        pending.clear();
    };
    while (done != length && !Cancelled()) {
        const int32_t count = std::min(SectorsPerRead, length - done);
        TTrackBuf* request = buffer.get();
        request->StartFrame = static_cast<uint32_t>(start + done);
        request->NumFrames = static_cast<uint32_t>(count);
        request->MaxLen = static_cast<uint32_t>(count) * CDSectorSize;
        request->Len = 0;
        request->StartOffset = 0;
        if (m_secure) {
            // The sectors that hold this piece of the shifted track (securely: read until sure).
            const int64_t b0 = firstByte + int64_t{done} * CDSectorSize;
            const int64_t s0 = FloorDiv(b0, CDSectorSize);
            const auto sectors = static_cast<int32_t>(FloorDiv(b0 + int64_t{count} * CDSectorSize - 1, CDSectorSize) - s0 + 1);
            span.resize(static_cast<std::size_t>(sectors) * CDSectorSize);
            if (!readSectors(static_cast<int32_t>(s0), sectors, span.data())) {
                readFailed = true;
                break;
            }
            if (Cancelled())
                break;  // a read cut short by Stop is not verified: not kept
            const uint8_t* piece = span.data() + (b0 - s0 * CDSectorSize);
            sums.Add(piece, static_cast<std::size_t>(count) * CDSectorSize);
            if (readMeter)
                readMeter->Add(piece, static_cast<std::size_t>(count) * CDSectorSize);
            pending.insert(pending.end(), piece, piece + static_cast<std::size_t>(count) * CDSectorSize);
            if (pending.size() >= PendingBytes)
                flush();
        } else if (ReadCDAudioLBA(DriveHandle, request) == 1) {
            if (readMeter)
                readMeter->Add(buffer.Delivered(), request->Len);
            pending.insert(pending.end(), buffer.Delivered(), buffer.Delivered() + request->Len);
            if (pending.size() >= PendingBytes)
                flush();
        } else {
            readFailed = true;
        }
        done += count;
        PostProgress(ReceivingWindow,
                     static_cast<int32_t>((m_progressBefore + int64_t{done}) * 100 / std::max<int64_t>(m_progressTotal, 1)),
                     m_started);
        if (readFailed || writeFailed)
            break;  // not retried; the file keeps what was read
    }
    flush();
    if (m_secure) {  // the plain reads of plain rips stay as they always were, and as fast
        m_result.Crc32 = sums.Crc32();
        m_result.AccurateRipV1 = sums.V1();
        m_result.AccurateRipV2 = sums.V2();
        m_result.CtdbCrc = sums.CtdbCrc();
        m_result.CtdbBytes = sums.CtdbBytes();
        m_result.Peak = sums.Peak();
        m_result.Edges = std::make_shared<const TTrackEdges>(sums.Edges());
    }
    if (secure) {
        m_result.Rereads = secure->Rereads();
        m_result.Unreadable = secure->Unreadable();
    }
    if (readFailed || (m_refuseDamaged && !m_result.Unreadable.empty()))
        return esReadFailed;
    if (writeFailed)
        return esCannotCreate;
    return esDone;
}

bool NormalizeFile(const std::string& path, int percent, HWND window, const std::atomic<bool>* cancel, TLoudness* meter)
{
    auto begin = std::make_unique<TProcessInfo>();
    begin->Code = piNormalizing;
    Post(window, std::move(begin));

    const std::string temp = WithExtension(path, ".nor");
    // Every one of the 65536 sample values scaled once: gain in single precision, the product
    // exact (a 16-bit sample times a 24-bit mantissa fits the 53 bits of a double), rounded once
    // to nearest with halves to the even neighbour (the default rounding mode), and held within
    // the 16-bit range (products beyond it are possible above 100 %). Rounding the product to
    // single precision first would round twice: 10 x 0.95f = 9.4999998808 gives 9, but as a
    // float it becomes 9.5, which gives 10.
    const float gain = static_cast<float>(percent) / 100.0f;
    std::vector<uint16_t> scaled(65536);
    for (uint32_t bits = 0; bits < 65536; ++bits) {
        const double product = std::nearbyint(static_cast<double>(static_cast<int16_t>(bits)) * static_cast<double>(gain));
        const double held = std::fmin(32767.0, std::fmax(-32768.0, product));
        scaled[bits] = static_cast<uint16_t>(static_cast<int16_t>(held));
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!in)
        return false;
    struct stat st {};
    if (fstat(fileno(in.get()), &st) != 0)
        return false;
    const TFd outFd(CreateLocked(temp));
    if (outFd.get() < 0)
        return false;
    bool ok = true;
    {
        // Whole-file buffers: the pass goes block by block, the disk sees large writes.
        static constexpr std::size_t IoBuffer = 1 << 20;
        std::setvbuf(in.get(), nullptr, _IOFBF, IoBuffer);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(fdopen(dup(outFd.get()), "wb"), std::fclose);
        if (!out)
            return false;
        std::setvbuf(out.get(), nullptr, _IOFBF, IoBuffer);

        const Clock::time_point started = Clock::now();
        const auto size = static_cast<uint64_t>(st.st_size);
        uint8_t header[WavHeaderSize];
        const std::size_t headerBytes = std::fread(header, 1, sizeof header, in.get());
        ok = std::fwrite(header, 1, headerBytes, out.get()) == headerBytes;
        uint64_t read = headerBytes;
        uint8_t block[NormalizeBlock];
        while (ok) {
            if (cancel && cancel->load(std::memory_order_acquire)) {
                ok = false;
                break;
            }
            PostProgress(window, size == 0 ? 100 : static_cast<int32_t>(read * 100 / size), started);
            const std::size_t n = std::fread(block, 1, sizeof block, in.get());
            if (n == 0) {
                ok = !std::ferror(in.get());
                break;
            }
            read += n;
            for (std::size_t i = 0; i + 1 < n; i += 2) {
                const auto v = scaled[static_cast<uint16_t>(block[i] | block[i + 1] << 8)];
                block[i] = static_cast<uint8_t>(v);
                block[i + 1] = static_cast<uint8_t>(v >> 8);
            }
            if (meter)
                meter->Add(block, n);
            ok = std::fwrite(block, 1, n, out.get()) == n;
        }
        ok = std::fflush(out.get()) == 0 && ok;
        ok = fsync(fileno(out.get())) == 0 && ok;
        ok = std::fclose(out.release()) == 0 && ok;
    }
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}
