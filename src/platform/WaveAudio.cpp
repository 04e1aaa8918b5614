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
    void Start(const TPcmFormat& format, int64_t total, TAudioReader, int64_t from, std::function<void()> onEnd) override
    {
        m_format = format;
        m_total = std::max<int64_t>(0, total - from);
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

// The audio as a device Qt's sink pulls from.
class TReaderDevice final : public QIODevice {
public:
    TReaderDevice(TAudioReader read, int64_t from, int64_t total)
        : m_read(std::move(read)), m_at(from), m_total(total)
    {
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_total - m_at + QIODevice::bytesAvailable(); }
    int64_t Position() const { return m_at; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const std::size_t n = m_read(m_at, reinterpret_cast<uint8_t*>(data),
                                     static_cast<std::size_t>(std::min<qint64>(max, m_total - m_at)));
        m_at += static_cast<int64_t>(n);
        return static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    TAudioReader m_read;
    int64_t m_at, m_total;
};

// The machine's default output, through Qt Multimedia.
class TDeviceOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat& format, int64_t total, TAudioReader read, int64_t from, std::function<void()> onEnd) override
    {
        Stop();
        m_from = from;
        m_source = std::make_unique<TReaderDevice>(std::move(read), from, total);
        m_source->open(QIODevice::ReadOnly);
        m_sink = std::make_unique<QAudioSink>(ToQt(format));
        m_onEnd = std::move(onEnd);
        QObject::connect(m_sink.get(), &QAudioSink::stateChanged, [this](QAudio::State s) {
            if (s == QAudio::IdleState && m_onEnd) {
                auto end = m_onEnd;
                end();
            }
        });
        m_sink->start(m_source.get());
    }
    void Pause() override { if (m_sink) m_sink->suspend(); }
    void Resume() override { if (m_sink) m_sink->resume(); }
    void Stop() override
    {
        m_onEnd = nullptr;
        if (m_sink)
            m_sink->stop();
        m_sink.reset();
        m_source.reset();
    }
    int64_t Played() override { return m_source ? m_source->Position() - m_from : 0; }

private:
    int64_t m_from = 0;
    std::unique_ptr<TReaderDevice> m_source;
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

bool ReadPcmWavHeader(const std::string& path, TPcmFormat& format, int64_t& dataOffset, int64_t& dataBytes,
                      std::string& error)
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
            dataOffset = at + 8;
            dataBytes = length;
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

void TWaveAudio::Unmap()
{
    if (m_map)
        munmap(const_cast<uint8_t*>(m_map), m_mapLength);
    m_map = nullptr;
    m_mapLength = 0;
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool TWaveAudio::Open(const std::string& path, std::string& error)
{
    Close();
    TPcmFormat format;
    int64_t offset = 0, bytes = 0;
    if (!ReadPcmWavHeader(path, format, offset, bytes, error))
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        error = "cannot open " + path;
        return false;
    }
    const auto length = static_cast<std::size_t>(st.st_size);
    void* map = length > 0 ? mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0) : nullptr;
    if (length > 0 && map == MAP_FAILED) {
        close(fd);
        error = "cannot map " + path;
        return false;
    }
    m_fd = fd;
    m_map = static_cast<const uint8_t*>(map);
    m_mapLength = length;
    m_pieces.clear();
    if (bytes > 0)
        m_pieces.push_back({m_map + offset, bytes, nullptr});
    m_path = path;
    m_format = format;
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
    m_pieces.clear();
    Unmap();
    m_path.clear();
}

int64_t TWaveAudio::Bytes() const
{
    int64_t total = 0;
    for (const Piece& p : m_pieces)
        total += p.Length;
    return total;
}

std::size_t TWaveAudio::Read(int64_t at, uint8_t* out, std::size_t n) const
{
    std::size_t done = 0;
    int64_t start = 0;
    for (const Piece& p : m_pieces) {
        if (done == n)
            break;
        const int64_t end = start + p.Length;
        if (at < end) {
            const int64_t from = at - start;
            const auto take = static_cast<std::size_t>(std::min<int64_t>(p.Length - from, static_cast<int64_t>(n - done)));
            std::memcpy(out + done, p.Data + from, take);
            done += take;
            at += static_cast<int64_t>(take);
        }
        start = end;
    }
    return done;
}

std::vector<uint8_t> TWaveAudio::Data() const
{
    std::vector<uint8_t> all(static_cast<std::size_t>(Bytes()));
    Read(0, all.data(), all.size());
    return all;
}

int64_t TWaveAudio::LengthMs() const
{
    if (!m_open)
        return 0;
    const int64_t bytes = Bytes() + (m_mode == mpRecording ? static_cast<int64_t>(m_recorded.size()) : 0);
    return bytes * 1000 / m_format.BytesPerSecond();
}

int64_t TWaveAudio::PositionMs()
{
    if (!m_open)
        return 0;
    int64_t bytes = m_position;
    if (m_mode == mpPlaying || m_mode == mpPaused)
        bytes = std::min<int64_t>(m_playFrom + m_output->Played(), Bytes());
    else if (m_mode == mpRecording)
        bytes = m_recordAt + static_cast<int64_t>(m_recorded.size());
    return bytes * 1000 / m_format.BytesPerSecond();
}

int64_t TWaveAudio::MsToByte(int64_t ms) const
{
    // 64-bit throughout: an hour of CD audio is 635 MB.
    const int64_t frames = ms * m_format.Rate / 1000;
    return std::clamp<int64_t>(frames * m_format.FrameBytes(), 0, Bytes());
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
    const int64_t total = Bytes();
    m_playFrom = m_startPosition >= 0 ? m_startPosition : m_position;
    m_startPosition = -1;
    if (m_playFrom >= total)
        m_playFrom = 0;
    m_mode = mpPlaying;
    m_output->Start(m_format, total, [this](int64_t at, uint8_t* out, std::size_t n) { return Read(at, out, n); },
                    m_playFrom, [this] {
                        m_position = Bytes();
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
        m_position = std::min<int64_t>(m_playFrom + m_output->Played(), Bytes());
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
    const auto length = static_cast<int64_t>(m_recorded.size());
    if (length > 0) {
        // The piece holding the position is split there and the recording goes between: nothing
        // of the file moves, however long it is.
        auto memory = std::make_shared<std::vector<uint8_t>>(std::move(m_recorded));
        const Piece recorded{memory->data(), length, memory};
        int64_t start = 0;
        std::size_t i = 0;
        for (; i < m_pieces.size() && start + m_pieces[i].Length <= m_recordAt; ++i)
            start += m_pieces[i].Length;
        if (i < m_pieces.size() && start < m_recordAt) {
            const Piece whole = m_pieces[i];
            const int64_t head = m_recordAt - start;
            m_pieces[i].Length = head;
            m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            {recorded, Piece{whole.Data + head, whole.Length - head, whole.Memory}});
        } else {
            m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(i), recorded);
        }
    }
    m_position = m_recordAt + length;
    m_recorded = {};
}

void TWaveAudio::Next()
{
    if (m_mode == mpRecording)
        return;
    Stop();
    m_position = Bytes();
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

bool TWaveAudio::Save(std::string& error)
{
    if (!m_open) {
        error = "no file is open";
        return false;
    }
    if (m_mode == mpRecording)
        Stop();
    const int64_t total = Bytes();
    if (total > 0xFFFFFFFFll - 36) {
        error = "the recording is too long for a WAV file";
        return false;
    }
    // A new file beside the old one, renamed over it: a failed write leaves the old file whole.
    // The stretches of the old file are copied by the kernel from the descriptor the pieces map,
    // which still names the old file after the rename.
    const std::string temp = m_path + ".part";
    const TFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<uint8_t> header = PcmWavHeader(m_format, static_cast<uint32_t>(total));
    bool ok = WriteFully(out.get(), header.data(), header.size());
    for (const Piece& p : m_pieces) {
        if (!ok)
            break;
        if (p.Memory) {
            ok = WriteFully(out.get(), p.Data, static_cast<std::size_t>(p.Length));
            continue;
        }
        loff_t from = p.Data - m_map;
        for (int64_t left = p.Length; ok && left > 0;) {
            const ssize_t n = copy_file_range(m_fd, &from, out.get(), nullptr, static_cast<std::size_t>(left), 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL)) {
                ok = WriteFully(out.get(), m_map + from, static_cast<std::size_t>(left));  // no kernel copy here
                break;
            }
            ok = n > 0;
            left -= n;
        }
    }
    ok = ok && fsync(out.get()) == 0;
    if (!ok || rename(temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}
