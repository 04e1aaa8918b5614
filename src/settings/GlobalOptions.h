#pragma once
// All user settings in one record, Options, read from options.ini when the main window is made and
// written back when it closes; and the current disc's information, kept per disc in cdinfo.dat.
// Lives on the UI thread; the extraction and lookup threads only read it while a modal window
// keeps the UI from changing it.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TCommonOptions {
    std::string OutputFolder;     // receives WAV and encoded files
    int32_t OutputFormat = 0;     // the stored number of a row of the output-format table (MP3)
    bool IsKeepWav = false;       // keep the intermediate WAV after encoding
    bool IsNormalize = false;     // scale each extracted track
    int32_t NormalizePercent = 0; // the scale, in percent
    bool EnableRipTime = false;   // "Enable to set the length to extract" (kept, not acted on)
    int32_t RipTime = 0;          // seconds (kept, not acted on)
};

struct TMp3Options {
    bool IsSelectVBR = false;
    bool IsVBRHead = false;       // true: no VBR header frame
    int32_t BitRate = 0;          // kbit/s: constant rate, or the least rate with VBR
    int32_t MaxBitRate = 0;       // kbit/s, with VBR
    int32_t MpegQuality = 0;      // 0 default, 1 faster, 2 slower and better
    int32_t VBRQuality = 0;       // 0..9
    int32_t StereoMode = 0;       // 0 stereo, 1 joint, 2 forced joint, 3 dual channels, 4 mono
};

struct TOggOptions {
    bool IsUseCompress = false;   // quality setting instead of the bit-rate manager
    int32_t CompressPosition = 0; // quality slider, 30..100 after loading
    // Bit-rate choices: 0 lets the encoder choose; 1..14 are 45, 48, 56, 64, 80, 96, 112, 128,
    // 144, 160, 192, 224, 256, 320 kbit/s.
    int32_t MaxBitRate = 0;
    int32_t NomalBitRate = 0;
    int32_t MinBitRate = 0;
};

struct TWMAOptions {
    int32_t BitRate = 0;          // position in WMAProfiles; users reset a value outside 0..32 to 8
};

struct TFlacOptions {
    int32_t Level = 5;            // compression, 0 (fastest) .. 8 (smallest)
};

struct TOpusOptions {
    int32_t BitRate = 160;        // kbit/s, 6..256
};

struct TTagOptions {
    bool ReplayGain = false;      // track and album gain (EBU R128, -18 LUFS) in ripped files' tags
};

// How a rip names its files: fields in %...% ("%track%" two digits), "/" between folders.
struct TNamingOptions {
    std::string Template = "%title%";
    // Names that FAT and exFAT (phones, USB sticks) and other systems take too: without
    // " * : < > ? \ |. Control characters never reach a name, whatever this says.
    bool PortableNames = true;
};

// The MusicBrainz web service and the Cover Art Archive.
struct TMusicBrainzOptions {
    std::string Server = "https://musicbrainz.org";
    std::string CoverArtServer = "https://coverartarchive.org";
    bool FetchCover = true;       // a rip after a MusicBrainz lookup fetches the front cover
};

// How many items a job encodes at once, while the drive reads the next track.
constexpr int MaxEncoders = 16;
struct TJobOptions {
    int32_t Encoders = 1;         // 1..16; 0: one per processor. 1 alternates reading and encoding
    // The formats a rip also encodes each track to, beside OutputFormat, from the one read: their
    // keys, "opus,mp3"; empty: none.
    std::string Formats;
};

// The CUETools database, a second opinion beside AccurateRip.
inline constexpr const char* DefaultCtdbServer = "http://db.cuetools.net";
struct TCtdbOptions {
    std::string Server = DefaultCtdbServer;
    bool Use = true;
};

// The ripping station (sonvale-cli station).
struct TStationSettings {
    // A command run when a disc is done; its words' %log%, %folder%, %result%, %artist% and
    // %album% become the disc's ("notify-send 'Ripped' '%artist% - %album%: %result%'").
    std::string OnDisc;
};

struct TCDOptions {
    int32_t Index = 0;            // drive chosen in the options dialog, -1 none
    bool CDDb = false;            // "Get CD information from CD DB" (kept, not acted on)
};

struct TRecordOptions {
    bool SaveMp3 = false;         // the recorder also makes an MP3 copy
};

struct TQueryCDDB {
    std::string Server;           // host of the CDDB server
    std::string Script;           // path of its query script
    bool UseProxy = false;
    std::string ProxyAddress;
    std::string Port;             // proxy port, as text
};

constexpr int MaxTracks = 100;

struct TCDInfo {
    std::string Artist;
    std::string Album;
    std::string Year;
    int32_t Genre = 0;            // -1 not set, 0 none, k: entry k of GenreNames counted from 1
    std::string Comment;
    int32_t TrackNumber = 0;      // how many titles are meaningful
    std::array<std::string, MaxTracks + 1> Tracks;  // Tracks[n]: title of track n, 1..100; [0] unused
    std::string MusicBrainzRelease;  // the release a MusicBrainz lookup chose; written after the titles
};

// Secure ripping: each sector verified by repeated reads (libcdio-paranoia), the drive's read offset applied, each
// track checked against the AccurateRip database, and a log of the rip beside the tracks.
struct TSecureOptions {
    bool SecureMode = false;
    int32_t ReadOffset = 0;       // samples the drive reads late (positive) or early; -5880..5880
    bool RefuseDamaged = false;   // a track with an unreadable sector fails instead of being kept
    bool AccurateRip = true;
    bool WriteLog = true;
    std::string AccurateRipServer;  // base address of the database, "http://www.accuraterip.com"
    // Read each track once at full speed and keep it when AccurateRip confirms it (at least
    // MinConfidence), else read it again securely.
    bool BurstFirst = true;
    int32_t MinConfidence = 2;
    bool WriteCue = true;         // a cue sheet beside the log, when the whole disc is ripped
    bool RipHiddenTrack = true;   // audio before track 1 into "00 Hidden track.<ext>"
    // The whole disc (sector 0 to the lead-out) as one WAV or FLAC file with its cue sheet.
    bool Image = false;
};

// The AccurateRip database, by default.
inline constexpr const char* DefaultAccurateRipServer = "http://www.accuraterip.com";

struct TOptionsSetting {
    TCommonOptions CommonOptions;
    TMp3Options Mp3Options;
    TOggOptions OggOptions;
    TWMAOptions WMAOptions;
    TCDOptions CDOptions;
    TRecordOptions RecordOptions;
    TCDInfo CDInfo;
    TQueryCDDB QueryCDDB;
    bool UseID3 = false;          // ID3v1 tags in MP3 files, author and description in WMA files
    TSecureOptions SecureOptions; // written after the keys above
    // Written after every section above, in this order.
    TFlacOptions FlacOptions;
    TOpusOptions OpusOptions;
    TTagOptions Tags;
    TNamingOptions Naming;
    TMusicBrainzOptions MusicBrainz;
    TJobOptions JobOptions;
    TCtdbOptions Ctdb;
    TStationSettings Station;
    // [DriveOffsets]: each drive model's read offset and how it was known ("VENDOR - MODEL" ->
    // "+667 found", "+30 list", "+6 manual"; see DriveOffsets.h).
    std::map<std::string, std::string> DriveOffsets;
};

// The program's one settings record; empty until loaded.
extern TOptionsSetting Options;

// The host asked when no server is set: the public CDDB server.
inline constexpr const char* DefaultCDDBServer = "gnudb.gnudb.org";

// load true: fills Options from options.ini in the program's folder, missing or unreadable keys
// taking their defaults. load false: writes every setting into the file in one step, keeping the
// file's other lines. Throws EProfileWriteError ("Unable to write to <path>") when refused.
void LoadSaveOptions(bool load);
// What the last load of the options changed in them, one line each for the user ("options.ini:
// [OpusOptions] BitRate=-3 is out of range (6 to 256): 6 is used."): a value that is no number,
// or out of its range.
extern std::vector<std::string> OptionsLoadNotes;

// load true: fills Options.CDInfo from the section of cdinfo.dat named key (defaults when there is
// none). load false: writes Options.CDInfo there, when key is not empty. Throws
// EProfileWriteError when the file cannot be written.
void LoadSaveCDInfo(const std::string& key, bool load);

// Whether cdinfo.dat holds a section for key (the disc was named and saved before).
bool CDInfoStored(const std::string& key);

// The default title of track n: "Track" and n in two digits ("Track01", "Track12").
std::string DefaultTrackTitle(int n);
