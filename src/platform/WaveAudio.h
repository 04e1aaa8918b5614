#pragma once
// The wave-audio device: a WAV file, played on the sound output and recorded into from the sound
// input, saved back into the file it was opened on. The file's audio is not read into memory: the
// device maps the file and keeps its audio as pieces (stretches of the file, recordings in
// memory), so an hour-long file opens at once, a recording goes into its middle without moving
// anything, and a save copies the unchanged stretches inside the kernel. It stands in for the media
// control interface's wave-audio device: positions and lengths in milliseconds, a start position
// for the next play or record only, recording inserting at that position (or the current one) in
// the file's own format. Lives on the UI thread; the sound runs on Qt's audio threads and reaches
// it as queued calls.
//
// The sound itself goes through TSoundOutput and TSoundInput. SONVALE_AUDIO picks them: "null"
// (an output that consumes at real time and plays nothing, and an input that gives a 440 Hz
// tone), or "device" (the machine's default devices through Qt Multimedia). Unset: the machine's
// devices when it has them, else the null ones.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TPcmFormat {
    int Channels = 2;
    int Bits = 16;
    int Rate = 44100;
    int FrameBytes() const { return Channels * Bits / 8; }
    int64_t BytesPerSecond() const { return int64_t{Rate} * FrameBytes(); }
};

// Reads up to n bytes of the audio from byte position at into out; the count read.
using TAudioReader = std::function<std::size_t(int64_t at, uint8_t* out, std::size_t n)>;

class TSoundOutput {
public:
    virtual ~TSoundOutput() = default;
    // Plays bytes [from, total) of the audio read through read; onEnd when the last has been
    // played.
    virtual void Start(const TPcmFormat& format, int64_t total, TAudioReader read, int64_t from,
                       std::function<void()> onEnd) = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual void Stop() = 0;
    // Bytes played since Start.
    virtual int64_t Played() = 0;
};

class TSoundInput {
public:
    virtual ~TSoundInput() = default;
    // onData gets the recorded bytes as they come, whole frames.
    virtual void Start(const TPcmFormat& format, std::function<void(const uint8_t*, std::size_t)> onData) = 0;
    virtual void Stop() = 0;
};

// The output and input SONVALE_AUDIO names.
std::unique_ptr<TSoundOutput> MakeSoundOutput();
std::unique_ptr<TSoundInput> MakeSoundInput();

// A WAV file's PCM format and where its audio lies, as the device takes it: PCM 8 or 16 bits, 1
// or 2 channels, 8000 to 48000 Hz, a data chunk that the file holds whole. False with the reason
// otherwise.
bool ReadPcmWavHeader(const std::string& path, TPcmFormat& format, int64_t& dataOffset, int64_t& dataBytes,
                      std::string& error);
// The canonical 44-byte header for dataBytes of format.
std::vector<uint8_t> PcmWavHeader(const TPcmFormat& format, uint32_t dataBytes);

class TWaveAudio {
public:
    enum TMode { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

    TWaveAudio(std::unique_ptr<TSoundOutput> output = MakeSoundOutput(), std::unique_ptr<TSoundInput> input = MakeSoundInput());
    ~TWaveAudio();

    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return m_open; }
    const std::string& FileName() const { return m_path; }
    const TPcmFormat& Format() const { return m_format; }
    // The audio's size in bytes, and the audio itself (all of it, copied: for tests).
    int64_t Bytes() const;
    std::vector<uint8_t> Data() const;
    std::size_t Read(int64_t at, uint8_t* out, std::size_t n) const;

    int64_t LengthMs() const;
    int64_t PositionMs();
    TMode Mode() const { return m_mode; }

    // Used by the next Play or Record only.
    void SetStartPosition(int64_t ms);
    // Play with notification: OnPlayEnd runs when the end is reached.
    void Play();
    void Pause();   // pauses when playing, resumes when paused
    void Stop();    // a recording is put in place at its position
    void Next();    // to the end
    void Previous();// to the start
    void Record();  // inserts at the start position, or at the current one
    // The audio into the file the device was opened on, through a new file renamed over it.
    bool Save(std::string& error);

    std::function<void()> OnPlayEnd;

private:
    // A stretch of the audio: of the mapped file (Memory null) or of a recording held in memory.
    struct Piece {
        const uint8_t* Data;
        int64_t Length;
        std::shared_ptr<std::vector<uint8_t>> Memory;
    };

    int64_t MsToByte(int64_t ms) const;
    void EndRecording();
    void Unmap();

    std::unique_ptr<TSoundOutput> m_output;
    std::unique_ptr<TSoundInput> m_input;
    std::string m_path;
    TPcmFormat m_format;
    std::vector<Piece> m_pieces;
    int m_fd = -1;                    // the file the pieces map, open for copying from
    const uint8_t* m_map = nullptr;   // its mapping
    std::size_t m_mapLength = 0;
    std::vector<uint8_t> m_recorded;  // this recording, put in place when it stops
    bool m_open = false;
    TMode m_mode = mpNotReady;
    int64_t m_position = 0;      // bytes
    int64_t m_playFrom = 0;      // bytes, where the current play began
    int64_t m_recordAt = 0;      // bytes, where the current recording goes
    int64_t m_startPosition = -1;// bytes, for the next play or record; -1 none
};
