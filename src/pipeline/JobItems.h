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
    // A rip to several formats: the item whose extraction this one's encoding reads (the track's
    // item in the first format), and this one's format (a stored number); -1: its own, the job's.
    int Shares = -1;
    int32_t Format = -1;
    std::string Title;      // a rip: the title as typed (tags, captions); a file job: the source
    std::string Source;     // a file job: the file converted
    std::string Wav;        // a rip: the WAV the extraction writes (an encoded format's input)
    std::string Output;     // the file the item makes
    // The names the job writes them under until they are whole (and tagged): hidden, beside
    // them, this process's own. Set by the job.
    std::string WavPart, OutputPart;
};

// The item text of a track as the track list hands it to a job: "07" + title.
std::string TrackItemText(int track, const std::string& title);

// How a rip names its tracks' files: a template of fields and folders, and the disc's fields.
//   %title%  %artist%  %album%  %year%  %track% (two digits)  %format% ("flac")   "/" between folders
// The default, "%title%", names each file after its title alone.
struct TNaming {
    std::string Template = "%title%";
    std::string Artist, Album, Year;
    bool Portable = true;  // names without the characters FAT and exFAT refuse
    std::string Format{};  // the output format's key, for %format%
};

// A file or folder name holds at most this many bytes (NAME_MAX of Linux file systems).
constexpr std::size_t MaxNameBytes = 255;

// Names the files of every item of a job writing into folder (with its trailing "/"): a rip's
// WAV and output from naming's template (NamedTrackPath), in format; a conversion's output from
// its source's name; the recorder's MP3 beside its WAV. Two tracks whose names come out the same
// (two empty titles, two long ones cut to the same bytes) stay apart: the later gets " (2)".
std::vector<TJobItem> NameJobItems(TJobKind kind, const std::vector<std::string>& items, const std::string& folder,
                                   const TOutputFormat& format, const TNaming& naming = TNaming{});

// The path below the output folder, without extension, that naming gives track (its position
// + 1) titled title. Each name between the template's "/" is made a name any file system takes:
//  - a field's "/" is written "-" (TrackFileName), so that only the template's own "/" make folders;
//  - an empty field takes the separators beside it along ("%artist% - %year% - %album%" with no
//    year: "A - B"; "%album% (%year%)": "B"); a folder that comes out empty is left out
//    ("%year%/%title%" with no year: the title alone); no artist or album is "Unknown Artist",
//    "Unknown Album"; a file name that comes out empty is "Track 07";
//  - spaces and dots at a name's ends go (".." is no name);
//  - a name is cut to MaxNameBytes, the file's own to MaxNameBytes - reserve (its extension),
//    never inside a UTF-8 character.
std::string NamedTrackPath(const TNaming& naming, int track, const std::string& title, std::size_t reserve = 0);

// Why template cannot name files ("" when it can): a field it does not know, a name that would
// be empty or ".." with every field filled in, or a path that starts at "/" and so leaves the
// output folder. The settings refuse such a template when they load.
std::string NamingTemplateProblem(const std::string& tmpl);

// text as part of a file name: "/" and NUL, which no file name can hold, written "-" ("AC/DC"
// -> "AC-DC"); '"', which a cue sheet's FILE line cannot name, written "'"; control characters
// (a title's tab or line break) a space; with portable also * : < > ? \ | (which FAT, exFAT and
// Windows refuse) a space. A space put in merges with the spaces beside it ("Live: 1999" ->
// "Live 1999"). Ends are not trimmed. The title itself stays as typed in the tags and the disc's
// information.
std::string TrackFileName(const std::string& text, bool portable = true);

// name cut to at most bytes bytes, never inside a UTF-8 character, then spaces and dots at its
// ends trimmed.
std::string FitName(std::string name, std::size_t bytes);
