// Times the WAV source and output as the job runs them.
//
//   audio_bench decode FILE.wav        decode the whole file through TWaveIn (bytes discarded)
//   audio_bench copy IN.wav OUT.wav    TWaveIn -> TWaveOut on the output's worker
//   audio_bench resample IN.wav OUT.wav  TWaveIn -> TRateConverter (44100 Hz) -> TWaveOut
//
// Prints "seconds=S bytes=N maxrss_kb=K".

#include "ACS_Converters.h"
#include "ACS_Wave.h"

#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: audio_bench decode FILE.wav | copy IN.wav OUT.wav | resample IN.wav OUT.wav\n");
        return 2;
    }
    const std::string mode = argv[1];
    const auto start = std::chrono::steady_clock::now();
    int64_t bytes = 0;
    TWaveIn in;
    in.FileName = argv[2];
    if (mode == "decode") {
        std::vector<uint8_t> buffer(16384);
        in.OpenInput();
        for (int32_t n; (n = in.ReadAudio(buffer.data(), 16384)) > 0;)
            bytes += n;
        in.CloseInput();
    } else if ((mode == "copy" || mode == "resample") && argc == 4) {
        TRateConverter converter;
        converter.SetOutSampleRate(44100);
        converter.SetKernelWidth(30);
        converter.FilterWindow = fwBlackman;
        converter.SetInput(&in);
        TWaveOut out;
        out.SetInput(mode == "copy" ? static_cast<TACSInput*>(&in) : &converter);
        out.FileName = argv[3];
        std::mutex m;
        std::condition_variable cv;
        bool finished = false, failed = false;
        const auto finish = [&](bool error) {
            std::lock_guard lock(m);
            finished = true;
            failed = error;
            cv.notify_all();
        };
        out.OnDone = [&](TACSComponent*) { finish(false); };
        out.OnThreadException = [&](TACSComponent*, const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            finish(true);
        };
        out.Start();
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return finished; });
        lock.unlock();
        out.SuspendWorker();
        if (failed)
            return 1;
        bytes = in.DeliveredBytes;
    } else {
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f bytes=%lld maxrss_kb=%ld\n", seconds, static_cast<long long>(bytes), usage.ru_maxrss);
    return 0;
}
