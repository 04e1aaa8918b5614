// Rips a whole disc image through the job class, the way the job window runs it but with no
// window: extraction, then the MP3 run or the Ogg stage, track after track; or through the job
// window itself (offscreen unless a display is set).
//
//   rip_bench mp3|ogg|flac|opus DISC.cue OUTPUT_FOLDER [ENCODERS [window]]
//                                                prints "seconds=S max_gap_ms=G"
//
// ENCODERS: how many the job runs at once (default 1).
// max_gap_ms is the longest the UI thread went without handling an event while the job ran: a
// 2 ms timer fires on it throughout, and the largest time between two of its ticks is taken.

#include "Global.h"
#include "OutputFormats.h"
#include "ProgramFolder.h"
#include "akrip32.h"
#include "akrip32Drives.h"
#include "rip.h"
#include "ripForm.h"

#include <QApplication>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class TQuietDialogs final : public Dialogs {
public:
    void MessageBox(const QString& text, Icon) override { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }
    Answer AskYesNo(const QString&, Icon, Answer) override { return Answer::Yes; }
    Answer AskYesNoCancel(const QString&, Icon, Answer) override { return Answer::Yes; }
    QStringList OpenFiles(const QString&, bool, const FileDialogSetup&) override { return {}; }
    QString SaveFile(const QString&, const QString&, const FileDialogSetup&) override { return {}; }
    QString BrowseFolder(const QString&, const QString&) override { return {}; }
    bool OpenWithShell(const QString&) override { return false; }
    int ShowModal(QDialog&) override { return 0; }
};

class TLoopView final : public TRipView {
public:
    explicit TLoopView(QEventLoop& loop) : m_loop(loop) {}
    void DisplayChanged(const TRipDisplay&) override {}
    void CloseJob() override { m_loop.quit(); }

private:
    QEventLoop& m_loop;
};

}  // namespace

int main(int argc, char** argv)
{
    const bool window = argc == 6 && std::string(argv[5]) == "window";
    if (window && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        window ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (argc < 4 || argc > 6 || (argc == 6 && !window)) {
        std::fprintf(stderr, "usage: rip_bench mp3|ogg|flac|opus DISC.cue OUTPUT_FOLDER [ENCODERS [window]]\n");
        return 2;
    }
    const std::string format = argv[1];
    char folder[] = "/tmp/sonvale-rip-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    SetProgramFolder(folder);
    SetExecutableFolder(folder);  // no lame here: the one on PATH
    LoadSaveOptions(true);        // the defaults: MP3 -b 128 -m j, Ogg quality 0.2
    Options.CommonOptions.OutputFolder = argv[3];
    const TOutputFormat* chosen = FormatOfKey(format);
    Options.CommonOptions.OutputFormat = (chosen && chosen->Encoded ? chosen : FormatOfKey("mp3"))->Stored;
    Options.UseID3 = false;
    Options.JobOptions.Encoders = argc >= 5 ? std::atoi(argv[4]) : 1;

    AkripUseDrives({OpenImageDrive(argv[2])});
    TGetCDHand request{};
    request.Size = sizeof request;
    request.Ver = 1;
    const HCDROM handle = GetCDHandle(&request);
    TTOC toc{};
    if (handle == 0 || !ModifyCDParms(handle, CDP_MSF, 1) || ReadTOC(handle, &toc) != 1) {
        std::fprintf(stderr, "rip_bench: cannot read %s\n", argv[2]);
        return 1;
    }
    std::vector<std::string> items;
    for (int n = 1; n <= toc.LastTrack - toc.FirstTrack + 1; ++n)
        items.push_back(TwoDigits(n) + "Track" + TwoDigits(n));

    TQuietDialogs dialogs;
    TMp3EncodeProcess mp3(dialogs);
    TWMAEncodeProcess wma(dialogs);
    QEventLoop loop;
    TLoopView view(loop);
    std::unique_ptr<TRipForm> form;
    std::unique_ptr<TRipJob> bare;
    if (window)
        form = std::make_unique<TRipForm>(nullptr, dialogs, mp3, wma, jkRipTracks, handle, items);
    else
        bare = std::make_unique<TRipJob>(view, dialogs, mp3, wma, jkRipTracks, handle, items);
    TRipJob& job = form ? form->Job() : *bare;

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastTick = Clock::now();
    double maxGapMs = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        maxGapMs = std::max(maxGapMs, std::chrono::duration<double, std::milli>(now - lastTick).count());
        lastTick = now;
    });
    tick.start(2);

    const Clock::time_point started = Clock::now();
    lastTick = started;
    job.Start();
    if (form)
        form->RunModal();
    else if (!job.Finished())
        loop.exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("seconds=%.3f max_gap_ms=%.1f\n", seconds, maxGapMs);
    CloseCDHandle(handle);
    std::system((std::string("rm -rf ") + folder).c_str());
    return 0;
}
