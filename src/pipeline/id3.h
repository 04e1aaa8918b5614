#pragma once
// The ID3v1 tag: the 128-byte block at the very end of an MP3 file (https://id3.org/ID3v1).
//
//   offset  size  content
//        0     3  "TAG"
//        3    30  title        fields are ISO-8859-1, padded with bytes 0
//       33    30  artist
//       63    30  album
//       93     4  year
//       97    30  comment      or, in the ID3v1.1 form: 28 bytes of comment,
//      125                       a byte 0 and at 126 the track number (not 0)
//      127     1  genre code   255: no genre
//
// The object holds one tag, remembers the file it last read or wrote, and reports file
// operations as result codes, never by raising. Texts cross its edge as UTF-8: a character
// outside ISO-8859-1 is stored as '?', and no UTF-8 sequence is ever cut.

#include <cstdint>
#include <string>
#include <string_view>

// Results of ReadFromFile and SaveToFile: the high byte names a failure, the low byte carries a
// warning; below 256 is success.
enum : uint16_t {
    id3Success = 0,
    id3GenreWarning = 128,    // read: the genre code is above 147 and not 255
    id3NoFile = 256,          // the file does not exist or cannot be opened
    id3ReadOnly = 512,        // save: the file may not be written; nothing written
    id3ReadError = 768,
    id3WriteError = 1024,
    id3OtherIOError = 1280,
    id3NoTag = 4096,          // read: no tag (under 128 bytes, or no "TAG"); fields unchanged
};

class Tid3tag {
public:
    static constexpr std::size_t TagSize = 128;

    Tid3tag();

    // Each keeps the first 30 characters (the year 4) of the text given.
    void SetTitle(std::string_view utf8);
    void SetArtist(std::string_view utf8);
    void SetAlbum(std::string_view utf8);
    void SetYear(std::string_view utf8);
    void SetComment(std::string_view utf8);
    void SetTrack(uint8_t track);  // 0: none

    // The texts as UTF-8, up to the padding.
    std::string Title() const;
    std::string Artist() const;
    std::string Album() const;
    std::string Year() const;
    std::string Comment() const;
    uint8_t Track() const { return m_track; }

    uint8_t Genre = 255;  // ID3v1 genre code

    // The file last read from (tag or not) or last written to.
    const std::string& TagFileName() const { return m_tagFileName; }

    uint16_t ReadFromFile(const std::string& path);
    // "=" saves into TagFileName(). Overwrites the file's tag, or appends one.
    uint16_t SaveToFile(const std::string& path);
    // Cuts the tag off TagFileName() when it has one and may be written; reports nothing.
    void RemoveTag();

private:
    // ISO-8859-1 bytes, as in the block; after a save they hold the padding bytes 0 as well.
    std::string m_title, m_artist, m_album, m_year, m_comment;
    uint8_t m_track = 0;
    std::string m_tagFileName;
};

// Genre choice (0 empty, 1..148 a position in GenreNames) to ID3v1 code: 255 for 0 and 149..255.
// A choice of -1 is passed as 255.
uint8_t GenreToID3(uint8_t choice);
// ID3v1 code to genre choice: 0 (the empty entry) for codes 148..255.
uint8_t ID3ToGenre(uint8_t code);

// Whether the file may hold MPEG audio as an MP3 file does: an ID3v2 tag or a frame sync at its
// start, an ID3v1 tag at its end, or binary data a decoder may find frames in. An empty file, a
// text file, and a WAV, Ogg or FLAC file are not.
bool IsMp3File(const std::string& path);

// UTF-8 to ISO-8859-1, at most maxChars characters; other characters and broken sequences
// become '?'.
std::string Utf8ToLatin1(std::string_view utf8, std::size_t maxChars);
std::string Latin1ToUtf8(std::string_view latin1);
