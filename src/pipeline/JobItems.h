#pragma once
// What each item of a job is and which files it makes: the one place where a job's files are
// named. A rip's item is a track ("NNtitle" as the track list hands it over: two digits of its
// position, then its title); a file job's item is the path of its source.

#include "JobKind.h"
#include "OutputFormats.h"

#include <string>
#include <vector>

struct TJobItem {
    int Track = 0;          // a rip: the track's position in the list + 1; a file job: 0
    std::string Title;      // a rip: the title as typed (tags, captions); a file job: the source
    std::string Source;     // a file job: the file converted
    std::string Wav;        // a rip: the WAV the extraction writes (an encoded format's input)
    std::string Output;     // the file the item makes
    bool Nameable = true;   // a rip: whether the title gives a file name at all
};

// The item text of a track as the track list hands it to a job: "07" + title.
std::string TrackItemText(int track, const std::string& title);

// How a rip names its tracks' files: a template of fields and folders, and the disc's fields.
//   %title%  %artist%  %album%  %year%  %track% (two digits)     "/" between folders
// The default, "%title%", names each file after its title alone.
struct TNaming {
    std::string Template = "%title%";
    std::string Artist, Album, Year;
};

// Names the files of every item of a job writing into folder (with its trailing "/"): a rip's
// WAV and output from naming's template (NamedTrackPath), in format; a conversion's output from
// its source's name; the recorder's MP3 beside its WAV.
std::vector<TJobItem> NameJobItems(TJobKind kind, const std::vector<std::string>& items, const std::string& folder,
                                   const TOutputFormat& format, const TNaming& naming = TNaming{});

// The path below the output folder, without extension, that naming gives track (its position
// + 1) titled title: the template with each field filled in, a field's "/" and NUL written as
// "-" (TrackFileName), so that only the template's own "/" make folders. No artist or album is
// "Unknown Artist", "Unknown Album".
std::string NamedTrackPath(const TNaming& naming, int track, const std::string& title);

// Why template cannot name files ("" when it can): a field it does not know, a name that would
// be empty, "." or "..", or a path that starts at "/" and so leaves the output folder. Checked
// with every field filled in.
std::string NamingTemplateProblem(const std::string& tmpl);

// The file name (without extension) a track titled title is written under: the title with "/"
// and NUL, which no file name can hold, replaced by "-" ("AC/DC" -> "AC-DC", "../x" -> "..-x").
// The title itself stays as typed in the tags and the disc's information.
std::string TrackFileName(const std::string& title);

// Whether name can be the name of a file in the output folder: not empty, not "." or "..", no
// "/" or NUL, and short enough with the extension ext for the file system (255 bytes).
bool IsValidTrackFileName(const std::string& name, const std::string& ext);
