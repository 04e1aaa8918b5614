#pragma once
// The tags of a ripped or converted file, through TagLib: Vorbis comments in FLAC, Ogg Vorbis and
// Opus files (TITLE, ARTIST, ALBUM, DATE, GENRE, TRACKNUMBER, TRACKTOTAL, COMMENT, ISRC,
// REPLAYGAIN_*), an ID3v2.4 tag (UTF-8) at the front of an MP3 file, each with the front cover
// when there is one. Every character of a title is kept; only the ID3v1 block that MP3 files
// also get (id3.h) is cut to its 30.

#include <optional>
#include <string>
#include <vector>

// A picture to embed as the front cover.
struct TCoverArt {
    std::string Path;
    std::string Mime;              // "image/jpeg", "image/png"
    std::vector<char> Bytes;
};

// What one file's tag says. Empty fields are left out.
struct TTrackTags {
    std::string Title, Artist, Album, Year, Genre, Comment, Isrc;
    int Track = 0;                 // 0: none
    int TrackTotal = 0;
    const TCoverArt* Cover = nullptr;
    // ReplayGain, as written: "-6.52 dB" and "0.988525"; empty: none.
    std::string TrackGain, TrackPeak, AlbumGain, AlbumPeak;
};

enum class TTagFamily {
    None,       // WAV; WMA (its author and description go to its encoder)
    Id3v2,      // MP3
    FlacXiph,   // FLAC's own Vorbis comment block and PICTURE blocks
    OggVorbis,
    OggOpus,
};

// Writes tags into path (replacing what the fields name); an empty string when done, else what
// went wrong, for the user.
std::string WriteTags(const std::string& path, TTagFamily family, const TTrackTags& tags);

// The fields an edit of an MP3 file's ID3v1 tag changed, as the user typed them (not cut to the
// 30 Latin-1 characters of ID3v1): absent fields are left as they are.
struct TId3Edit {
    std::optional<std::string> Title, Artist, Album, Year, Comment;
    std::optional<std::string> Genre;  // a genre's name; "" removes it
    std::optional<int> Track;          // 0 removes it
    bool Empty() const { return !Title && !Artist && !Album && !Year && !Comment && !Genre && !Track; }
};

// Where the MP3 file path has an ID3v2 tag (the one players read first), changes the fields edit
// names there too, so that a corrected title shows; a file without one is left alone. An empty
// string when done, else what went wrong, for the user.
std::string EditId3v2(const std::string& path, const TId3Edit& edit);

// The first picture of cover.jpg, folder.jpg, front.jpg, cover.png, folder.png, front.png in
// folder (a trailing "/" or not); nothing when there is none. A file of one of those names that is
// not a JPEG or PNG image is passed over, and *problem (when empty) says so.
std::optional<TCoverArt> FindCoverArt(const std::string& folder, std::string* problem);
