#pragma once
// The external encoder runs: lame for MP3 (encoding and decoding) and WM8EUTIL for WMA, each a
// child process with its standard handles on pipes. A reader thread watches the pipes and the
// child; everything it finds is handed to the UI thread, which parses the output into progress
// reports and reports the run's end to NotifyWindow (WM_PROCESSINFO, a TProcessInfo):
//
//   progress  Code 1..100, posted (WMA prints only its "100%")
//   the end   Code 2000 (MP3, posted) or 5000 (WMA, sent); Status a TEncodeEnd (JobMessages.h):
//             declined, in use, ended, failed (how, in ElapsedText), an error line (WMA; the line)
//
// A child that exits with a code other than 0, or is ended by a signal, has failed (eeFailed):
// what it wrote is not to be trusted, whatever progress it printed before.
//
// The object lives on the UI thread; StartProcess, KillProcess, the parsers and the reports run
// there. The reader only looks at the pipes and waits for the child.

#include "Dialogs.h"
#include "GlobalOptions.h"
#include "JobKind.h"
#include "JobMessages.h"
#include "Messages.h"
#include "Process.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>


class TEncodeThread;

class TEncodeProcess {
public:
    explicit TEncodeProcess(Dialogs& dialogs);
    // Kills a run still going (no report follows).
    virtual ~TEncodeProcess();
    TEncodeProcess(const TEncodeProcess&) = delete;
    TEncodeProcess& operator=(const TEncodeProcess&) = delete;

    // Starts a run for InputFile, OutputFile, EncodeMode and JobKind; returns at once. May report
    // the end at once (declined, in use, no encoder). Raises std::runtime_error when the pipes or
    // the process cannot be made. A run still going on this object is killed first.
    virtual void StartProcess() = 0;
    // Ends the run without a report when Engaged: the reader stops, the child is killed and
    // reaped, the pipes are closed. exitCode is not used: a killed child has no exit code here.
    void KillProcess(int exitCode);
    // Ends the run as KillProcess does. True when that cut it short (its child still ran, or had
    // failed): what it wrote is no whole file. False when the child had already ended well, its
    // end not yet reported, or there was no run.
    bool StopRun();

    int32_t BytesAvailable = 0;
    int32_t ProgressColumn = 0;
    std::chrono::steady_clock::time_point StartTime;
    HWND NotifyWindow = 0;
    std::string InputFile;
    std::string OutputFile;
    bool Engaged = false;
    bool EncodeMode = true;
    uint8_t JobKind = 0;
    // The run's settings: the options as they were when the object was made, until a job hands
    // its own with the files before StartProcess.
    TMp3Options Mp3;
    TWMAOptions Wma;
    bool UseID3 = false;
    std::string Artist, Comment;   // with UseID3: the WMA file's author and description

    // The last run's command line: its arguments joined with spaces, the file names quoted.
    const std::string& CommandLine() const { return m_commandLine; }
    // The current child, or -1.
    pid_t ChildPid() const { return m_child ? m_child->Pid() : -1; }
    // Whether a child or a reader of this object is alive.
    bool Busy() const { return m_child != nullptr; }

protected:
    // Pipes, process, reader. program: the path to run; argv[0] the name it is shown by.
    void Launch(const std::string& program, const std::vector<std::string>& argv, std::string commandLine);
    // Stops the reader and the child of an earlier run, so its end is never taken for a new run's.
    void EndEarlierRun();

    virtual void Parse(std::string_view chunk) = 0;
    virtual void ReportEnd(int32_t status, const std::string& text) = 0;
    void Report(std::unique_ptr<TProcessInfo> info, bool send);
    double SecondsSinceStart() const;

    Dialogs& m_dialogs;

private:
    friend class TEncodeThread;
    void Handle(TMessage& message);
    void ReadPipe(bool stdOut, int32_t bytes);
    void ProcessEnded();
    void StopReader();

    std::unique_ptr<TChildProcess> m_child;
    std::unique_ptr<TEncodeThread> m_reader;
    std::string m_commandLine;
    TMessageTarget m_target;
};

class TMp3EncodeProcess : public TEncodeProcess {
public:
    using TEncodeProcess::TEncodeProcess;

    void StartProcess() override;
    // The arguments from the MP3 options: encode (EncodeMode) or decode.
    std::vector<std::string> Arguments() const;

protected:
    void Parse(std::string_view chunk) override;
    void ReportEnd(int32_t status, const std::string& text) override;
};

// Joins arguments the way they would be typed: file arguments in double quotes.
std::string JoinCommandLine(const std::vector<std::string>& argv, const std::vector<bool>& quoted);
