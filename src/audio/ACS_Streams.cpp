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
    m_fd = fd;
    m_buffer.resize(FileBuffer);
}

TFileStream::~TFileStream()
{
    if (m_fd >= 0) {
        try {
            Flush();
        } catch (...) {
        }
        close(m_fd);
    }
}

void TFileStream::WriteFully(const uint8_t* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t put = write(m_fd, data, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw EACSException("Cannot write file " + m_path + ": " + std::strerror(errno));
        data += put;
        n -= static_cast<std::size_t>(put);
        m_fdPos += put;
    }
}

void TFileStream::Flush()
{
    if (m_writeLen == 0)
        return;
    const std::size_t n = m_writeLen;
    m_writeLen = 0;
    WriteFully(m_buffer.data(), n);
}

void TFileStream::DropReadAhead()
{
    if (m_readLen == 0)
        return;
    const int64_t logical = m_fdPos - static_cast<int64_t>(m_readLen - m_readPos);
    m_readPos = m_readLen = 0;
    if (lseek(m_fd, static_cast<off_t>(logical), SEEK_SET) < 0)
        throw EACSException("Cannot seek in file " + m_path);
    m_fdPos = logical;
}

void TFileStream::Reserve(int64_t bytes)
{
    if (m_writing && bytes > 0)
        m_reserved = fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0;
}

void TFileStream::Close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    bool ok = true;
    std::string error;
    try {
        Flush();
    } catch (const EACSException& e) {
        ok = false;
        error = e.what();
    }
    if (ok && m_reserved) {
        struct stat st {};
        if (fstat(fd, &st) == 0)
            static_cast<void>(ftruncate(fd, st.st_size));  // frees what was reserved and not used
    }
    m_fd = -1;
    if (close(fd) != 0 && m_writing && ok) {
        ok = false;
        error = "Cannot write file " + m_path + ": " + std::strerror(errno);
    }
    if (!ok)
        throw EACSException(error);
}

std::size_t TFileStream::Read(void* data, std::size_t n)
{
    Flush();
    auto* out = static_cast<uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        if (m_readPos < m_readLen) {
            const std::size_t take = std::min(n - done, m_readLen - m_readPos);
            std::memcpy(out + done, m_buffer.data() + m_readPos, take);
            m_readPos += take;
            done += take;
            continue;
        }
        // Large requests go straight to the caller; small ones through the read-ahead.
        const bool direct = n - done >= m_buffer.size();
        uint8_t* target = direct ? out + done : m_buffer.data();
        const std::size_t want = direct ? n - done : m_buffer.size();
        ssize_t got;
        do {
            got = read(m_fd, target, want);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            throw EACSException("Cannot read file " + m_path + ": " + std::strerror(errno));
        if (got == 0)
            break;
        m_fdPos += got;
        if (direct) {
            done += static_cast<std::size_t>(got);
        } else {
            m_readPos = 0;
            m_readLen = static_cast<std::size_t>(got);
        }
    }
    return done;
}

void TFileStream::Write(const void* data, std::size_t n)
{
    DropReadAhead();
    const auto* in = static_cast<const uint8_t*>(data);
    if (m_writeLen + n > m_buffer.size()) {
        Flush();
        if (n >= m_buffer.size()) {
            WriteFully(in, n);
            return;
        }
    }
    std::memcpy(m_buffer.data() + m_writeLen, in, n);
    m_writeLen += n;
}

void TFileStream::Seek(int64_t position)
{
    Flush();
    if (m_readLen > 0 && position <= m_fdPos && position >= m_fdPos - static_cast<int64_t>(m_readLen)) {
        // Within the read-ahead: no system call.
        m_readPos = static_cast<std::size_t>(position - (m_fdPos - static_cast<int64_t>(m_readLen)));
        return;
    }
    m_readPos = m_readLen = 0;
    if (lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        throw EACSException("Cannot seek in file " + m_path);
    m_fdPos = position;
}

int64_t TFileStream::Position()
{
    return m_fdPos - static_cast<int64_t>(m_readLen - m_readPos) + static_cast<int64_t>(m_writeLen);
}

int64_t TFileStream::Size()
{
    if (!m_writing && m_readSize >= 0)
        return m_readSize;
    struct stat st {};
    if (fstat(m_fd, &st) != 0)
        return 0;
    // Bytes still in the buffer may reach beyond the file's end.
    const int64_t size = std::max<int64_t>(st.st_size, Position());
    if (!m_writing)
        m_readSize = size;
    return size;
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
