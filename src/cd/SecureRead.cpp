#include "SecureRead.h"

#include "akrip32Drives.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Paranoia calls back without a context of its own; its reads and reports happen inside
// cdio_paranoia_read_limited, on the thread that called it.
thread_local TSecureReader* t_reading = nullptr;

}  // namespace

struct TSecureReader::TParanoia {
    cdrom_drive_t* Drive = nullptr;
    cdrom_paranoia_t* Paranoia = nullptr;

    ~TParanoia()
    {
        if (Paranoia)
            cdio_paranoia_free(Paranoia);
        if (Drive)
            cdio_cddap_close(Drive);  // and its libcdio handle
    }

    // Paranoia's reads, through the drive library. The number of sectors read, or -1.
    static long ReadAudio(cdrom_drive_t*, void* out, lsn_t begin, long sectors)
    {
        TSecureReader* reader = t_reading;
        if (!reader || sectors <= 0 || begin < 0 || (reader->Cancelled() && !reader->m_vanished))
            return -1;  // cancelled: paranoia's retries fail at once and it gives up
        // Reads without a buffer move the drive away from where it read last, so that its cache
        // cannot answer the next read.
        std::vector<uint8_t>& scratch = reader->m_scratch;
        const bool moving = !out;
        if (moving) {
            scratch.resize(static_cast<std::size_t>(sectors) * CDSectorSize);
            out = scratch.data();
        }
        // Paranoia reads ahead of what it is asked for, up to the disc's last sector as libcdio
        // sees it; past the audio's end (the gap before a second session's data track, which a
        // drive refuses) it gets silence instead of read errors.
        uint8_t* const bytes = static_cast<uint8_t*>(out);
        const long audio = std::clamp<long>(reader->m_discEnd - begin, 0, sectors);
        std::memset(bytes + audio * CDSectorSize, 0, static_cast<std::size_t>(sectors - audio) * CDSectorSize);
        auto& failed = reader->m_failed;
        const auto firstFailed = failed.lower_bound(static_cast<int32_t>(begin));
        const bool knownBad = firstFailed != failed.end() && *firstFailed < begin + audio;
        const bool readFailed =
            audio > 0 && !knownBad && !AkripReadSectors(reader->m_handle, begin, static_cast<int32_t>(audio), bytes);
        if (reader->m_vanished || (readFailed && AkripDriveVanished(reader->m_handle))) {
            // Nothing more comes from it. Paranoia is handed silence, which it verifies at once
            // (a failed read it would try again and again); the read as a whole fails.
            reader->m_vanished = true;
            std::memset(bytes, 0, static_cast<std::size_t>(sectors) * CDSectorSize);
            return sectors;
        }
        if (audio > 0 && (knownBad || readFailed)) {
            // A drive fails a whole read for one bad sector. Read alone, the others come back,
            // and each sector that fails alone is handed to paranoia as noise that differs every
            // time: paranoia then gives up on that sector (and perhaps a neighbour it cannot
            // verify against it) instead of on all the read's sectors.
            for (long k = 0; k < audio; ++k) {
                uint8_t* sector = bytes + k * CDSectorSize;
                if (AkripReadSectors(reader->m_handle, static_cast<int32_t>(begin + k), 1, sector))
                    continue;
                for (int i = 0; i < CDSectorSize; ++i) {
                    reader->m_noise = reader->m_noise * 6364136223846793005u + 1442695040888963407u;
                    sector[i] = static_cast<uint8_t>(reader->m_noise >> 56);
                }
                failed.insert(static_cast<int32_t>(begin + k));
            }
        }
        auto& counts = reader->m_readCounts;
        for (lsn_t s = begin; s < begin + audio && !moving; ++s)
            if (static_cast<std::size_t>(s) < counts.size() && counts[static_cast<std::size_t>(s)] < UINT16_MAX)
                ++counts[static_cast<std::size_t>(s)];
        return sectors;
    }

    // What paranoia reports; position in 16-bit words from the disc's start.
    static void Report(long position, paranoia_cb_mode_t what)
    {
        TSecureReader* reader = t_reading;
        if (!reader || what != PARANOIA_CB_SKIP || reader->Cancelled())
            return;
        const auto lba = static_cast<int32_t>(position / CD_FRAMEWORDS);
        if (lba < 0 || lba >= reader->m_discEnd)
            return;  // read ahead beyond the audio, never delivered
        // A stretch given up on near the seam of two pieces of a shifted track is met twice.
        auto& list = reader->m_unreadable;
        if (std::find(list.begin(), list.end(), lba) == list.end())
            list.push_back(lba);
    }
};

TSecureReader::TSecureReader(HCDROM handle, int32_t discEnd, int retries, const std::atomic<bool>* cancel)
    : m_handle(handle)
    , m_discEnd(discEnd)
    , m_retries(std::max(retries, 1))
    , m_cancel(cancel)
    , m_memo(CDSectorSize)
{
    // Paranoia allocates and frees its buffers for every read it makes. With glibc's defaults a
    // free at the top of the heap hands the pages back and the next read faults them in again,
    // which on a disc image took a third of a secure read's time; freed memory up to 32 MiB is
    // kept for reuse instead.
    static std::once_flag heap;
    std::call_once(heap, [] {
        mallopt(M_TRIM_THRESHOLD, 32 << 20);
        mallopt(M_MMAP_THRESHOLD, 4 << 20);
    });
    const std::shared_ptr<TDriveBackend> drive = AkripDrive(handle);
    std::string source;
    int driver = 0;
    if (!drive || !drive->CdioSource(source, driver)) {
        m_error = "the drive cannot be read securely (libcdio does not know it)";
        return;
    }
    // A handle of paranoia's own describes the disc (tracks, formats, sessions) and is never
    // read through: the drive library's handle may be reopened while this one is in use.
    CdIo_t* cdio = cdio_open(source.c_str(), static_cast<driver_id_t>(driver));
    if (!cdio) {
        m_error = "libcdio cannot open " + source;
        return;
    }
    auto p = std::make_unique<TParanoia>();
    p->Drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!p->Drive) {
        cdio_destroy(cdio);
        m_error = "libcdio-paranoia does not know the drive " + source;
        return;
    }
    if (cdio_cddap_open(p->Drive) != 0) {
        m_error = "libcdio-paranoia cannot read the disc in " + source;
        return;
    }
    // Audio comes from drives and images as it lies on the disc, little-endian, which is how
    // the plain reads take it too; paranoia's guess from the samples is not wanted.
    p->Drive->bigendianp = 0;
    p->Drive->b_swap_bytes = false;
    // Opening set paranoia's own reads up; from here on it reads through the library.
    p->Drive->read_audio = &TParanoia::ReadAudio;
    p->Paranoia = cdio_paranoia_init(p->Drive);
    if (!p->Paranoia) {
        m_error = "libcdio-paranoia cannot start";
        return;
    }
    // Every check paranoia has, and a stretch that never reads the same way is given up on
    // after the retries rather than read for ever.
    cdio_paranoia_modeset(p->Paranoia, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    m_readCounts.assign(static_cast<std::size_t>(std::max(discEnd, 0)), 0);
    m_paranoia = std::move(p);
}

TSecureReader::~TSecureReader() = default;

int64_t TSecureReader::Rereads() const
{
    // Paranoia verifies each stretch with two reads; every further read of a sector is a re-read.
    // Only the sectors delivered count: paranoia also reads ahead, and again after a seek.
    int64_t rereads = 0;
    for (int32_t s = m_firstDelivered; s <= m_lastDelivered; ++s)
        rereads += std::max(0, m_readCounts[static_cast<std::size_t>(s)] - 2);
    return rereads;
}

bool TSecureReader::Ready() const
{
    return m_paranoia != nullptr;
}

const uint8_t* TSecureReader::Sector(int32_t lba)
{
    if (lba == m_memoLba)
        return m_memo.data();
    if (lba != m_next)
        cdio_paranoia_seek(m_paranoia->Paranoia, lba, SEEK_SET);
    t_reading = this;
    const int16_t* samples = cdio_paranoia_read_limited(m_paranoia->Paranoia, &TParanoia::Report, m_retries);
    t_reading = nullptr;
    m_next = lba + 1;
    m_firstDelivered = std::min(m_firstDelivered, lba);
    m_lastDelivered = std::max(m_lastDelivered, lba);
    // A sector paranoia gave up on whose reads failed may hold the noise that stood in for them:
    // silence instead.
    const bool noise = m_failed.count(lba) > 0 && std::find(m_unreadable.begin(), m_unreadable.end(), lba) != m_unreadable.end();
    if (samples && !noise)
        std::memcpy(m_memo.data(), samples, CDSectorSize);
    else
        std::memset(m_memo.data(), 0, CDSectorSize);  // or paranoia ran out of memory
    m_memoLba = lba;
    return m_memo.data();
}

bool TSecureReader::Read(int32_t lba, int32_t count, uint8_t* out)
{
    if (!Ready())
        return false;
    for (int32_t k = 0; k < count && !m_vanished; ++k) {
        uint8_t* sector = out + static_cast<std::size_t>(k) * CDSectorSize;
        const int32_t at = lba + k;
        if (at < 0 || at >= m_discEnd)
            std::memset(sector, 0, CDSectorSize);  // before the disc or after its audio
        else
            std::memcpy(sector, Sector(at), CDSectorSize);
    }
    return !m_vanished;
}
