#include "Mp3EncodeThread.h"

#include "Global.h"
#include "Mp3EncodeThreadParse.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace {

// The reader asks the UI thread to read a pipe or to end the run.
constexpr UINT WM_ENCODER_HANDOVER = WM_USER + 0x70;
enum : WPARAM { hoReadStdOut = 1, hoReadStdErr = 2, hoProcessEnded = 3 };

}  // namespace

// Shared by the UI-side object and its reader for one run: the stop request, and the hand-over
// the reader waits on. The reader waits until the UI thread has done what it asked, or until it
// is told to stop, so stopping it from the UI thread (even from inside a hand-over) never waits
// on a thread that waits on the UI.
struct TReaderLink {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Terminate = false;
    uint64_t Asked = 0;
    uint64_t Done = 0;
    int WakeFd = -1;  // makes the reader's wait for the child return at once

    TReaderLink() : WakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TReaderLink()
    {
        if (WakeFd >= 0)
            close(WakeFd);
    }
};

struct THandover : TMessagePayload {
    std::shared_ptr<TReaderLink> Link;
    uint64_t Ticket = 0;
};

// The reader thread of one run (TMp3EncodeThread and TWMAEncodeThread are the same): looks at
// both pipes, hands what waits there to the UI thread, waits up to 100 ms for the child when
// there is nothing, and after the child's end drains the pipes and hands over the end.
class TEncodeThread {
public:
    TEncodeThread(std::shared_ptr<TReaderLink> link, HWND target, int stdOut, int stdErr, TChildProcess* child)
        : m_link(std::move(link))
        , m_target(target)
        , m_stdOut(stdOut)
        , m_stdErr(stdErr)
        , m_child(child)
        , m_thread([this] { Execute(); })
    {
    }
    ~TEncodeThread()
    {
        {
            std::lock_guard lock(m_link->Mutex);
            m_link->Terminate = true;
            m_link->Changed.notify_all();
        }
        const uint64_t one = 1;
        static_cast<void>(write(m_link->WakeFd, &one, sizeof one));
        if (m_thread.joinable())
            m_thread.join();
    }

    const std::shared_ptr<TReaderLink>& Link() const { return m_link; }

private:
    bool Terminated()
    {
        std::lock_guard lock(m_link->Mutex);
        return m_link->Terminate;
    }

    // Asks the UI thread to do kind and waits until it has, or until the reader is stopped.
    bool HandOver(WPARAM kind, LPARAM bytes)
    {
        uint64_t ticket;
        {
            std::lock_guard lock(m_link->Mutex);
            if (m_link->Terminate)
                return false;
            ticket = ++m_link->Asked;
        }
        auto payload = std::make_unique<THandover>();
        payload->Link = m_link;
        payload->Ticket = ticket;
        if (!PostMessage(m_target, WM_ENCODER_HANDOVER, kind, bytes, std::move(payload)))
            return false;
        std::unique_lock lock(m_link->Mutex);
        m_link->Changed.wait(lock, [&] { return m_link->Done >= ticket || m_link->Terminate; });
        return !m_link->Terminate;
    }

    // One look at both pipes; false when nothing waited.
    bool Pass(bool& stopped)
    {
        bool any = false;
        for (const auto& [fd, kind] : {std::pair{m_stdOut, hoReadStdOut}, std::pair{m_stdErr, hoReadStdErr}}) {
            const int n = TChildProcess::BytesAvailable(fd);
            if (n > 0) {
                any = true;
                if (!HandOver(kind, n)) {
                    stopped = true;
                    return true;
                }
            }
        }
        return any;
    }

    void Execute()
    {
        bool stopped = false;
        while (!stopped) {
            const bool idle = !Pass(stopped);
            if (stopped)
                return;
            if (idle) {
                if (m_child->WaitForEnd(100, m_link->WakeFd)) {
                    while (Pass(stopped) && !stopped) {
                    }
                    if (!stopped && !Terminated())
                        HandOver(hoProcessEnded, 0);
                    return;
                }
                if (Terminated())
                    return;
            }
        }
    }

    std::shared_ptr<TReaderLink> m_link;
    HWND m_target;
    int m_stdOut, m_stdErr;
    TChildProcess* m_child;
    std::thread m_thread;
};

std::string JoinCommandLine(const std::vector<std::string>& argv, const std::vector<bool>& quoted)
{
    std::string text;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += i < quoted.size() && quoted[i] ? "\"" + argv[i] + "\"" : argv[i];
    }
    return text;
}

TEncodeProcess::TEncodeProcess(Dialogs& dialogs)
    : Mp3(Options.Mp3Options)
    , Wma(Options.WMAOptions)
    , UseID3(Options.UseID3)
    , Artist(Options.CDInfo.Artist)
    , Comment(Options.CDInfo.Comment)
    , m_dialogs(dialogs)
    , m_target([this](TMessage& m) { Handle(m); })
{
}

TEncodeProcess::~TEncodeProcess()
{
    Engaged = true;  // whatever state it is in, nothing of a run outlives the object
    KillProcess(0);
}

void TEncodeProcess::StopReader()
{
    // Destroying the reader stops it: it leaves its wait at once and ends after its pass.
    m_reader.reset();
}

void TEncodeProcess::EndEarlierRun()
{
    StopReader();
    if (m_child) {
        m_child->KillAndReap();
        m_child->ClosePipes();
        m_child.reset();
    }
}

void TEncodeProcess::KillProcess(int)
{
    if (!Engaged)
        return;
    Engaged = false;
    EndEarlierRun();
}

bool TEncodeProcess::StopRun()
{
    if (!Engaged)
        return false;
    Engaged = false;
    StopReader();
    bool cut = false;
    if (m_child) {
        m_child->KillAndReap();
        cut = !m_child->EndedWell();
    }
    EndEarlierRun();
    return cut;
}

void TEncodeProcess::Launch(const std::string& program, const std::vector<std::string>& argv, std::string commandLine)
{
    m_commandLine = std::move(commandLine);
    auto child = std::make_unique<TChildProcess>();
    std::string error;
    if (!child->CreatePipes(error))
        throw std::runtime_error(error);
    ProgressColumn = 0;
    int spawnError = ENOENT;
    if (program.empty() || !child->Spawn(program, argv, spawnError)) {
        child->ClosePipes();
        throw std::runtime_error("Error while creating mp3 encoding process!" + std::to_string(spawnError));
    }
    StartTime = std::chrono::steady_clock::now();
    m_child = std::move(child);
    m_reader = std::make_unique<TEncodeThread>(std::make_shared<TReaderLink>(), m_target.Handle(),
                                               m_child->StdOutRead(), m_child->StdErrRead(), m_child.get());
}

void TEncodeProcess::Handle(TMessage& message)
{
    auto handover = message.Take<THandover>();
    if (!handover)
        return;
    const std::shared_ptr<TReaderLink> link = handover->Link;
    // A hand-over of a reader that has been stopped since is no longer anyone's business.
    if (!m_reader || m_reader->Link() != link)
        return;
    const auto finish = [&] {
        std::lock_guard lock(link->Mutex);
        link->Done = std::max(link->Done, handover->Ticket);
        link->Changed.notify_all();
    };
    try {
        switch (message.WParam) {
        case hoReadStdOut:
        case hoReadStdErr:
            ReadPipe(message.WParam == hoReadStdOut, static_cast<int32_t>(message.LParam));
            break;
        case hoProcessEnded:
            ProcessEnded();
            break;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TEncodeProcess::ReadPipe(bool stdOut, int32_t bytes)
{
    BytesAvailable = bytes;
    std::string chunk(static_cast<std::size_t>(bytes), '\0');
    const int fd = stdOut ? m_child->StdOutRead() : m_child->StdErrRead();
    ssize_t got;
    do {
        got = read(fd, chunk.data(), chunk.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        const int error = errno;
        StopReader();
        throw std::runtime_error(std::string(stdOut ? "Error reading STDOUT pipe : " : "Error reading STDERR pipe : ") +
                                 std::to_string(error));
    }
    chunk.resize(static_cast<std::size_t>(got));
    Parse(chunk);
}

void TEncodeProcess::ProcessEnded()
{
    // The child has ended: this only reaps it, so its exit status can be told.
    m_child->KillAndReap();
    const bool well = m_child->EndedWell();
    const std::string how = m_child->EndDescription();
    EndEarlierRun();
    ReportEnd(well ? eeEnded : eeFailed, how);
}

void TEncodeProcess::Report(std::unique_ptr<TProcessInfo> info, bool send)
{
    if (send)
        SendMessage(NotifyWindow, WM_PROCESSINFO, 0, 0, std::move(info));
    else
        PostMessage(NotifyWindow, WM_PROCESSINFO, 0, 0, std::move(info));
}

double TEncodeProcess::SecondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - StartTime).count();
}

// --- MP3 ---

std::vector<std::string> TMp3EncodeProcess::Arguments() const
{
    if (!EncodeMode)
        return {"lame", "--decode", InputFile, OutputFile};
    const TMp3Options& mp3 = Mp3;
    std::vector<std::string> argv{"lame", "-b", std::to_string(mp3.BitRate)};
    static const char* modes[] = {"s", "j", "f", "d", "m"};
    if (mp3.StereoMode >= 0 && mp3.StereoMode <= 4) {
        argv.push_back("-m");
        argv.push_back(modes[mp3.StereoMode]);
    }
    if (mp3.MpegQuality == 1)
        argv.push_back("-f");
    else if (mp3.MpegQuality == 2)
        argv.push_back("-h");
    if (mp3.IsSelectVBR) {
        argv.insert(argv.end(), {"-V", std::to_string(mp3.VBRQuality), "-B", std::to_string(mp3.MaxBitRate)});
        if (mp3.IsVBRHead)
            argv.push_back("-t");
    }
    argv.push_back(InputFile);
    argv.push_back(OutputFile);
    return argv;
}

void TMp3EncodeProcess::StartProcess()
{
    EndEarlierRun();
    const std::vector<std::string> argv = Arguments();
    std::vector<bool> quoted(argv.size(), false);
    quoted[argv.size() - 1] = quoted[argv.size() - 2] = true;
    Launch(FindProgram("lame"), argv, JoinCommandLine(argv, quoted));
}

void TMp3EncodeProcess::Parse(std::string_view chunk)
{
    const std::vector<TProgressReport> reports = EncodeMode ? ParseEncodeOutput(chunk, ProgressColumn)
                                                            : ParseDecodeOutput(chunk, ProgressColumn, SecondsSinceStart());
    for (const TProgressReport& r : reports) {
        auto info = std::make_unique<TProcessInfo>();
        info->Code = r.Code;
        info->ElapsedText = r.ElapsedText;
        info->EstimatedText = r.EstimatedText;
        Report(std::move(info), false);
    }
}

void TMp3EncodeProcess::ReportEnd(int32_t status, const std::string& text)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Code = piMp3Ended;
    info->Status = status;
    info->ElapsedText = text;
    Report(std::move(info), false);
}
