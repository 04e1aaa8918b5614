#include "JobItems.h"

#include "FileSystem.h"
#include "GlobalRoutines.h"

#include <algorithm>
#include <optional>
#include <string_view>

std::string TrackItemText(int track, const std::string& title)
{
    return TwoDigits(track) + title;
}

std::string TrackFileName(const std::string& text, bool portable)
{
    constexpr std::string_view FatRefuses = "*:<>?\\|";
    std::string name;
    bool putSpace = false;  // the last character is a space put in for a character refused
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\0') {
            name += '-';
            putSpace = false;
        } else if (c == '"') {  // a cue sheet's FILE line cannot hold it
            name += '\'';
            putSpace = false;
        } else if (u < 0x20 || u == 0x7F || (portable && FatRefuses.find(c) != std::string_view::npos)) {
            if (name.empty() || name.back() != ' ')
                name += ' ';
            putSpace = true;
        } else if (c == ' ' && putSpace) {
            // merged with the space put in
        } else {
            name += c;
            putSpace = false;
        }
    }
    return name;
}

std::string FitName(std::string name, std::size_t bytes)
{
    if (name.size() > bytes) {
        std::size_t cut = bytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 character
        name.resize(cut);
    }
    const std::size_t first = name.find_first_not_of(" .");
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(" .") - first + 1);
}

namespace {

// What an empty field takes along with it.
constexpr std::string_view Separators = " -_.,;:~";

bool IsSeparator(char c)
{
    return Separators.find(c) != std::string_view::npos;
}

// The names of a template between its "/" ("%artist%/%album%/%title%": three).
std::vector<std::string_view> TemplateNames(std::string_view tmpl)
{
    std::vector<std::string_view> names;
    for (std::size_t start = 0;;) {
        const std::size_t slash = tmpl.find('/', start);
        names.push_back(tmpl.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return names;
        start = slash + 1;
    }
}

// One name of a template (between two "/") with its fields filled in; empty fields take their
// separators (and a bracket pair around them) along. No trimming or cutting yet.
std::string FillName(std::string_view part, const TNaming& naming, int track, const std::string& title)
{
    // A field's value; nothing for text between "%" that names no field.
    const auto valueOf = [&](std::string_view field) -> std::optional<std::string> {
        const auto clean = [&](const std::string& v) {
            return FitName(TrackFileName(v, naming.Portable), std::string::npos);
        };
        // A disc with no artist or album still gets folders with names.
        const auto orUnknown = [](std::string v, const char* unknown) { return v.empty() ? std::string(unknown) : v; };
        if (field == "title")
            return clean(title);
        if (field == "artist")
            return orUnknown(clean(naming.Artist), "Unknown Artist");
        if (field == "album")
            return orUnknown(clean(naming.Album), "Unknown Album");
        if (field == "year")
            return clean(naming.Year);
        if (field == "track")
            return TwoDigits(track);
        if (field == "format")
            return naming.Format;
        return std::nullopt;
    };
    std::string name;
    bool dropLeading = false;   // the literal after an empty field loses its leading separators
    bool endsEmpty = false;     // nothing has followed the last empty field
    char closing = 0;           // ... and its closing bracket, when one opened just before it
    for (std::size_t i = 0; i < part.size();) {
        const std::size_t end = part[i] == '%' ? part.find('%', i + 1) : std::string_view::npos;
        const std::optional<std::string> value =
            end == std::string_view::npos ? std::nullopt : valueOf(part.substr(i + 1, end - i - 1));
        if (value && value->empty()) {
            // "(%year%)": the bracket goes with it.
            std::size_t back = name.find_last_not_of(' ');
            const char open = back == std::string::npos ? 0 : name[back];
            closing = open == '(' ? ')' : open == '[' ? ']' : open == '{' ? '}' : 0;
            if (closing)
                name.erase(back);
            dropLeading = true;
            endsEmpty = true;
            i = end + 1;
            continue;
        }
        if (value) {
            name += *value;
            i = end + 1;
        } else {
            char c = part[i];
            i += 1;
            if (closing && c == closing) {
                closing = 0;
                continue;
            }
            if (dropLeading && IsSeparator(c) && (name.empty() || IsSeparator(name.back())))
                continue;
            name += c;
        }
        dropLeading = false;
        endsEmpty = false;
        closing = 0;
    }
    if (endsEmpty)
        while (!name.empty() && IsSeparator(name.back()))
            name.pop_back();
    // The template's own text follows the same rules as the fields'.
    return TrackFileName(name, naming.Portable);
}

}  // namespace

std::string NamedTrackPath(const TNaming& naming, int track, const std::string& title, std::size_t reserve)
{
    const std::vector<std::string_view> parts = TemplateNames(naming.Template);
    std::string path;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool file = i + 1 == parts.size();
        std::string name = FitName(FillName(parts[i], naming, track, title), MaxNameBytes - (file ? reserve : 0));
        if (name.empty() && !file)
            continue;  // an empty field's folder level is left out
        if (name.empty())
            name = "Track " + TwoDigits(track);
        path += (path.empty() ? "" : "/") + name;
    }
    return path;
}

std::string NamingTemplateProblem(const std::string& tmpl)
{
    for (std::size_t i = tmpl.find('%'); i != std::string::npos;) {
        const std::size_t end = tmpl.find('%', i + 1);
        if (end == std::string::npos)
            return "The file name template \"" + tmpl + "\" has a % without its field.";
        const std::string field = tmpl.substr(i + 1, end - i - 1);
        if (field != "title" && field != "artist" && field != "album" && field != "year" && field != "track" &&
            field != "format")
            return "The file name template \"" + tmpl + "\" names no field %" + field +
                   "% (%title%, %artist%, %album%, %year%, %track% and %format% are known).";
        i = tmpl.find('%', end + 1);
    }
    if (!tmpl.empty() && tmpl.front() == '/')
        return "The file name template \"" + tmpl + "\" starts at \"/\": files must stay in the output folder.";
    // Each name between "/" of the template as typed, with every field filled in.
    const TNaming sample{tmpl, "Artist", "Album", "2004", false, "flac"};
    for (const std::string_view part : TemplateNames(tmpl)) {
        const std::string filled = FillName(part, sample, 1, "Title");
        if (filled.empty() || filled == "." || filled == "..")
            return "The file name template \"" + tmpl + "\" gives a file or folder name \"" + filled +
                   "\": every name between \"/\" must hold something, and \"..\" would leave the output folder.";
    }
    return {};
}

namespace {

// The bytes a track's name leaves for its longer extension: its WAV's or its output's (".flac").
std::size_t ExtensionReserve(const TOutputFormat& format)
{
    return std::max<std::size_t>(4, format.Extension.size());
}

// "07Intro": the track's two digits, then its title.
TJobItem TrackItem(const std::string& text, const std::string& folder, const TOutputFormat& format, const TNaming& naming)
{
    TJobItem item;
    for (std::size_t i = 0; i < 2 && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        item.Track = item.Track * 10 + (text[i] - '0');
    item.Title = text.size() > 2 ? text.substr(2) : std::string();
    const std::string path = NamedTrackPath(naming, item.Track, item.Title, ExtensionReserve(format));
    item.Wav = folder + path + ".wav";
    item.Output = format.Encoded ? folder + path + std::string(format.Extension) : item.Wav;
    return item;
}

// A second file of the same name gets " (2)" (cut to fit), a third " (3)"...
void KeepApart(std::vector<TJobItem>& items, const TOutputFormat& format)
{
    const std::size_t reserve = ExtensionReserve(format);
    std::vector<std::string> taken;
    for (TJobItem& item : items) {
        const std::string stem = item.Wav.substr(0, item.Wav.size() - 4);
        std::string unique = stem;
        for (int n = 2; std::find(taken.begin(), taken.end(), unique) != taken.end(); ++n) {
            const std::string suffix = " (" + std::to_string(n) + ")";
            const std::size_t slash = stem.rfind('/');
            const std::string dir = stem.substr(0, slash + 1);
            unique = dir + FitName(stem.substr(slash + 1), MaxNameBytes - reserve - suffix.size()) + suffix;
        }
        taken.push_back(unique);
        if (unique != stem) {
            item.Wav = unique + ".wav";
            item.Output = format.Encoded ? unique + std::string(format.Extension) : item.Wav;
        }
    }
}

}  // namespace

std::vector<TJobItem> NameJobItems(TJobKind kind, const std::vector<std::string>& items, const std::string& folder,
                                   const TOutputFormat& format, const TNaming& naming)
{
    std::vector<TJobItem> named;
    for (const std::string& text : items) {
        if (kind == jkRipTracks) {
            named.push_back(TrackItem(text, folder, format, naming));
            continue;
        }
        TJobItem item;
        item.Title = item.Source = text;
        if (const TFileJob* job = FileJobOf(kind)) {
            const std::string_view extension = FormatOfKey(job->Format)->Extension;
            item.Output = job->Beside ? WithExtension(text, std::string(extension)) : folder + WithExtension(FileNameOf(text), std::string(extension));
        }
        named.push_back(std::move(item));
    }
    if (kind == jkRipTracks)
        KeepApart(named, format);
    return named;
}
