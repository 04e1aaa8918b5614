#pragma once
// Small file-system questions the program asks in several places. Linux has no read-only
// attribute and no share modes; these functions say what stands in for them.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// True when the file exists and the user may not change it: no write permission bit is set at
// all (the Linux form of the read-only attribute; it holds even for root), or the system refuses
// write access.
bool IsReadOnlyFile(const std::string& path);

// Takes the advisory lock that marks a file as being written by this program, without waiting.
// False when another open file (in this process or another) holds it.
bool TryLockForWriting(int fd);

// The folder part of a path, with its trailing "/" ("/a/b.ini" -> "/a/"); "./" for a bare name.
std::string FolderOf(const std::string& path);
// The name part of a path, after its last "/" ("/a/b.ini" -> "b.ini").
std::string FileNameOf(const std::string& path);
// path with its extension replaced by ext ("a/b.wav", ".mp3" -> "a/b.mp3"; "a/b" -> "a/b.mp3"; a
// dot in a folder's name is no extension).
std::string WithExtension(const std::string& path, const std::string& ext);

// Why the folder takes no more files, as the system's error number: EROFS on a read-only file
// system, the system's refusal of write access, ENOSPC when under 1 MiB is left to this user (no
// track fits), the error of a folder that is gone; 0 when it can take files. Asked after a writer
// failed, to tell the user the cause rather than the symptom.
int FolderWriteProblem(const std::string& folder);

// Writes all n bytes (at offset when it is not negative, else at the descriptor's position),
// going on after interrupted or short writes. False when the system refuses.
bool WriteFully(int fd, const void* data, std::size_t n, off_t offset = -1);

// Writes bytes as the file path, never half written: under a temporary name beside it (this
// process's own, "<path>.part<pid>"; not through a link), then renamed over it. False, and no
// temporary file left, when the system refuses.
bool WriteFileWhole(const std::string& path, std::string_view bytes);

// A descriptor closed on every path out.
class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd();
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd;
};

// The disc in a tray folder (a drive that is a folder): the .cue or .toc image put into it first
// (the oldest by modification time, then by name), as a full path; "" for none.
std::string FirstTrayImage(const std::string& folder);
