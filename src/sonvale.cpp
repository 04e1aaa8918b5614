// Sonvale: turns audio CDs into music files and converts files between formats.

#include "Application.h"
#include "MediaMonitor.h"
#include "MinorDialogs.h"
#include "QtDialogs.h"
#include "main.h"

#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace {

// SONVALE_REPORT_FIRST_PAINT=1 (bench/startup.sh): once the main window has painted for the first
// time, print the wall clock ("paint_ns=", CLOCK_REALTIME) and the resident memory ("rss_kb=")
// and quit, so a script can time exec -> first picture from outside.
class TFirstPaintProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // After this paint has been handed to the window system.
            QTimer::singleShot(0, this, [] {
                timespec now {};
                clock_gettime(CLOCK_REALTIME, &now);
                std::ifstream status("/proc/self/status");
                std::string line, rss = "0";
                while (std::getline(status, line))
                    if (line.rfind("VmRSS:", 0) == 0)
                        rss = std::to_string(std::strtol(line.c_str() + 6, nullptr, 10));
                std::printf("paint_ns=%lld rss_kb=%s\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                            rss.c_str());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

// While the window system is opened: a failure to open it is said in a line, and the program
// ends with status 1, instead of Qt's abort and a core dump.
void NoDisplay(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr,
                 "sonvale: no display could be opened (DISPLAY=%s, WAYLAND_DISPLAY=%s): %s\n"
                 "sonvale: sonvale-cli does the same work without a window.\n",
                 display ? display : "", wayland ? wayland : "", message.section(QLatin1Char('\n'), 0, 0).toLocal8Bit().constData());
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before the window system is asked for anything: they work without a display.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::puts("Sonvale 2.1");
        return 0;
    }
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs("Usage: sonvale [--help] [--version]\n"
                   "Starts Sonvale's window: rip audio CDs to WAV, MP3, Ogg Vorbis, WMA, FLAC or Opus\n"
                   "(securely, verified with AccurateRip), convert files, record and edit tags.\n"
                   "The same work without a window: sonvale-cli --help.\n"
                   "Environment: SONVALE_DISC_IMAGES=a.cue:b.toc shows disc images as drives (a folder,\n"
                   "tray/, is a drive whose disc is the first image put into it);\n"
                   "SONVALE_AUDIO=null plays and records without a sound device.\n",
                   stdout);
        return 0;
    }
    const QtMessageHandler previous = qInstallMessageHandler(NoDisplay);
    TApplication app(argc, argv);
    qInstallMessageHandler(previous);
    // "--write-icon FILE [SIZE]": the program's icon as a PNG (128 pixels unless told), for the
    // desktop's menu entry and the icon theme.
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--write-icon") {
        const int size = argc == 4 ? std::atoi(argv[3]) : 128;
        if (size < 16 || size > 1024)
            return 2;
        return SonvaleIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    }
    QtDialogs dialogs;
    app.SetDialogs(&dialogs);
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128})
        icon.addPixmap(SonvaleIcon(size));
    app.setWindowIcon(icon);
    TMainForm form(dialogs, CreateMediaMonitor());
    TFirstPaintProbe probe;
    if (std::getenv("SONVALE_REPORT_FIRST_PAINT"))
        form.installEventFilter(&probe);
    form.show();
    return app.exec();
}
