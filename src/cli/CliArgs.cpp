#include "CliArgs.h"

#include <algorithm>

TCliArgs ParseCliArgs(const std::vector<std::string>& args, const std::set<std::string>& valueOptions)
{
    TCliArgs result;
    bool optionsOver = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsOver || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            if (!optionsOver && a == "--") {
                optionsOver = true;
                continue;
            }
            if (!optionsOver && a.size() > 1 && a[0] == '-' && a != "-h") {
                result.Error = "unknown option " + a;
                return result;
            }
            if (a == "-h")
                result.Flags.insert("help");
            else if (result.Command.empty())
                result.Command = a;
            else
                result.Plain.push_back(a);
            continue;
        }
        const auto equals = a.find('=');
        const std::string name = a.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (valueOptions.count(name)) {
            if (equals != std::string::npos) {
                result.Values[name] = a.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                result.Values[name] = args[++i];
            } else {
                result.Error = "--" + name + " needs a value";
                return result;
            }
        } else if (equals != std::string::npos) {
            result.Error = "--" + name + " takes no value";
            return result;
        } else {
            result.Flags.insert(name);
        }
    }
    return result;
}

std::optional<int> ParseNumber(std::string_view text, int low, int high)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::vector<int>> ParseTrackList(std::string_view text)
{
    std::vector<int> tracks;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        const auto dash = part.find('-');
        const auto low = ParseNumber(part.substr(0, dash), 1, 99);
        const auto high = dash == std::string_view::npos ? low : ParseNumber(part.substr(dash + 1), 1, 99);
        if (!low || !high || *high < *low)
            return std::nullopt;
        for (int t = *low; t <= *high; ++t)
            if (std::find(tracks.begin(), tracks.end(), t) == tracks.end())
                tracks.push_back(t);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return tracks;
}

std::string TerminalText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += ' ';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
