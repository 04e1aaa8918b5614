#include "WaveAudio.h"

#include "FileSystem.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QBuffer>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i)); }
void Put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }

bool UseNullSound()
{
    const char* which = std::getenv("SONVALE_AUDIO");
    if (which && std::strcmp(which, "null") == 0)
        return true;
    if (which && std::strcmp(which, "device") == 0)
        return false;
    return QMediaDevices::defaultAudioOutput().isNull() || QMediaDevices::defaultAudioInput().isNull();
}

// Consumes the bytes at the format's rate and plays nothing.
class TNullOutput final : public TSoundOutput {
public:
    TNullOutput()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (Played() >= m_total && m_onEnd) {
                m_timer.stop();
                auto end = m_onEnd;
                end();
            }
        });
    }
    void Start(const TPcmFormat& format, const std::vector<uint8_t>& data, int64_t from, std::function<void()> onEnd) override
    {
        m_format = format;
        m_total = std::max<int64_t>(0, static_cast<int64_t>(data.size()) - from);
        m_onEnd = std::move(onEnd);
        m_before = 0;
        m_clock.start();
        m_running = true;
        m_timer.start();
    }
    void Pause() override
    {
        if (!m_running)
            return;
        m_before += m_clock.elapsed();
        m_running = false;
        m_timer.stop();
    }
    void Resume() override
    {
        if (m_running)
            return;
        m_clock.start();
        m_running = true;
        m_timer.start();
    }
    void Stop() override
    {
        m_timer.stop();
        m_running = false;
        m_onEnd = nullptr;
    }
    int64_t Played() override
    {
        const int64_t ms = m_before + (m_running ? m_clock.elapsed() : 0);
        const int64_t bytes = ms * m_format.BytesPerSecond() / 1000 / m_format.FrameBytes() * m_format.FrameBytes();
        return std::min(bytes, m_total);
    }

private:
    TPcmFormat m_format;
    int64_t m_total = 0;
    int64_t m_before = 0;
    bool m_running = false;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::function<void()> m_onEnd;
};

// A 440 Hz tone at half scale, at the format's rate, as a sound card would deliver it.
class TSyntheticInput final : public TSoundInput {
public:
    TSyntheticInput()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Deliver(); });
    }
    void Start(const TPcmFormat& format, std::function<void(const uint8_t*, std::size_t)> onData) override
    {
        m_format = format;
        m_onData = std::move(onData);
        m_frames = 0;
        m_clock.start();
        m_timer.start();
    }
    void Stop() override
    {
        Deliver();
        m_timer.stop();
        m_onData = nullptr;
    }

private:
    void Deliver()
    {
        if (!m_onData)
            return;
        const int64_t due = m_clock.elapsed() * m_format.Rate / 1000;
        std::vector<uint8_t> bytes;
        for (; m_frames < due; ++m_frames) {
            const double v = 0.5 * std::sin(2 * 3.14159265358979 * 440.0 * static_cast<double>(m_frames) / m_format.Rate);
            for (int c = 0; c < m_format.Channels; ++c) {
                if (m_format.Bits == 8) {
                    bytes.push_back(static_cast<uint8_t>(128 + std::lround(v * 127)));
                } else {
                    const auto s = static_cast<int16_t>(std::lround(v * 32767));
                    bytes.push_back(static_cast<uint8_t>(s & 0xFF));
                    bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
                }
            }
        }
        if (!bytes.empty())
            m_onData(bytes.data(), bytes.size());
    }

    TPcmFormat m_format;
    int64_t m_frames = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::function<void(const uint8_t*, std::size_t)> m_onData;
};

QAudioFormat ToQt(const TPcmFormat& f)
{
    QAudioFormat q;
    q.setSampleRate(f.Rate);
    q.setChannelCount(f.Channels);
    q.setSampleFormat(f.Bits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return q;
}

// The machine's default output, through Qt Multimedia.
class TDeviceOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat& format, const std::vector<uint8_t>& data, int64_t from, std::function<void()> onEnd) override
    {
        Stop();
        m_bytes = QByteArray(reinterpret_cast<const char*>(data.data()) + from, static_cast<qsizetype>(data.size() - from));
        m_buffer = std::make_unique<QBuffer>(&m_bytes);
        m_buffer->open(QIODevice::ReadOnly);
        m_sink = std::make_unique<QAudioSink>(ToQt(format));
        m_onEnd = std::move(onEnd);
        QObject::connect(m_sink.get(), &QAudioSink::stateChanged, [this](QAudio::State s) {
            if (s == QAudio::IdleState && m_onEnd) {
                auto end = m_onEnd;
                end();
            }
        });
        m_sink->start(m_buffer.get());
    }
    void Pause() override { if (m_sink) m_sink->suspend(); }
    void Resume() override { if (m_sink) m_sink->resume(); }
    void Stop() override
    {
        m_onEnd = nullptr;
        if (m_sink)
            m_sink->stop();
        m_sink.reset();
        m_buffer.reset();
    }
    int64_t Played() override { return m_buffer ? m_buffer->pos() : 0; }

private:
    QByteArray m_bytes;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QAudioSink> m_sink;
    std::function<void()> m_onEnd;
};

class TDeviceInput final : public TSoundInput {
public:
    void Start(const TPcmFormat& format, std::function<void(const uint8_t*, std::size_t)> onData) override
    {
        Stop();
        m_source = std::make_unique<QAudioSource>(ToQt(format));
        m_onData = std::move(onData);
        QIODevice* io = m_source->start();
        if (!io)
            return;
        QObject::connect(io, &QIODevice::readyRead, [this, io] {
            const QByteArray bytes = io->readAll();
            if (m_onData && !bytes.isEmpty())
                m_onData(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
        });
    }
    void Stop() override
    {
        m_onData = nullptr;
        if (m_source)
            m_source->stop();
        m_source.reset();
    }

private:
    std::unique_ptr<QAudioSource> m_source;
    std::function<void(const uint8_t*, std::size_t)> m_onData;
};

}  // namespace

std::unique_ptr<TSoundOutput> MakeSoundOutput()
{
    if (UseNullSound())
        return std::make_unique<TNullOutput>();
    return std::make_unique<TDeviceOutput>();
}

std::unique_ptr<TSoundInput> MakeSoundInput()
{
    if (UseNullSound())
        return std::make_unique<TSyntheticInput>();
    return std::make_unique<TDeviceInput>();
}

std::vector<uint8_t> PcmWavHeader(const TPcmFormat& f, uint32_t dataBytes)
{
    std::vector<uint8_t> h(44);
    std::memcpy(h.data(), "RIFF", 4);
    Put32(h.data() + 4, 36 + dataBytes);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    Put32(h.data() + 16, 16);
    Put16(h.data() + 20, 1);
    Put16(h.data() + 22, static_cast<uint16_t>(f.Channels));
    Put32(h.data() + 24, static_cast<uint32_t>(f.Rate));
    Put32(h.data() + 28, static_cast<uint32_t>(f.BytesPerSecond()));
    Put16(h.data() + 32, static_cast<uint16_t>(f.FrameBytes()));
    Put16(h.data() + 34, static_cast<uint16_t>(f.Bits));
    std::memcpy(h.data() + 36, "data", 4);
    Put32(h.data() + 40, dataBytes);
    return h;
}

bool ReadPcmWav(const std::string& path, TPcmFormat& format, std::vector<uint8_t>& data, std::string& error,
                int64_t* dataOffset)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<int64_t>(in.tellg());
    in.seekg(0);
    uint8_t riff[12];
    if (size < 12 || !in.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = "not a WAV file";
        return false;
    }
    bool haveFormat = false;
    for (int64_t at = 12; at + 8 <= size;) {
        uint8_t chunk[8];
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(chunk), 8))
            break;
        const uint32_t length = Get32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (length < 16 || !in.read(reinterpret_cast<char*>(fmt), 16)) {
                error = "a format chunk too short";
                return false;
            }
            if (Get16(fmt) != 1) {
                error = "not PCM (format " + std::to_string(Get16(fmt)) + ")";
                return false;
            }
            format.Channels = Get16(fmt + 2);
            format.Rate = static_cast<int>(Get32(fmt + 4));
            format.Bits = Get16(fmt + 14);
            if (format.Channels < 1 || format.Channels > 2 || (format.Bits != 8 && format.Bits != 16) ||
                format.Rate < 8000 || format.Rate > 48000) {
                error = std::to_string(format.Channels) + " channels of " + std::to_string(format.Bits) + " bits at " +
                        std::to_string(format.Rate) + " Hz";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = "data before the format";
                return false;
            }
            if (at + 8 + int64_t{length} > size || length % static_cast<uint32_t>(format.FrameBytes()) != 0) {
                error = "the header says " + std::to_string(length) + " bytes of audio, the file holds " +
                        std::to_string(std::max<int64_t>(0, size - at - 8));
                return false;
            }
            // Room for a tenth more: a recording inserted into the file then moves what follows in
            // place instead of copying the whole file to a larger block.
            data.reserve(length + length / 10);
            // Large pages where the system offers them: an hour of audio is 155 000 small pages
            // to fault in, and the faults cost more than the reading.
            if (length >= (8u << 20)) {
                const auto begin = reinterpret_cast<uintptr_t>(data.data());
                const uintptr_t page = 2u << 20;
                const uintptr_t first = (begin + page - 1) & ~(page - 1);
                const uintptr_t last = (begin + data.capacity()) & ~(page - 1);
                if (last > first)
                    static_cast<void>(madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE));
            }
            data.resize(length);
            if (dataOffset)
                *dataOffset = at + 8;
            if (length > 0 && !in.read(reinterpret_cast<char*>(data.data()), length)) {
                error = "cannot read " + path;
                return false;
            }
            return true;
        }
        at += 8 + int64_t{length} + (length & 1);
    }
    error = haveFormat ? "no audio data" : "no format";
    return false;
}

TWaveAudio::TWaveAudio(std::unique_ptr<TSoundOutput> output, std::unique_ptr<TSoundInput> input)
    : m_output(std::move(output))
    , m_input(std::move(input))
{
}

TWaveAudio::~TWaveAudio()
{
    Close();
}

bool TWaveAudio::Open(const std::string& path, std::string& error)
{
    Close();
    TPcmFormat format;
    std::vector<uint8_t> data;
    int64_t offset = -1;
    if (!ReadPcmWav(path, format, data, error, &offset))
        return false;
    m_path = path;
    RememberDisk(offset);
    m_format = format;
    m_data = std::move(data);
    m_open = true;
    m_mode = mpStopped;
    m_position = 0;
    m_startPosition = -1;
    return true;
}

void TWaveAudio::Close()
{
    if (!m_open)
        return;
    Stop();
    m_open = false;
    m_mode = mpNotReady;
    m_data.clear();
    m_data.shrink_to_fit();
    m_path.clear();
}

int64_t TWaveAudio::LengthMs() const
{
    if (!m_open)
        return 0;
    const int64_t bytes = static_cast<int64_t>(m_data.size()) +
                          (m_mode == mpRecording ? static_cast<int64_t>(m_recorded.size()) : 0);
    return bytes * 1000 / m_format.BytesPerSecond();
}

int64_t TWaveAudio::PositionMs()
{
    if (!m_open)
        return 0;
    int64_t bytes = m_position;
    if (m_mode == mpPlaying || m_mode == mpPaused)
        bytes = std::min<int64_t>(m_playFrom + m_output->Played(), static_cast<int64_t>(m_data.size()));
    else if (m_mode == mpRecording)
        bytes = m_recordAt + static_cast<int64_t>(m_recorded.size());
    return bytes * 1000 / m_format.BytesPerSecond();
}

int64_t TWaveAudio::MsToByte(int64_t ms) const
{
    // 64-bit throughout: an hour of CD audio is 635 MB.
    const int64_t frames = ms * m_format.Rate / 1000;
    return std::clamp<int64_t>(frames * m_format.FrameBytes(), 0, static_cast<int64_t>(m_data.size()));
}

void TWaveAudio::SetStartPosition(int64_t ms)
{
    if (m_open)
        m_startPosition = MsToByte(ms);
}

void TWaveAudio::Play()
{
    if (!m_open || m_mode == mpRecording)
        return;
    m_output->Stop();
    m_playFrom = m_startPosition >= 0 ? m_startPosition : m_position;
    m_startPosition = -1;
    if (m_playFrom >= static_cast<int64_t>(m_data.size()))
        m_playFrom = 0;
    m_mode = mpPlaying;
    m_output->Start(m_format, m_data, m_playFrom, [this] {
        m_position = static_cast<int64_t>(m_data.size());
        m_mode = mpStopped;
        if (OnPlayEnd)
            OnPlayEnd();
    });
}

void TWaveAudio::Pause()
{
    if (m_mode == mpPlaying) {
        m_output->Pause();
        m_mode = mpPaused;
    } else if (m_mode == mpPaused) {
        m_output->Resume();
        m_mode = mpPlaying;
    }
}

void TWaveAudio::Stop()
{
    if (m_mode == mpPlaying || m_mode == mpPaused) {
        m_position = std::min<int64_t>(m_playFrom + m_output->Played(), static_cast<int64_t>(m_data.size()));
        m_output->Stop();
    } else if (m_mode == mpRecording) {
        EndRecording();
    }
    if (m_open)
        m_mode = mpStopped;
}

void TWaveAudio::EndRecording()
{
    m_input->Stop();
    // Put in place at once: one move of what follows, however long the recording.
    m_data.insert(m_data.begin() + m_recordAt, m_recorded.begin(), m_recorded.end());
    if (!m_recorded.empty()) {
        if (m_insertAt < 0 && m_diskOffset >= 0) {
            m_insertAt = m_recordAt;
            m_insertLength = static_cast<int64_t>(m_recorded.size());
        } else {
            m_diskOffset = -1;  // a second change: the next save writes everything
        }
    }
    m_position = m_recordAt + static_cast<int64_t>(m_recorded.size());
    m_recorded.clear();
    m_recorded.shrink_to_fit();
}

void TWaveAudio::Next()
{
    if (m_mode == mpRecording)
        return;
    Stop();
    m_position = static_cast<int64_t>(m_data.size());
}

void TWaveAudio::Previous()
{
    if (m_mode == mpRecording)
        return;
    Stop();
    m_position = 0;
}

void TWaveAudio::Record()
{
    if (!m_open || m_mode == mpRecording)
        return;
    Stop();
    m_recordAt = m_startPosition >= 0 ? m_startPosition : m_position;
    m_startPosition = -1;
    m_recorded.clear();
    m_mode = mpRecording;
    m_input->Start(m_format, [this](const uint8_t* bytes, std::size_t n) {
        if (m_mode == mpRecording)
            m_recorded.insert(m_recorded.end(), bytes, bytes + n);
    });
}

void TWaveAudio::RememberDisk(int64_t dataOffset)
{
    struct stat st {};
    m_insertAt = -1;
    m_insertLength = 0;
    m_diskOffset = -1;
    if (dataOffset < 0 || stat(m_path.c_str(), &st) != 0)
        return;
    m_diskOffset = dataOffset;
    m_diskIdentity[0] = st.st_dev;
    m_diskIdentity[1] = st.st_ino;
    m_diskIdentity[2] = static_cast<uint64_t>(st.st_size);
    m_diskMtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

// The new file from the old one: the header, the audio before the recording copied by the
// kernel, the recording written, the rest copied. A long file with a short recording costs about
// what copying the file does.
bool TWaveAudio::SaveByCopying(const std::string& temp, std::string& error)
{
    struct stat st {};
    if (m_diskOffset < 0 || stat(m_path.c_str(), &st) != 0 || st.st_dev != m_diskIdentity[0] ||
        st.st_ino != m_diskIdentity[1] || static_cast<uint64_t>(st.st_size) != m_diskIdentity[2] ||
        int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec != m_diskMtimeNs)
        return false;  // not the file it was: written whole
    const TFd in(open(m_path.c_str(), O_RDONLY | O_CLOEXEC));
    const TFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (in.get() < 0 || out.get() < 0)
        return false;
    const auto copy = [&](int64_t from, int64_t bytes) {
        loff_t src = from;
        while (bytes > 0) {
            const ssize_t n = copy_file_range(in.get(), &src, out.get(), nullptr, static_cast<std::size_t>(bytes), 0);
            if (n <= 0)
                return false;
            bytes -= n;
        }
        return true;
    };
    const int64_t at = m_insertAt < 0 ? static_cast<int64_t>(m_data.size()) : m_insertAt;
    const int64_t length = m_insertAt < 0 ? 0 : m_insertLength;
    const int64_t after = static_cast<int64_t>(m_data.size()) - at - length;
    const std::vector<uint8_t> header = PcmWavHeader(m_format, static_cast<uint32_t>(m_data.size()));
    bool ok = WriteFully(out.get(), header.data(), header.size()) && copy(m_diskOffset, at) &&
              WriteFully(out.get(), m_data.data() + at, static_cast<std::size_t>(length)) &&
              copy(m_diskOffset + at, after) && fsync(out.get()) == 0;
    if (!ok)
        error = std::string("cannot write ") + temp + ": " + std::strerror(errno);
    return ok;
}

bool TWaveAudio::Save(std::string& error)
{
    if (!m_open) {
        error = "no file is open";
        return false;
    }
    if (m_mode == mpRecording)
        Stop();
    if (m_data.size() > 0xFFFFFFFFu - 36) {
        error = "the recording is too long for a WAV file";
        return false;
    }
    // A new file beside the old one, renamed over it: a failed write leaves the old file whole.
    const std::string temp = m_path + ".part";
    bool ok = SaveByCopying(temp, error);
    if (!ok) {
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            return false;
        }
        const std::vector<uint8_t> header = PcmWavHeader(m_format, static_cast<uint32_t>(m_data.size()));
        ok = WriteFully(fd, header.data(), header.size()) && WriteFully(fd, m_data.data(), m_data.size()) && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
    }
    if (!ok || rename(temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        m_diskOffset = -1;
        return false;
    }
    RememberDisk(44);
    return true;
}
