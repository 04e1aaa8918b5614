#pragma once
// Profile (INI) files with the reading and writing rules of the Windows profile API, which the
// program's options.ini and cdinfo.dat were first written under. No library keeps these rules
// (in-place updates that keep every other line, first match wins, quote stripping, 2047-character
// strings), so the file is read and written here.
//
//   [Section]          section and key names compare without regard to ASCII case
//   Key = value        spaces around key and value are dropped; one pair of matching quotes
//                      around the value is removed
//
// A file is read whole when the object is made and written whole by UpdateFile(); lines the
// object does not understand (binary bytes, a "[" without "]", text without "=") are kept as
// they stand.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// A write the system refused. The text is "Unable to write to " followed by the file's path.
class EProfileWriteError : public std::runtime_error {
public:
    explicit EProfileWriteError(const std::string& path);
};

class TProfileFile {
public:
    // Longest string value handed back, in characters; a longer value is cut (never inside a
    // UTF-8 sequence).
    static constexpr std::size_t MaxStringLength = 2047;

    // Reads the file. A missing, unreadable or non-regular file reads as empty.
    explicit TProfileFile(std::string path);

    const std::string& Path() const { return m_path; }

    // The value of the first key of that name in the first section of that name that holds it,
    // or def when there is none.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // A decimal number, or hexadecimal after "0x"/"0X", with an optional sign, that fits 32 bits
    // (hexadecimal up to 8 digits, taken as the bits of a signed number); anything else gives def.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer whose default is 1 or 0; any value other than 0 is true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // Every key of a section (of every section of that name), as spelt in the file, with its value
    // as ReadString gives it; a key met twice is given once, its first value.
    std::vector<std::pair<std::string, std::string>> ReadSection(std::string_view section) const;

    // Replaces the value of the key in place, or appends the key at the end of its section, or
    // appends the section at the end of the file. Line breaks in the value become spaces, and a
    // value that reading would alter (outer spaces, outer quotes) is quoted so it reads back
    // exactly.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Writes the file: a temporary file beside it, flushed to disk and renamed over the old one,
    // so a failure never leaves a half-written file. A read-only file or folder (no write
    // permission bit) is refused like any other failure. Throws EProfileWriteError.
    void UpdateFile() const;

    // The file's text as UpdateFile() would write it.
    std::string Text() const;

private:
    struct Line {
        std::string text;   // as read, without the line break
        std::string key;    // lower-cased key name; empty for lines that are not keys
    };
    struct Section {
        std::string header;         // the "[...]" line as read; empty for the lines before any
        std::vector<Line> lines;
    };

    const Line* FindKey(std::string_view section, std::string_view key) const;
    Line* FindKey(std::string_view section, std::string_view key);
    void Parse(std::string_view text);
    void AddSection(std::string header, std::string_view name);

    std::string m_path;
    std::vector<Section> m_sections;  // [0]: the lines before the first section header
    std::unordered_map<std::string, std::vector<std::size_t>> m_sectionIndex;  // by lower-cased name
};
