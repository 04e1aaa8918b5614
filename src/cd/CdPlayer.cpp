#include "CdPlayer.h"

#include "DiscScan.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t ReadAheadSectors = 75;  // a second

}  // namespace

TCdPlayer::TCdPlayer(std::unique_ptr<TSoundOutput> output)
    : m_output(std::move(output))
{
}

TCdPlayer::~TCdPlayer()
{
    Close();
}

bool TCdPlayer::Open(HCDROM drive)
{
    Close();
    m_drive = drive;
    if (!ReadMsfToc(drive, m_toc))
        return false;
    m_open = true;
    return true;
}

void TCdPlayer::Close()
{
    if (m_playing)
        Stop();
    m_open = false;
    m_cacheStart = -1;
    m_cacheCount = 0;
}

bool TCdPlayer::TrackPosition(int n, TTmsf& position) const
{
    const int track = m_toc.FirstTrack + n - 1;
    if (!m_open || n < 1 || track > m_toc.LastTrack)
        return false;
    position = MakeTmsf(track);
    return true;
}

int32_t TCdPlayer::Sector(TTmsf position) const
{
    const int track = static_cast<int>(position & 0xFF);
    const int r = track - m_toc.FirstTrack;
    const int32_t offset = static_cast<int32_t>(((position >> 8) & 0xFF) * 4500 + ((position >> 16) & 0xFF) * 75 +
                                                ((position >> 24) & 0xFF));
    return TrackSectors(m_toc, r + 1).Start + offset;
}

bool TCdPlayer::Play(TTmsf from, TTmsf to)
{
    if (!m_open)
        return false;
    const int fromTrack = static_cast<int>(from & 0xFF);
    if (fromTrack < m_toc.FirstTrack || fromTrack > m_toc.LastTrack)
        return false;
    if (m_playing) {
        m_output->Stop();
        if (OnComplete)
            OnComplete(cpSuperseded);
    }
    m_first = Sector(from);
    // To the next track's start, or to the end of the disc: the last audio track's end.
    int32_t end = 0;
    if (to != 0 && static_cast<int>(to & 0xFF) <= m_toc.LastTrack) {
        end = Sector(to);
    } else {
        const TTrackSectors last = TrackSectors(m_toc, m_toc.LastTrack - m_toc.FirstTrack + 1);
        end = last.Start + last.Length;
        for (int r = m_toc.LastTrack - m_toc.FirstTrack + 1; r >= 1; --r) {
            const TTrackSectors t = TrackSectors(m_toc, r);
            if (!t.Data) {
                end = t.Start + t.Length;
                break;
            }
        }
    }
    m_count = std::max(0, end - m_first);
    m_playing = true;
    m_paused = false;
    m_cacheStart = -1;
    m_cacheCount = 0;
    const TPcmFormat cd{2, 16, 44100};
    m_output->Start(cd, int64_t{m_count} * CDSectorSize,
                    [this](int64_t at, uint8_t* out, std::size_t n) { return Read(at, out, n); }, 0, [this] {
                        m_playing = false;
                        m_paused = false;
                        if (OnComplete)
                            OnComplete(cpSuccessful);
                    });
    return true;
}

std::size_t TCdPlayer::Read(int64_t at, uint8_t* out, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const int64_t byte = at + static_cast<int64_t>(done);
        const auto sector = static_cast<int32_t>(byte / CDSectorSize);
        if (sector >= m_count)
            break;
        if (sector < m_cacheStart || sector >= m_cacheStart + m_cacheCount) {
            const int32_t count = std::min(ReadAheadSectors, m_count - sector);
            TTrackBufMemory buffer(static_cast<uint32_t>(m_first + sector), static_cast<uint32_t>(count));
            if (ReadCDAudioLBA(m_drive, buffer.get()) != 1) {
                m_cacheStart = -1;
                m_cacheCount = 0;
                break;  // a sector that cannot be read ends the sound there
            }
            m_cache.assign(buffer.Delivered(), buffer.Delivered() + buffer.get()->Len);
            m_cacheStart = sector;
            m_cacheCount = count;
        }
        const int64_t from = byte - int64_t{m_cacheStart} * CDSectorSize;
        const auto take = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(m_cache.size()) - from,
                                                                     static_cast<int64_t>(n - done)));
        std::memcpy(out + done, m_cache.data() + from, take);
        done += take;
    }
    return done;
}

void TCdPlayer::Pause()
{
    if (m_playing && !m_paused) {
        m_output->Pause();
        m_paused = true;
    } else if (m_paused) {
        Resume();
    }
}

bool TCdPlayer::Resume()
{
    if (!m_paused)
        return false;
    m_output->Resume();
    m_paused = false;
    return true;
}

bool TCdPlayer::Stop()
{
    if (!m_playing)
        return m_open;
    m_output->Stop();
    m_playing = false;
    m_paused = false;
    if (OnComplete)
        OnComplete(cpAborted);
    return true;
}
