#pragma once
// The CD audio player: plays a disc's tracks by reading their sectors through the drive library
// (physical drives and disc images alike) and sending them to the sound output. It stands in for
// the media control interface's CD audio device: positions as track/minute/second/frame (TMSF),
// play from one position to another or to the end of the disc, pause and resume, stop, close,
// and a completion report when a play that asked for one ends. Lives on the UI thread; the
// report comes on it.

#include "WaveAudio.h"
#include "akrip32.h"

#include <functional>
#include <memory>

// A TMSF position: the track number in the low byte, then minute, second, frame.
using TTmsf = uint32_t;
constexpr TTmsf MakeTmsf(int track, int minute = 0, int second = 0, int frame = 0)
{
    return static_cast<TTmsf>(track | minute << 8 | second << 16 | frame << 24);
}

class TCdPlayer {
public:
    enum TCompletion { cpSuccessful, cpSuperseded, cpAborted, cpFailed };

    explicit TCdPlayer(std::unique_ptr<TSoundOutput> output = MakeSoundOutput());
    ~TCdPlayer();

    // Opens the player on the drive; false when its table cannot be read.
    bool Open(HCDROM drive);
    void Close();
    bool IsOpen() const { return m_open; }
    // The start of the n-th track of the table (from 1), or false when there is none.
    bool TrackPosition(int track, TTmsf& position) const;
    // Plays from to to (to 0: to the end of the disc), reporting the end through OnComplete.
    bool Play(TTmsf from, TTmsf to = 0);
    // Pauses when playing, resumes when paused.
    void Pause();
    bool Resume();
    bool Stop();
    bool Playing() const { return m_playing && !m_paused; }
    bool Paused() const { return m_paused; }

    // The sectors played so far (tests).
    int64_t PlayedBytes() { return m_output->Played(); }
    std::function<void(TCompletion)> OnComplete;

private:
    int32_t Sector(TTmsf position) const;
    std::size_t Read(int64_t at, uint8_t* out, std::size_t n);

    std::unique_ptr<TSoundOutput> m_output;
    HCDROM m_drive = 0;
    TTOC m_toc{};
    bool m_open = false;
    bool m_playing = false;
    bool m_paused = false;
    int32_t m_first = 0;      // sector the play began at
    int32_t m_count = 0;      // sectors in the play
    // A read-ahead of sectors from the drive.
    std::vector<uint8_t> m_cache;
    int32_t m_cacheStart = -1;
    int32_t m_cacheCount = 0;
};
