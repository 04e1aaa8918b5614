#include "id3.h"

#include "FileSystem.h"
#include "GlobalTables.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t TextWidth = 30;
constexpr std::size_t YearWidth = 4;
constexpr std::size_t ShortCommentWidth = 28;  // with a track number

using Block = std::array<char, Tid3tag::TagSize>;

bool IsRegularFile(const std::string& path, off_t* size = nullptr)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = st.st_size;
    return true;
}

// Reads exactly n bytes at offset; false on error or a short file.
bool ReadAt(int fd, char* data, std::size_t n, off_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd, data + done, n - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Where the tag block sits, or -1: the last 128 bytes of a file of 128 bytes or more that begin
// with "TAG". Sets ioFailed when the file cannot be read.
off_t FindTag(int fd, off_t size, bool& ioFailed)
{
    ioFailed = false;
    if (size < static_cast<off_t>(Tid3tag::TagSize))
        return -1;
    const off_t at = size - static_cast<off_t>(Tid3tag::TagSize);
    char magic[3];
    if (!ReadAt(fd, magic, sizeof magic, at)) {
        ioFailed = true;
        return -1;
    }
    return std::memcmp(magic, "TAG", 3) == 0 ? at : -1;
}

// Bytes 0, 32 and 255 at the end are padding, whatever tagger wrote them.
std::string Trimmed(const char* bytes, std::size_t n)
{
    while (n > 0) {
        const auto c = static_cast<unsigned char>(bytes[n - 1]);
        if (c != 0 && c != 32 && c != 255)
            break;
        --n;
    }
    return std::string(bytes, n);
}

// The field's bytes padded with 0 (or cut) to width.
std::string Padded(const std::string& field, std::size_t width)
{
    std::string out = field.substr(0, width);
    out.resize(width, '\0');
    return out;
}

std::string UpToPadding(const std::string& field)
{
    return Latin1ToUtf8(std::string_view(field.data(), strnlen(field.data(), field.size())));
}

}  // namespace

std::string Utf8ToLatin1(std::string_view utf8, std::size_t maxChars)
{
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size() && out.size() < maxChars) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t len = 0;
        uint32_t cp = 0;
        if (lead < 0x80) {
            len = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            len = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            len = 3;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            len = 4;
            cp = lead & 0x07;
        }
        std::size_t j = 1;
        while (len > 1 && j < len && i + j < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + j]) & 0xC0) == 0x80) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + j]) & 0x3F);
            ++j;
        }
        if (len == 0 || j < len) {  // a stray or cut-off byte sequence
            out += '?';
            i += std::max<std::size_t>(j, 1);
            continue;
        }
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
        i += len;
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view latin1)
{
    std::string out;
    out.reserve(latin1.size());
    for (const char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Tid3tag::Tid3tag()
    : m_title(TextWidth, '\0')
    , m_artist(TextWidth, '\0')
    , m_album(TextWidth, '\0')
    , m_year(YearWidth, '\0')
    , m_comment(TextWidth, '\0')
{
}

void Tid3tag::SetTitle(std::string_view utf8) { m_title = Utf8ToLatin1(utf8, TextWidth); }
void Tid3tag::SetArtist(std::string_view utf8) { m_artist = Utf8ToLatin1(utf8, TextWidth); }
void Tid3tag::SetAlbum(std::string_view utf8) { m_album = Utf8ToLatin1(utf8, TextWidth); }
void Tid3tag::SetYear(std::string_view utf8) { m_year = Utf8ToLatin1(utf8, YearWidth); }
void Tid3tag::SetComment(std::string_view utf8) { m_comment = Utf8ToLatin1(utf8, TextWidth); }
void Tid3tag::SetTrack(uint8_t track) { m_track = track; }

std::string Tid3tag::Title() const { return UpToPadding(m_title); }
std::string Tid3tag::Artist() const { return UpToPadding(m_artist); }
std::string Tid3tag::Album() const { return UpToPadding(m_album); }
std::string Tid3tag::Year() const { return UpToPadding(m_year); }
std::string Tid3tag::Comment() const { return UpToPadding(m_comment); }

uint16_t Tid3tag::ReadFromFile(const std::string& path)
{
    off_t size = 0;
    if (!IsRegularFile(path, &size))
        return id3NoFile;
    const TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.ok())
        return id3NoFile;
    m_tagFileName = path;

    bool ioFailed = false;
    const off_t at = FindTag(fd.get(), size, ioFailed);
    if (ioFailed)
        return id3ReadError;
    if (at < 0)
        return id3NoTag;
    Block b;
    if (!ReadAt(fd.get(), b.data(), b.size(), at))
        return id3ReadError;

    m_title = Trimmed(&b[3], TextWidth);
    m_artist = Trimmed(&b[33], TextWidth);
    m_album = Trimmed(&b[63], TextWidth);
    m_year = Trimmed(&b[93], YearWidth);
    // ID3v1.1: a byte 0 at 125 followed by a track number other than 0.
    if (b[125] == 0 && b[126] != 0) {
        m_track = static_cast<uint8_t>(b[126]);
        m_comment = Trimmed(&b[97], ShortCommentWidth);
    } else {
        m_track = 0;
        m_comment = Trimmed(&b[97], TextWidth);
    }
    Genre = static_cast<uint8_t>(b[127]);
    return (Genre > 147 && Genre != 255) ? id3GenreWarning : id3Success;
}

uint16_t Tid3tag::SaveToFile(const std::string& pathGiven)
{
    const std::string path = pathGiven == "=" ? m_tagFileName : pathGiven;
    if (!IsRegularFile(path))
        return id3NoFile;
    if (IsReadOnlyFile(path))
        return id3ReadOnly;
    const TFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd.ok())
        return id3NoFile;
    // Others may read while the tag is written, but not write.
    if (!TryLockForWriting(fd.get()))
        return id3NoFile;

    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        return id3OtherIOError;
    bool ioFailed = false;
    const off_t existing = FindTag(fd.get(), st.st_size, ioFailed);
    if (ioFailed)
        return id3ReadError;
    const off_t at = existing >= 0 ? existing : st.st_size;

    m_title = Padded(m_title, TextWidth);
    m_artist = Padded(m_artist, TextWidth);
    m_album = Padded(m_album, TextWidth);
    m_year = Padded(m_year, YearWidth);
    m_comment = Padded(m_comment, TextWidth);

    Block b{};
    std::memcpy(&b[0], "TAG", 3);
    std::memcpy(&b[3], m_title.data(), TextWidth);
    std::memcpy(&b[33], m_artist.data(), TextWidth);
    std::memcpy(&b[63], m_album.data(), TextWidth);
    std::memcpy(&b[93], m_year.data(), YearWidth);
    if (m_track != 0) {
        std::memcpy(&b[97], m_comment.data(), ShortCommentWidth);
        b[125] = 0;
        b[126] = static_cast<char>(m_track);
    } else {
        std::memcpy(&b[97], m_comment.data(), TextWidth);
    }
    b[127] = static_cast<char>(Genre);

    if (!WriteFully(fd.get(), b.data(), b.size(), at)) {
        // An append cut short (disk full) must not leave part of a tag behind.
        if (existing < 0 && ftruncate(fd.get(), st.st_size) != 0)
            return id3OtherIOError;
        return id3WriteError;
    }
    m_tagFileName = path;
    return id3Success;
}

void Tid3tag::RemoveTag()
{
    if (!IsRegularFile(m_tagFileName) || IsReadOnlyFile(m_tagFileName))
        return;
    const TFd fd(open(m_tagFileName.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd.ok() || !TryLockForWriting(fd.get()))
        return;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        return;
    bool ioFailed = false;
    const off_t at = FindTag(fd.get(), st.st_size, ioFailed);
    if (at >= 0 && ftruncate(fd.get(), at) != 0)
        return;  // nothing to report: the file keeps its tag
}

uint8_t GenreToID3(uint8_t choice)
{
    if (choice == 0 || choice > GenreCount)
        return 255;
    return GenreNames[choice - 1].Code;
}

uint8_t ID3ToGenre(uint8_t code)
{
    for (int i = 0; i < GenreCount; ++i)
        if (GenreNames[i].Code == code)
            return static_cast<uint8_t>(i + 1);
    return 0;
}

bool IsMp3File(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f)
        return false;
    unsigned char head[4096];
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    char tag[3] = {0, 0, 0};
    const bool tagAtEnd = std::fseek(f, -static_cast<long>(Tid3tag::TagSize), SEEK_END) == 0 &&
                          std::fread(tag, 1, sizeof tag, f) == 3 && std::memcmp(tag, "TAG", 3) == 0;
    std::fclose(f);
    const auto startsWith = [&](const char* magic) { return n >= 4 && std::memcmp(head, magic, 4) == 0; };
    if (n == 0 || startsWith("RIFF") || startsWith("OggS") || startsWith("fLaC"))
        return false;  // nothing, or a WAV, Ogg or FLAC file
    if ((n >= 3 && std::memcmp(head, "ID3", 3) == 0) || tagAtEnd || (n >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0))
        return true;
    // Otherwise it is taken for MPEG audio after some junk (a decoder skips that) unless it reads
    // as text: no control characters but tab and line ends.
    return std::any_of(head, head + n, [](unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; });
}
