#pragma once
// Byte streams the audio components read and write: a file, or a block of memory. Positions and
// sizes are 64-bit; reads and writes return the count done, failures raise EACSException.

#include <cstdint>
#include <cstdio>
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

// A file through a large buffer (1 MiB): the components move 16 KiB at a time.
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
    // Flushes and closes; raises when the last writes cannot be completed.
    void Close();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_writing = false;
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
