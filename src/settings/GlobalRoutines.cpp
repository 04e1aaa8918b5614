#include "GlobalRoutines.h"

#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

std::string TwoDigits(int n)
{
    return (n >= 0 && n <= 9 ? "0" : "") + std::to_string(n);
}

std::string TimeText(int64_t seconds)
{
    return TwoDigits(static_cast<int>(seconds / 60)) + ":" + TwoDigits(static_cast<int>(seconds % 60));
}

std::string IncludeBackslash(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + '/';
}

bool IsFileLocked(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode) || IsReadOnlyFile(path))
        return true;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return true;
    const bool locked = !TryLockForWriting(fd);
    close(fd);  // closing the descriptor releases the lock taken by the probe
    return locked;
}

void WaitMilliseconds(int ms)
{
    if (ms < 1)
        return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_until(until);
}

int64_t GetFileSize64(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}
