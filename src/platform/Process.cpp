#include "Process.h"

#include "ProgramFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

bool IsExecutable(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return IsExecutable(name) ? name : std::string();
    if (const std::string beside = ExecutableFolder() + name; IsExecutable(beside))
        return beside;
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty())
            continue;
        const std::string candidate = folder + "/" + name;
        if (IsExecutable(candidate))
            return candidate;
    }
    return {};
}

TChildProcess::~TChildProcess()
{
    KillAndReap();
    ClosePipes();
}

bool TChildProcess::CreatePipes(std::string& errorText)
{
    // Every end is close-on-exec; the child gets its three through dup2 in the spawn.
    const struct {
        int* fds;
        const char* text;
    } pipes[] = {{m_stdIn, "Error on STDIN pipe creation : "},
                 {m_stdOut, "Error on STDOUT pipe creation : "},
                 {m_stdErr, "Error on STDERR pipe creation : "}};
    for (const auto& p : pipes) {
        if (pipe2(p.fds, O_CLOEXEC) != 0) {
            errorText = p.text + std::to_string(errno);
            return false;
        }
    }
    return true;
}

bool TChildProcess::Spawn(const std::string& program, const std::vector<std::string>& argv, int& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, m_stdIn[0], 0);
    posix_spawn_file_actions_adddup2(&actions, m_stdOut[1], 1);
    posix_spawn_file_actions_adddup2(&actions, m_stdErr[1], 2);
    // A session of its own (no terminal), default signal handling and an empty signal mask
    // whatever the parent has set.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    error = posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;
    m_pid = pid;
    m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    // The child's ends are the child's now.
    CloseFd(m_stdIn[0]);
    CloseFd(m_stdOut[1]);
    CloseFd(m_stdErr[1]);
    return true;
}

int TChildProcess::BytesAvailable(int fd)
{
    int n = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool TChildProcess::WaitForEnd(int ms, int wakeFd)
{
    if (m_pid <= 0)
        return true;
    pollfd fds[2];
    nfds_t count = 0;
    if (m_pidFd >= 0)
        fds[count++] = {m_pidFd, POLLIN, 0};
    if (wakeFd >= 0)
        fds[count++] = {wakeFd, POLLIN, 0};
    int rc;
    do {
        rc = poll(fds, count, ms);
    } while (rc < 0 && errno == EINTR);
    // Without a process descriptor (an old kernel) the wait was a plain timeout: ask directly,
    // leaving the child for KillAndReap to reap.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return true;  // no such child any more
    return info.si_pid == m_pid;
}

void TChildProcess::KillAndReap()
{
    if (m_pid > 0) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != m_pid) {
            kill(m_pid, SIGKILL);
            m_killed = true;
        }
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_waitStatus = status;
    }
    m_pid = -1;
    CloseFd(m_pidFd);
}

bool TChildProcess::EndedWell() const
{
    return !m_killed && m_waitStatus >= 0 && WIFEXITED(m_waitStatus) && WEXITSTATUS(m_waitStatus) == 0;
}

std::string TChildProcess::EndDescription() const
{
    if (m_waitStatus < 0)
        return "no end";
    if (WIFSIGNALED(m_waitStatus))
        return "signal " + std::to_string(WTERMSIG(m_waitStatus));
    return "exit code " + std::to_string(WEXITSTATUS(m_waitStatus));
}

void TChildProcess::ClosePipes()
{
    CloseFd(m_stdIn[0]);
    CloseFd(m_stdIn[1]);
    CloseFd(m_stdOut[0]);
    CloseFd(m_stdOut[1]);
    CloseFd(m_stdErr[0]);
    CloseFd(m_stdErr[1]);
}
