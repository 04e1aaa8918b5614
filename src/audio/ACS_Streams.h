#pragma once
// Byte streams the audio components read and write: a file, or a block of memory. Positions and
// sizes are 64-bit; reads and writes return the count done, failures raise EACSException.

#include <cstdint>
#include <string>
#include <vector>

class TStream {
public:
    virtual ~TStream() = default;
    // Up to n bytes; fewer only at the end.
    virtual std::size_t Read(void* data, std::size_t n) = 0;
    // Writes all n bytes or raises.
    virtual void Write(const void* data, std::size_t n) = 0;
    virtual void Seek(int64_t position) = 0;
    virtual int64_t Position() = 0;
    virtual int64_t Size() = 0;
};

// A file through a buffer of 1 MiB of its own: the components move 16 KiB at a time, and the
// system should see large reads and writes (glibc's stdio passes such pieces straight through).
class TFileStream final : public TStream {
public:
    enum Mode {
        fmOpenRead,        // an existing file, reading
        fmCreate,          // a new or emptied file, reading and writing
        fmOpenReadWrite,   // an existing file, reading and writing
    };
    // Raises EACSException when the file cannot be opened. A file opened for writing carries the
    // program's write lock (an advisory flock): a file another writer holds is refused.
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* data, std::size_t n) override;
    void Write(const void* data, std::size_t n) override;
    void Seek(int64_t position) override;
    int64_t Position() override;
    int64_t Size() override;
    // Writes what is buffered and closes; raises when that fails. Space reserved beyond what was
    // written is given back.
    void Close();
    // Asks the file system to set aside room for a file of bytes bytes (its size stays as
    // written), so it allocates the space in one piece. Nothing happens where it cannot.
    void Reserve(int64_t bytes);

private:
    void Flush();           // writes the write buffer
    void DropReadAhead();   // forgets read-ahead, putting the descriptor back at Position()
    void WriteFully(const uint8_t* data, std::size_t n);

    int m_fd = -1;
    std::string m_path;
    bool m_writing = false;
    bool m_reserved = false;
    int64_t m_readSize = -1;        // a file opened for reading does not change size under us
    std::vector<uint8_t> m_buffer;
    std::size_t m_readPos = 0;      // next unread byte of read-ahead in m_buffer
    std::size_t m_readLen = 0;      // read-ahead bytes in m_buffer
    std::size_t m_writeLen = 0;     // bytes waiting in m_buffer to be written
    int64_t m_fdPos = 0;            // where the descriptor stands
};

class TMemoryStream final : public TStream {
public:
    std::size_t Read(void* data, std::size_t n) override;
    void Write(const void* data, std::size_t n) override;
    void Seek(int64_t position) override;
    int64_t Position() override { return static_cast<int64_t>(m_position); }
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }

    std::vector<uint8_t> Bytes;

private:
    std::size_t m_position = 0;
};
