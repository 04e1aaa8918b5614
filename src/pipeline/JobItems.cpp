#include "JobItems.h"

#include "FileSystem.h"
#include "GlobalRoutines.h"

std::string TrackItemText(int track, const std::string& title)
{
    return TwoDigits(track) + title;
}

std::string TrackFileName(const std::string& title)
{
    std::string name = title;
    for (char& c : name)
        if (c == '/' || c == '\0')
            c = '-';
    return name;
}

bool IsValidTrackFileName(const std::string& name, const std::string& ext)
{
    constexpr std::size_t MaxNameBytes = 255;  // NAME_MAX of Linux file systems
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() + ext.size() <= MaxNameBytes;
}

std::string NamedTrackPath(const TNaming& naming, int track, const std::string& title)
{
    std::string path;
    const std::string& t = naming.Template;
    for (std::size_t i = 0; i < t.size();) {
        const std::size_t end = t[i] == '%' ? t.find('%', i + 1) : std::string::npos;
        const std::string field = end == std::string::npos ? std::string() : t.substr(i + 1, end - i - 1);
        // A disc with no artist or album still gets folders with names.
        static const std::string unknownArtist = "Unknown Artist", unknownAlbum = "Unknown Album";
        const std::string* value = field == "title"    ? &title
                                   : field == "artist" ? (naming.Artist.empty() ? &unknownArtist : &naming.Artist)
                                   : field == "album"  ? (naming.Album.empty() ? &unknownAlbum : &naming.Album)
                                   : field == "year"   ? &naming.Year
                                                       : nullptr;
        if (value) {
            path += TrackFileName(*value);
            i = end + 1;
        } else if (field == "track") {
            path += TwoDigits(track);
            i = end + 1;
        } else {
            path += t[i];
            i += 1;
        }
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
        if (field != "title" && field != "artist" && field != "album" && field != "year" && field != "track")
            return "The file name template \"" + tmpl + "\" names no field %" + field +
                   "% (%title%, %artist%, %album%, %year% and %track% are known).";
        i = tmpl.find('%', end + 1);
    }
    if (!tmpl.empty() && tmpl.front() == '/')
        return "The file name template \"" + tmpl + "\" starts at \"/\": files must stay in the output folder.";
    const TNaming sample{tmpl, "Artist", "Album", "2004"};
    const std::string path = NamedTrackPath(sample, 1, "Title");
    std::size_t start = 0;
    do {
        const std::size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return "The file name template \"" + tmpl + "\" gives a file or folder name \"" + part +
                   "\": every name between \"/\" must hold something, and \"..\" would leave the output folder.";
        start = slash == std::string::npos ? std::string::npos : slash + 1;
    } while (start != std::string::npos);
    return {};
}

namespace {

// "07Intro": the track's two digits, then its title.
TJobItem TrackItem(const std::string& text, const std::string& folder, const TOutputFormat& format, const TNaming& naming)
{
    TJobItem item;
    for (std::size_t i = 0; i < 2 && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        item.Track = item.Track * 10 + (text[i] - '0');
    item.Title = text.size() > 2 ? text.substr(2) : std::string();
    const std::string path = NamedTrackPath(naming, item.Track, item.Title);
    // Every folder of the path must be a name; the file's own name also with its extension.
    const std::size_t last = path.rfind('/');
    const std::string name = last == std::string::npos ? path : path.substr(last + 1);
    item.Nameable = IsValidTrackFileName(name, ".wav") && IsValidTrackFileName(name, std::string(format.Extension));
    for (std::size_t start = 0; item.Nameable && last != std::string::npos && start <= last;) {
        const std::size_t slash = path.find('/', start);
        item.Nameable = IsValidTrackFileName(path.substr(start, slash - start), "");
        start = slash + 1;
    }
    item.Wav = folder + path + ".wav";
    item.Output = format.Encoded ? folder + path + std::string(format.Extension) : item.Wav;
    return item;
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
    return named;
}
