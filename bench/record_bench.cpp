// Times a recording inserted into the middle of a long WAV file by the wave-audio device: open,
// 10 s recorded at the middle, stop (the recording put in place), save; and the process's peak
// memory against the file's size.
//
//   record_bench FILE.wav     prints "seconds=S peak_ratio=R"

#include "WaveAudio.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

class TNoOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat&, int64_t, TAudioReader, int64_t, std::function<void()>) override {}
    void Pause() override {}
    void Resume() override {}
    void Stop() override {}
    int64_t Played() override { return 0; }
};

// Hands over 10 s of audio at once when the recording stops.
class TTenSeconds final : public TSoundInput {
public:
    void Start(const TPcmFormat& format, std::function<void(const uint8_t*, std::size_t)> onData) override
    {
        m_format = format;
        m_onData = std::move(onData);
    }
    void Stop() override
    {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(m_format.BytesPerSecond() * 10), 1);
        if (m_onData)
            m_onData(bytes.data(), bytes.size());
        m_onData = nullptr;
    }

private:
    TPcmFormat m_format;
    std::function<void(const uint8_t*, std::size_t)> m_onData;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_bench FILE.wav\n");
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    TWaveAudio device(std::make_unique<TNoOutput>(), std::make_unique<TTenSeconds>());
    std::string error;
    if (!device.Open(argv[1], error)) {
        std::fprintf(stderr, "record_bench: %s\n", error.c_str());
        return 1;
    }
    device.SetStartPosition(device.LengthMs() / 2);
    device.Record();
    device.Stop();
    if (!device.Save(error)) {
        std::fprintf(stderr, "record_bench: %s\n", error.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    std::printf("seconds=%.3f peak_ratio=%.3f\n", seconds, peak / static_cast<double>(std::filesystem::file_size(argv[1])));
    return 0;
}
