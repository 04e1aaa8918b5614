#include "ACS_Streams.h"

#include "ACS_Types.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t FileBuffer = 1 << 20;

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode)
    : m_path(path)
    , m_writing(mode != fmOpenRead)
{
    int flags = O_CLOEXEC | O_NOCTTY;
    flags |= mode == fmOpenRead ? O_RDONLY : O_RDWR;
    if (mode == fmCreate)
        flags |= O_CREAT;
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0)
        throw EACSException("Cannot open file " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        throw EACSException("Cannot open file " + path + ": not a file");
    }
    // Emptied only once the lock is ours, so a file another writer holds is left whole.
    if (m_writing && (flock(fd, LOCK_EX | LOCK_NB) != 0 || (mode == fmCreate && ftruncate(fd, 0) != 0))) {
        close(fd);
        throw EACSException("Cannot open file " + path + " for writing: it is in use");
    }
    m_file = fdopen(fd, m_writing ? "r+b" : "rb");
    if (!m_file) {
        close(fd);
        throw EACSException("Cannot open file " + path);
    }
    std::setvbuf(m_file, nullptr, _IOFBF, FileBuffer);
}

TFileStream::~TFileStream()
{
    if (m_file)
        std::fclose(m_file);
}

void TFileStream::Close()
{
    if (!m_file)
        return;
    std::FILE* f = m_file;
    m_file = nullptr;
    if (std::fclose(f) != 0 && m_writing)
        throw EACSException("Cannot write file " + m_path + ": " + std::strerror(errno));
}

std::size_t TFileStream::Read(void* data, std::size_t n)
{
    const std::size_t got = std::fread(data, 1, n, m_file);
    if (got < n && std::ferror(m_file))
        throw EACSException("Cannot read file " + m_path);
    return got;
}

void TFileStream::Write(const void* data, std::size_t n)
{
    if (std::fwrite(data, 1, n, m_file) != n)
        throw EACSException("Cannot write file " + m_path + ": " + std::strerror(errno));
}

void TFileStream::Seek(int64_t position)
{
    if (fseeko(m_file, static_cast<off_t>(position), SEEK_SET) != 0)
        throw EACSException("Cannot seek in file " + m_path);
}

int64_t TFileStream::Position()
{
    return static_cast<int64_t>(ftello(m_file));
}

int64_t TFileStream::Size()
{
    if (m_writing)
        std::fflush(m_file);
    struct stat st {};
    if (fstat(fileno(m_file), &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_size);
}

std::size_t TMemoryStream::Read(void* data, std::size_t n)
{
    const std::size_t left = m_position < Bytes.size() ? Bytes.size() - m_position : 0;
    const std::size_t count = std::min(n, left);
    if (count == 0)
        return 0;
    std::memcpy(data, Bytes.data() + m_position, count);
    m_position += count;
    return count;
}

void TMemoryStream::Write(const void* data, std::size_t n)
{
    if (n == 0)
        return;
    if (m_position + n > Bytes.size())
        Bytes.resize(m_position + n);
    std::memcpy(Bytes.data() + m_position, data, n);
    m_position += n;
}

void TMemoryStream::Seek(int64_t position)
{
    m_position = position < 0 ? 0 : static_cast<std::size_t>(position);
}
