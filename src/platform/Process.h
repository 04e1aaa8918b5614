#pragma once
// A child program with its three standard handles on pipes: started without a shell (the
// arguments are a vector), in a session of its own (no terminal), its standard input a pipe
// nothing writes to. The parent looks at the output pipes without reading (FIONREAD), waits for
// the child's end with a timeout, and kills and reaps it. Plain POSIX.

#include <sys/types.h>

#include <string>
#include <vector>

class TChildProcess {
public:
    TChildProcess() = default;
    // Kills a child still running and closes everything.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Makes the three pipes; false with errorText ("Error on STDOUT pipe creation : " and the
    // errno, say) when the system refuses.
    bool CreatePipes(std::string& errorText);
    // Starts program (a path) with argv; false with the errno in error when it cannot.
    bool Spawn(const std::string& program, const std::vector<std::string>& argv, int& error);

    pid_t Pid() const { return m_pid; }
    int StdInRead() const { return m_stdIn[0]; }
    int StdInWrite() const { return m_stdIn[1]; }
    int StdOutRead() const { return m_stdOut[0]; }
    int StdOutWrite() const { return m_stdOut[1]; }
    int StdErrRead() const { return m_stdErr[0]; }
    int StdErrWrite() const { return m_stdErr[1]; }

    // Bytes waiting in a pipe, or -1 when the look fails.
    static int BytesAvailable(int fd);
    // Waits up to ms milliseconds for the child to end (without reaping it), or until wakeFd
    // (when >= 0) becomes readable. True when the child has ended.
    bool WaitForEnd(int ms, int wakeFd);
    // Reaps an ended child; kills it first when it still runs. Safe to call more than once.
    void KillAndReap();
    // After KillAndReap: whether the child ended by itself with exit code 0; and how it ended,
    // for a message ("exit code 1", "signal 11").
    bool EndedWell() const;
    std::string EndDescription() const;
    // Closes the six pipe ends that are open.
    void ClosePipes();

private:
    int m_stdIn[2] = {-1, -1};
    int m_stdOut[2] = {-1, -1};
    int m_stdErr[2] = {-1, -1};
    pid_t m_pid = -1;
    int m_pidFd = -1;   // Linux's process descriptor: readable when the child ends
    int m_waitStatus = -1;  // as waitpid gave it; -1 before the child is reaped
    bool m_killed = false;  // we ended it
};

// The program named name: the folder of the running executable first (where the program's helpers
// are installed beside it, also when options.ini has to live elsewhere), then each folder of
// PATH. Empty when none is an executable file.
std::string FindProgram(const std::string& name);
