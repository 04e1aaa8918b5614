#include "FileSystem.h"

#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

bool IsReadOnlyFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return true;
    return access(path.c_str(), W_OK) != 0;
}

bool TryLockForWriting(int fd)
{
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithExtension(const std::string& path, const std::string& ext)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
}

int FolderWriteProblem(const std::string& folder)
{
    struct statvfs fs {};
    if (statvfs(folder.c_str(), &fs) != 0)
        return errno;
    if ((fs.f_flag & ST_RDONLY) != 0)
        return EROFS;
    if (access(folder.c_str(), W_OK) != 0)
        return errno;
    // Blocks left: root may use the reserved ones as well.
    const unsigned long long blocks = geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    constexpr unsigned long long Enough = 1 << 20;
    if (blocks * fs.f_frsize < Enough)
        return ENOSPC;
    return 0;
}

bool WriteFileWhole(const std::string& path, std::string_view bytes)
{
    const std::string temp = path + ".part" + std::to_string(getpid());
    bool written = false;
    {
        const TFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
        written = fd.get() >= 0 && WriteFully(fd.get(), bytes.data(), bytes.size());
    }
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool WriteFully(int fd, const void* data, std::size_t n, off_t offset)
{
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = offset < 0 ? write(fd, bytes + done, n - done)
                                       : pwrite(fd, bytes + done, n - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

TFd::~TFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

std::string FirstTrayImage(const std::string& folder)
{
    std::string first;
    std::filesystem::file_time_type firstTime{};
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        if (!it->is_regular_file(ec) || !(path.ends_with(".cue") || path.ends_with(".toc")))
            continue;
        const auto time = it->last_write_time(ec);
        if (first.empty() || time < firstTime || (time == firstTime && path < first)) {
            first = path;
            firstTime = time;
        }
    }
    return first;
}
