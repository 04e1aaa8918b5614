#include "akrip32CddbParse.h"

#include <cstdio>

namespace {

int32_t Frames(const TTOCTrack& entry)
{
    return entry.Addr[1] * 4500 + entry.Addr[2] * 75 + entry.Addr[3];
}

int TrackCount(const TTOC& toc)
{
    return toc.LastTrack - toc.FirstTrack + 1;
}

// The lines of text, without their line breaks (CR LF or LF).
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

int ReplyCode(std::string_view line)
{
    if (line.size() < 3)
        return 0;
    int code = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        code = code * 10 + (line[i] - '0');
    }
    return line.size() == 3 || line[3] == ' ' || line[3] == '-' ? code : 0;
}

// "category discid title...": the first two words and the rest.
bool ParseMatch(std::string_view line, TCddbMatch& match)
{
    const auto a = line.find(' ');
    if (a == std::string_view::npos)
        return false;
    const auto b = line.find(' ', a + 1);
    match.Category = std::string(line.substr(0, a));
    match.DiscId = std::string(line.substr(a + 1, b == std::string_view::npos ? std::string_view::npos : b - a - 1));
    match.Title = b == std::string_view::npos ? std::string() : CleanNetworkText(line.substr(b + 1));
    return !match.Category.empty() && !match.DiscId.empty();
}

}  // namespace

std::string CddbQueryCommand(const TTOC& toc)
{
    const int count = TrackCount(toc);
    char id[16];
    std::snprintf(id, sizeof id, "%08x", CddbDiscId(toc));
    std::string command = "cddb+query+" + std::string(id) + "+" + std::to_string(count);
    for (int r = 0; r < count; ++r)
        command += "+" + std::to_string(Frames(toc.Tracks[r]));
    command += "+" + std::to_string(Frames(toc.Tracks[count]) / 75);
    return command;
}

TCddbQueryReply ParseCddbQueryReply(std::string_view reply, std::size_t max)
{
    TCddbQueryReply result;
    const std::vector<std::string_view> lines = Lines(reply);
    if (lines.empty())
        return result;
    result.Code = ReplyCode(lines[0]);
    if (result.Code == 200) {
        TCddbMatch match;
        if (ParseMatch(lines[0].substr(std::min<std::size_t>(4, lines[0].size())), match) && max > 0) {
            match.Exact = true;
            result.Matches.push_back(std::move(match));
        }
    } else if (result.Code == 210 || result.Code == 211) {
        for (std::size_t i = 1; i < lines.size() && lines[i] != "."; ++i) {
            TCddbMatch match;
            if (result.Matches.size() < max && ParseMatch(lines[i], match)) {
                match.Exact = result.Code == 210;
                result.Matches.push_back(std::move(match));
            }
        }
    }
    return result;
}

bool ParseCddbReadReply(std::string_view reply, std::string& entry)
{
    entry.clear();
    const std::vector<std::string_view> lines = Lines(reply);
    if (lines.empty() || ReplyCode(lines[0]) != 210)
        return false;
    for (std::size_t i = 1; i < lines.size() && lines[i] != "."; ++i) {
        entry.append(lines[i]);
        entry += '\n';
    }
    return true;
}

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    // Back off continuation bytes, then the lead byte whose sequence would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string CleanNetworkText(std::string_view text)
{
    static constexpr const char* Replacement = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        // The length of a well-formed sequence (RFC 3629: no overlong forms, no surrogates,
        // nothing above U+10FFFF), or 0.
        std::size_t len = 0;
        uint32_t min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            min = 0x10000;
        }
        bool ok = len > 0 && i + len <= text.size();
        uint32_t cp = ok ? c & (0xFF >> (len + 1)) : 0;
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            ok = (cc & 0xC0) == 0x80;
            cp = cp << 6 | (cc & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (ok) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out += Replacement;
            ++i;
        }
    }
    return out;
}
