// Times an external encoder run the way the job runs it: TMp3EncodeProcess starts lame, its
// reader hands the output to this (UI) thread, the end arrives as a message.
//
//   encoder_bench mp3 IN.wav OUT.mp3     prints "seconds=S cpu_seconds=C"
//   encoder_bench idle SECONDS           a child that only sleeps: the CPU the run costs meanwhile
//
// The second puts a fake "lame" (a sleeping shell script) in a temporary folder, where the
// program looks for its helpers first.

#include "Global.h"
#include "Mp3EncodeThread.h"
#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Says yes to everything; the bench asks nothing.
class TYesDialogs final : public Dialogs {
public:
    void MessageBox(const QString&, Icon) override {}
    Answer AskYesNo(const QString&, Icon, Answer) override { return Answer::Yes; }
    Answer AskYesNoCancel(const QString&, Icon, Answer) override { return Answer::Yes; }
    QStringList OpenFiles(const QString&, bool, const FileDialogSetup&) override { return {}; }
    QString SaveFile(const QString&, const QString&, const FileDialogSetup&) override { return {}; }
    QString BrowseFolder(const QString&, const QString&) override { return {}; }
    bool OpenWithShell(const QString&) override { return false; }
    int ShowModal(QDialog&) override { return 0; }
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: encoder_bench mp3 IN.wav OUT.mp3 | idle SECONDS\n");
        return 2;
    }
    const std::string mode = argv[1];
    char folder[] = "/tmp/sonvale-encoder-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    SetProgramFolder(folder);
    SetExecutableFolder(folder);  // where lame is looked for first
    LoadSaveOptions(true);  // the defaults: -b 128 -m j

    TYesDialogs dialogs;
    TMp3EncodeProcess mp3(dialogs);
    QEventLoop loop;
    int status = -1;
    TMessageTarget window([&](TMessage& m) {
        if (auto info = m.Take<TProcessInfo>(); info && info->Code == piMp3Ended) {
            status = info->Status;
            loop.quit();
        }
    });
    mp3.NotifyWindow = window.Handle();
    mp3.JobKind = jkRipTracks;
    if (mode == "mp3" && argc == 4) {
        mp3.InputFile = argv[2];
        mp3.OutputFile = argv[3];
    } else if (mode == "idle") {
        const std::string script = std::string(folder) + "/lame";
        std::ofstream(script) << "#!/bin/sh\nexec sleep " << argv[2] << "\n";
        chmod(script.c_str(), 0755);
    } else {
        return 2;
    }
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    mp3.Engaged = true;
    mp3.StartProcess();
    loop.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    mp3.KillProcess(0);
    std::system((std::string("rm -rf ") + folder).c_str());
    std::printf("seconds=%.3f cpu_seconds=%.4f cpu_percent=%.3f status=%d\n", seconds, cpu, 100 * cpu / seconds, status);
    return status == 2 ? 0 : 1;
}
