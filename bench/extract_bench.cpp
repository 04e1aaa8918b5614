// Times the extraction thread and the normalising pass the way the program runs them: the work
// on a worker, every report posted to a window on the main thread that frees it.
//
//   extract_bench rip IMAGE.cue TRACK OUTPUT_FOLDER
//   extract_bench rip-secure IMAGE.cue TRACK OUTPUT_FOLDER    (verified reads, and the checksums)
//   extract_bench normalize FILE.wav PERCENT
//   extract_bench checksums FILE.wav                         (CRC32 and AccurateRip of its data)
//   extract_bench rip-burst IMAGE.cue TRACK OUTPUT             (secure, burst first, a database
//                                                               that confirms every track)
//
// BENCH_DRIVE_SPEED=N reads the image at the transfer rate of an N x drive.
//
// Prints "seconds=S messages=N maxrss_kb=K" (K: the process's peak resident memory).

#include "AccurateRip.h"
#include "Global.h"
#include "DiscScan.h"
#include "JobMessages.h"
#include "OffsetSearch.h"
#include "akrip32Drives.h"
#include "ripthread.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace {

// A drive's transfer rate over an image: each read takes as long as a drive spinning at speed x
// (75 sectors a second at 1x) needs to deliver it. Seeks cost nothing here.
class TDriveSpeed : public TDriveLayer {
public:
    TDriveSpeed(std::shared_ptr<TDriveBackend> inner, double speed)
        : TDriveLayer(std::move(inner))
        , m_sectorTime(std::chrono::duration<double>(1.0 / (75.0 * speed)))
    {
    }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        const auto now = std::chrono::steady_clock::now();
        m_free = std::max(m_free, now) + std::chrono::duration_cast<std::chrono::steady_clock::duration>(m_sectorTime * count);
        std::this_thread::sleep_until(m_free);
        return TDriveLayer::ReadAudio(lba, count, out);
    }

private:
    std::chrono::duration<double> m_sectorTime;
    std::chrono::steady_clock::time_point m_free{};
};

// The image as the only drive, at BENCH_DRIVE_SPEED when set; a handle to it.
HCDROM OpenBenchDrive(const char* image)
{
    std::shared_ptr<TDriveBackend> drive = OpenImageDrive(image);
    if (const char* speed = std::getenv("BENCH_DRIVE_SPEED"); speed && std::atof(speed) > 0)
        drive = std::make_shared<TDriveSpeed>(drive, std::atof(speed));
    AkripUseDrives({drive});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    return GetCDHandle(&request);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: extract_bench rip IMAGE.cue TRACK OUTPUT | normalize FILE.wav PERCENT\n");
        return 2;
    }
    const std::string mode = argv[1];
    long messages = 0;
    QEventLoop loop;
    int status = -1;
    TMessageTarget window([&](TMessage& m) {
        ++messages;
        if (auto info = m.Take<TProcessInfo>(); info && info->Code == piExtracted) {
            status = info->Status;
            loop.quit();
        }
        if (m.Msg == WM_EXTRACTERROR || m.Msg == WM_USER)
            loop.quit();
    });

    std::string data;
    if (mode == "checksums" || mode == "ctdb") {  // the file read before the clock starts: only the sums are timed
        std::ifstream in(argv[2], std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto start = std::chrono::steady_clock::now();
    if ((mode == "rip" || mode == "rip-secure" || mode == "rip-burst") && argc == 5) {
        Options.SecureOptions.SecureMode = mode != "rip";
        Options.SecureOptions.AccurateRip = false;
        Options.CommonOptions.OutputFolder = argv[4];
        TCDRipThread rip(std::atoi(argv[3]), std::string(argv[4]) + "/bench.wav");
        rip.DriveHandle = OpenBenchDrive(argv[2]);
        rip.ReceivingWindow = window.Handle();
        if (mode == "rip-burst") {
            // A database that confirms the whole disc: every track is read once.
            auto confirmsAll = std::make_shared<TBurstCheck>();
            confirmsAll->HasEntry = [](const std::atomic<bool>&, const std::function<void()>&) { return true; };
            confirmsAll->Confirms = [](int, const TTrackResult&) { return TBurstCheck::TConfirmation{true, true}; };
            rip.Settings.Burst = confirmsAll;
        }
        rip.Start();
        loop.exec();
        rip.WaitFor();
        if (status != esDone) {
            std::fprintf(stderr, "extraction failed (status %d)\n", status);
            return 1;
        }
    } else if (mode == "offset-find" && argc >= 4) {
        // The offset search as `sonvale-cli offset find` does it: each track read once with five
        // sectors beyond each end, every offset's v1 tested, and v2 where it matched.
        const HCDROM handle = OpenBenchDrive(argv[2]);
        TTOC toc{};
        if (!ReadMsfToc(handle, toc))
            return 1;
        const TAccurateRipDiscId id = AccurateRipDiscId(toc);
        TAccurateRipPressing pressing;
        pressing.Tracks = id.AudioTracks;
        pressing.Id1 = id.Id1;
        pressing.Id2 = id.Id2;
        pressing.Checksums.assign(static_cast<std::size_t>(id.AudioTracks), {5, 0x12345678u, 0});
        // The first track's entry is its v1 at offset 0, so that the second track is read to
        // confirm it, as in a search that succeeds.
        std::vector<int> candidates = CommonDriveOffsets();
        for (int a = 3; a < argc; ++a) {
            const int track = std::atoi(argv[a]);
            TTrackRead read;
            read.Margin = 2940;
            const auto readStart = std::chrono::steady_clock::now();
            if (!ReadTrackWithMargins(handle, toc, track, read))
                return 1;
            const auto readEnd = std::chrono::steady_clock::now();
            if (a == 3) {
                uint32_t v1 = 0, v2 = 0;
                ChecksumsAtOffset(read, 0, v1, v2);
                pressing.Checksums[static_cast<std::size_t>(track - 1)].Crc = v1;
            }
            const std::vector<TOffsetMatch> matches = MatchingOffsets(read, {pressing}, id, track, candidates);
            std::fprintf(stderr, "track %d: read %.3f s, offsets tested %.3f s\n", track,
                         std::chrono::duration<double>(readEnd - readStart).count(),
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - readEnd).count());
            candidates.clear();
            for (const TOffsetMatch& m : matches)
                candidates.push_back(m.Offset);
        }
    } else if (mode == "ctdb" && data.size() > 44) {
        // What CTDB's CRCs add to the checksums a rip computes anyway: the track as a disc's only
        // track (its CTDB range cut at both ends, the range's CRC and the disc's combined from the
        // registers there) against the same track in the middle of a disc (no cut, no CRC of a
        // range). Each best of five; printed: the first, then "plain=" the second.
        const auto samples = static_cast<int64_t>((data.size() - 44) / 4);
        const auto time = [&](bool edges) {
            double best = 1e9;
            for (int k = 0; k < 5; ++k) {
                const auto t0 = std::chrono::steady_clock::now();
                TTrackChecksums sums(samples, edges, edges, samples);
                for (std::size_t at = 44; at < data.size(); at += 23520)
                    sums.Add(reinterpret_cast<const uint8_t*>(data.data()) + at, std::min<std::size_t>(23520, data.size() - at));
                volatile uint32_t crc = edges ? CtdbDiscCrc({{sums.CtdbCrc(), sums.CtdbBytes()}}) : sums.Crc32();
                static_cast<void>(crc);
                best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            }
            return best;
        };
        const double plain = time(false), ctdb = time(true);
        std::printf("seconds=%.6f plain=%.6f\n", ctdb, plain);
        return 0;
    } else if (mode == "checksums" && data.size() > 44) {
        TTrackChecksums sums(static_cast<int64_t>((data.size() - 44) / 4), true, true);
        for (std::size_t at = 44; at < data.size(); at += 23520)  // as the reads deliver them
            sums.Add(reinterpret_cast<const uint8_t*>(data.data()) + at, std::min<std::size_t>(23520, data.size() - at));
        std::fprintf(stderr, "crc32=%08x v2=%08x\n", sums.Crc32(), sums.V2());
    } else if (mode == "normalize" && argc >= 4) {
        bool ok = false;
        std::thread worker([&] {
            ok = NormalizeFile(argv[2], std::atoi(argv[3]), window.Handle());
            PostMessage(window.Handle(), WM_USER, 0, 0);
        });
        loop.exec();
        worker.join();
        if (!ok) {
            std::fprintf(stderr, "normalising failed\n");
            return 1;
        }
    } else {
        return 2;
    }
    QCoreApplication::processEvents();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f messages=%ld maxrss_kb=%ld\n", seconds, messages, usage.ru_maxrss);
    return 0;
}
