#include "DriveOffsets.h"

#include <algorithm>
#include <cctype>

namespace {

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Printable ASCII only: a name is shown on a terminal and stored as an INI key.
bool Printable(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '=' && c != '['; });
}

}  // namespace

std::string TDriveOffsetEntry::Name() const
{
    return DriveModelKey(Vendor, Model);
}

std::string DriveModelKey(std::string_view vendor, std::string_view product)
{
    vendor = Trimmed(vendor);
    product = Trimmed(product);
    return vendor.empty() ? "- " + std::string(product) : std::string(vendor) + " - " + std::string(product);
}

std::optional<std::vector<TDriveOffsetEntry>> ParseDriveOffsets(std::string_view bytes, std::string& why)
{
    std::vector<TDriveOffsetEntry> list;
    for (std::size_t at = 0; at + DriveOffsetRecordSize <= bytes.size(); at += DriveOffsetRecordSize) {
        const std::string_view record = bytes.substr(at, DriveOffsetRecordSize);
        const auto offset = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned char>(record[0]) |
                                                                       static_cast<unsigned char>(record[1]) << 8));
        std::string_view name = record.substr(2, 32);
        name = name.substr(0, name.find('\0'));
        if (!Printable(name) || offset < -MaxReadOffset || offset > MaxReadOffset)
            continue;
        TDriveOffsetEntry entry;
        entry.Offset = offset;
        entry.Submissions = static_cast<unsigned char>(record[35]);
        // "VENDOR - MODEL", or "- MODEL" where the vendor is empty.
        const std::size_t dash = name.find(" - ");
        if (Trimmed(name).substr(0, 2) == "- ") {
            entry.Model = std::string(Trimmed(Trimmed(name).substr(2)));
        } else if (dash != std::string_view::npos) {
            entry.Vendor = std::string(Trimmed(name.substr(0, dash)));
            entry.Model = std::string(Trimmed(name.substr(dash + 3)));
        } else {
            continue;
        }
        if (entry.Model.empty())
            continue;
        list.push_back(std::move(entry));
    }
    if (list.empty()) {
        why = bytes.size() < DriveOffsetRecordSize ? "it is too short to hold a drive (" + std::to_string(bytes.size()) + " bytes)"
                                                   : "it names no drive with a usable offset";
        return std::nullopt;
    }
    return list;
}

std::vector<TDriveOffsetEntry> EntriesForDrive(const std::vector<TDriveOffsetEntry>& list, std::string_view vendor,
                                               std::string_view product)
{
    vendor = Trimmed(vendor);
    product = Trimmed(product);
    std::vector<TDriveOffsetEntry> found;
    for (const TDriveOffsetEntry& e : list)
        if (SameText(e.Vendor, vendor) && SameText(e.Model, product))
            found.push_back(e);
    std::stable_sort(found.begin(), found.end(),
                     [](const TDriveOffsetEntry& a, const TDriveOffsetEntry& b) { return a.Submissions > b.Submissions; });
    return found;
}

std::string SignedSamples(int samples)
{
    return samples > 0 ? "+" + std::to_string(samples) : std::to_string(samples);
}

std::string TReadOffset::SourceText() const
{
    switch (Source) {
    case TOffsetSource::CommandLine:
        return "given with --offset";
    case TOffsetSource::Found:
        return "found on this drive";
    case TOffsetSource::Manual:
        return "set by hand";
    case TOffsetSource::Listed:
        return "from the AccurateRip drive list";
    case TOffsetSource::None:
        break;
    }
    return "none known";
}

std::string TReadOffset::Text() const
{
    return Source == TOffsetSource::None ? "0 (none known: 0)" : SignedSamples(Samples) + " (" + SourceText() + ")";
}

std::optional<TReadOffset> ParseStoredOffset(std::string_view value)
{
    value = Trimmed(value);
    const std::size_t space = value.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    std::string_view number = value.substr(0, space);
    const std::string_view word = Trimmed(value.substr(space));
    const bool negative = !number.empty() && number[0] == '-';
    if (!number.empty() && (number[0] == '+' || number[0] == '-'))
        number.remove_prefix(1);
    if (number.empty() || number.size() > 4 || !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int samples = std::stoi(std::string(number)) * (negative ? -1 : 1);
    if (samples < -MaxReadOffset || samples > MaxReadOffset)
        return std::nullopt;
    TReadOffset offset;
    offset.Samples = samples;
    if (SameText(word, "found"))
        offset.Source = TOffsetSource::Found;
    else if (SameText(word, "manual"))
        offset.Source = TOffsetSource::Manual;
    else if (SameText(word, "list"))
        offset.Source = TOffsetSource::Listed;
    else
        return std::nullopt;
    return offset;
}

std::string StoredOffsetText(const TReadOffset& offset)
{
    const char* word = offset.Source == TOffsetSource::Found ? "found" : offset.Source == TOffsetSource::Listed ? "list" : "manual";
    return SignedSamples(offset.Samples) + " " + word;
}

TReadOffset ChooseReadOffset(std::optional<int> commandLine, const std::map<std::string, std::string>& stored,
                             const std::string& driveKey, int readOffsetSetting,
                             const std::vector<TDriveOffsetEntry>& listed)
{
    if (commandLine)
        return {*commandLine, TOffsetSource::CommandLine};
    for (const auto& [key, value] : stored)
        if (SameText(Trimmed(key), Trimmed(driveKey)))
            if (const std::optional<TReadOffset> offset = ParseStoredOffset(value))
                return *offset;
    if (readOffsetSetting != 0)
        return {readOffsetSetting, TOffsetSource::Manual};
    if (!listed.empty())
        return {listed.front().Offset, TOffsetSource::Listed};
    return {0, TOffsetSource::None};
}
