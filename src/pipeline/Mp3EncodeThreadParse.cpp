#include "Mp3EncodeThreadParse.h"

#include "GlobalRoutines.h"

#include <charconv>
#include <cmath>

namespace {

bool Blank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// count characters from the 1-based column, as far as the line goes.
std::string_view Columns(std::string_view line, int32_t from, int32_t count)
{
    if (from < 1 || static_cast<std::size_t>(from) > line.size())
        return {};
    return line.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(count));
}

// A decimal integer, or fallback when the text is none.
int32_t Number(std::string_view text, int32_t fallback)
{
    const std::string t = TrimOutput(text);
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
        return fallback;
    return value;
}

// A time column of the encoder's line. Besides spaces, the column separators "/" and "|" that the
// eight-character window catches from lame 3.100's layout are dropped ("0:03/" -> "0:03").
std::string TimeColumn(std::string_view line, int32_t from)
{
    std::string t = TrimOutput(Columns(line, from, 8));
    while (!t.empty() && (t.back() == '/' || t.back() == '|'))
        t.pop_back();
    while (!t.empty() && (t.front() == '/' || t.front() == '|'))
        t.erase(t.begin());
    return TrimOutput(t);
}

}  // namespace

std::string TrimOutput(std::string_view text)
{
    while (!text.empty() && Blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && Blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::vector<std::string> SplitOutputLines(std::string_view chunk)
{
    std::vector<std::string> lines;
    std::string current;
    const auto flush = [&] {
        if (!TrimOutput(current).empty())
            lines.push_back(current);
        current.clear();
    };
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        if (c == '\r') {
            flush();
            if (i + 1 < chunk.size() && chunk[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return lines;
}

std::vector<TProgressReport> ParseEncodeOutput(std::string_view chunk, int32_t& progressColumn)
{
    std::vector<TProgressReport> reports;
    for (const std::string& line : SplitOutputLines(chunk)) {
        const auto percentSign = line.find('%');
        if (percentSign == std::string::npos)
            continue;
        if (progressColumn == 0)
            progressColumn = static_cast<int32_t>(percentSign + 1) - 3;
        if (progressColumn == 0)
            continue;
        std::string s = TrimOutput(Columns(line, progressColumn, 3));
        if (!s.empty() && s.front() == '(')
            s.erase(s.begin());
        const int32_t percent = Number(s, 0);
        if (percent >= 1 && percent <= 100)
            reports.push_back({percent, TimeColumn(line, 21), TimeColumn(line, 30)});
    }
    return reports;
}

std::vector<TProgressReport> ParseDecodeOutput(std::string_view chunk, int32_t& progressColumn, double elapsedSeconds)
{
    std::vector<TProgressReport> reports;
    for (const std::string& line : SplitOutputLines(chunk)) {
        if (progressColumn == 0) {
            const auto hash = line.find('#');
            if (hash == std::string::npos)
                continue;
            progressColumn = static_cast<int32_t>(hash + 1) + 1;
        }
        const int32_t frame = Number(Columns(line, progressColumn, 6), -1);
        const int32_t total = Number(Columns(line, progressColumn + 7, 6), -1);
        if (frame == -1 || total == -1 || total == 0)
            continue;
        const auto e = static_cast<int64_t>(std::nearbyint(elapsedSeconds));
        const int32_t percent = static_cast<int32_t>(int64_t{frame} * 100 / total);
        TProgressReport r{percent, {}, {}};
        if (percent != 0) {
            r.ElapsedText = TimeText(e);
            r.EstimatedText = TimeText(static_cast<int64_t>(std::nearbyint(e * 100.0 / percent)));
        }
        if (percent >= 1 && percent <= 100)
            reports.push_back(r);
    }
    return reports;
}

TWmaOutput ParseWMAOutput(std::string_view chunk, double elapsedSeconds)
{
    TWmaOutput result;
    for (const std::string& line : SplitOutputLines(chunk)) {
        if (line.find("ERROR") != std::string::npos) {
            result.ErrorLine = true;
            result.Line = line;
            break;
        }
        if (line.find("100%") != std::string::npos) {
            int64_t e = static_cast<int64_t>(std::nearbyint(elapsedSeconds));
            if (e == 0)
                e = 1;
            result.Reports.push_back({100, TimeText(e), TimeText(e)});
        }
    }
    return result;
}
