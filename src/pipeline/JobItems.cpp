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

namespace {

// "07Intro": the track's two digits, then its title.
TJobItem TrackItem(const std::string& text, const std::string& folder, const TOutputFormat& format)
{
    TJobItem item;
    for (std::size_t i = 0; i < 2 && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        item.Track = item.Track * 10 + (text[i] - '0');
    item.Title = text.size() > 2 ? text.substr(2) : std::string();
    const std::string name = TrackFileName(item.Title);
    item.Nameable = IsValidTrackFileName(name, ".wav") && IsValidTrackFileName(name, std::string(format.Extension));
    item.Wav = folder + name + ".wav";
    item.Output = format.Encoded ? folder + name + std::string(format.Extension) : item.Wav;
    return item;
}

}  // namespace

std::vector<TJobItem> NameJobItems(TJobKind kind, const std::vector<std::string>& items, const std::string& folder,
                                   const TOutputFormat& format)
{
    std::vector<TJobItem> named;
    for (const std::string& text : items) {
        if (kind == jkRipTracks) {
            named.push_back(TrackItem(text, folder, format));
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
