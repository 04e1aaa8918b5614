#pragma once
// A drive's read offset: the AccurateRip drive list (DriveOffsets.bin) read, a drive model looked
// up in it, and the offset a secure rip uses with where it comes from.
//
// An offset of N samples means the drive delivers each sample N positions early: a rip reads N
// samples later than the table of contents says (+667: 667 samples, 2668 bytes, later).
//
// DriveOffsets.bin is records of 69 bytes: bytes 0-1 the offset (signed 16-bit, little-endian),
// bytes 2-33 the drive's name "VENDOR - MODEL" ("- MODEL" without a vendor), NUL-padded, byte 35
// the number of submissions; the other bytes are not used.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TDriveOffsetEntry {
    int Offset = 0;
    std::string Vendor, Model;  // trimmed; Vendor may be empty
    int Submissions = 0;
    // "VENDOR - MODEL", or "- MODEL" without a vendor.
    std::string Name() const;
};

inline constexpr std::size_t DriveOffsetRecordSize = 69;
inline constexpr int MaxReadOffset = 5880;  // ten sectors either way is more than any drive's

// The list's entries. A record that names no model or gives an offset beyond ten sectors is left
// out; a last record cut short is left out. Nothing (and why, for the user) when no record is
// usable: an empty file, one that is no drive list.
std::optional<std::vector<TDriveOffsetEntry>> ParseDriveOffsets(std::string_view bytes, std::string& why);

// The key a drive model has in [DriveOffsets] and in the list: the INQUIRY vendor and product,
// trimmed, as "VENDOR - MODEL" ("- MODEL" without a vendor).
std::string DriveModelKey(std::string_view vendor, std::string_view product);

// The entries of the list for a drive (vendor and model matched without regard to case, trimmed),
// the one with the most submissions first; empty when the list does not know the model.
std::vector<TDriveOffsetEntry> EntriesForDrive(const std::vector<TDriveOffsetEntry>& list, std::string_view vendor,
                                               std::string_view product);

// Where the offset a secure rip uses comes from, in order of precedence.
enum class TOffsetSource {
    CommandLine,  // --offset N
    Found,        // [DriveOffsets] "... found": offset find on this drive
    Manual,       // [DriveOffsets] "... manual", or [SecureOptions] ReadOffset (set before per-drive offsets)
    Listed,       // [DriveOffsets] "... list", or the AccurateRip drive list's entry
    None,         // nothing known: 0
};

struct TReadOffset {
    int Samples = 0;
    TOffsetSource Source = TOffsetSource::None;
    // "+667 (found on this drive)", "0 (none known)", as the log's offset line says it.
    std::string Text() const;
    // "found on this drive", "from the AccurateRip drive list", "set by hand", ...
    std::string SourceText() const;
};

// A [DriveOffsets] value: "+667 found", "+30 list", "-6 manual". Nothing for any other text.
std::optional<TReadOffset> ParseStoredOffset(std::string_view value);
// The value stored for an offset: "+667 found".
std::string StoredOffsetText(const TReadOffset& offset);
// "+667", "0", "-1164".
std::string SignedSamples(int samples);

// The offset a secure rip of the drive (its [DriveOffsets] key) uses: the command line's, else
// the drive's stored entry, else ReadOffset when it is not 0 (a value set by hand before drives
// had entries of their own), else the list's entry for the model, else 0.
TReadOffset ChooseReadOffset(std::optional<int> commandLine, const std::map<std::string, std::string>& stored,
                             const std::string& driveKey, int readOffsetSetting,
                             const std::vector<TDriveOffsetEntry>& listed);
