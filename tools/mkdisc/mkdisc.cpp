// mkdisc: writes an audio disc image as a cue sheet and its BIN file, with music synthesised so
// that each track sounds different: a chord of its own, played as a short arpeggio, each note
// with an attack, decay, sustain and release.
//
//   mkdisc [--untitled N]... [--title TEXT]... [--hidden SECONDS] [--data SECONDS]
//          [--gap N SECONDS]... [--pre N]... [--isrc N CODE]... [--catalog CODE]
//          OUT.cue SECONDS [SECONDS...]
//
// One SECONDS per track (decimals allowed; rounded to whole sectors of 1/75 s). --title names the
// tracks in order in the cue sheet's CD-TEXT; --untitled N leaves track N without a title.
// --hidden puts audio of that length before track 1 (its pregap, INDEX 00 at the disc's start,
// as on discs with a hidden first track); --data adds a MODE1/2352 data track after the audio
// tracks, as on a mixed-mode disc. --gap puts a pregap (INDEX 00) of that length before track N
// (from 2 on), with audio of its own; --pre marks track N as pre-emphasised (FLAGS PRE); --isrc
// gives track N an ISRC, --catalog the disc its catalogue number (MCN). The same arguments always
// give the same bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int SectorFrames = 588;     // 2352 bytes of 16-bit stereo
constexpr double Pi = 3.14159265358979323846;

struct Note {
    double Hz;
    double Pan;  // 0 left .. 1 right
};

// Root of each track's chord, walking round the circle of fifths from C4.
double RootHz(int track)
{
    const int semitones[] = {0, 7, 2, 9, 4, 11, 6, 1, 8, 3, 10, 5};
    return 261.6256 * std::pow(2.0, semitones[track % 12] / 12.0);
}

std::vector<Note> Chord(int track)
{
    const double root = RootHz(track);
    const bool minor = track % 2 == 1;
    const double third = std::pow(2.0, (minor ? 3 : 4) / 12.0);
    const double fifth = std::pow(2.0, 7 / 12.0);
    return {{root / 2, 0.5}, {root, 0.3}, {root * third, 0.7}, {root * fifth, 0.4}, {root * 2, 0.6}};
}

double Envelope(double t, double length)
{
    const double attack = 0.02, decay = 0.15, sustain = 0.6, release = 0.25;
    if (t < 0 || t >= length)
        return 0;
    double level = t < attack ? t / attack : t < attack + decay ? 1 - (1 - sustain) * (t - attack) / decay : sustain;
    if (t > length - release)
        level *= (length - t) / release;
    return level;
}

// Track samples: the chord's notes enter one after another every beat, each held for four beats,
// the pattern repeating; a touch of the octave above gives the notes some colour.
std::vector<int16_t> Synthesise(int track, long frames)
{
    const std::vector<Note> chord = Chord(track);
    const double beat = 0.25 + 0.05 * (track % 3);
    const double noteLength = 4 * beat;
    std::vector<int16_t> samples(static_cast<std::size_t>(frames) * 2);
    for (long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / Rate;
        double left = 0, right = 0;
        const long beatNow = static_cast<long>(t / beat);
        for (long b = beatNow - 3; b <= beatNow; ++b) {
            if (b < 0)
                continue;
            const Note& note = chord[static_cast<std::size_t>(b) % chord.size()];
            const double local = t - b * beat;
            const double level = Envelope(local, noteLength);
            if (level == 0)
                continue;
            const double tone = std::sin(2 * Pi * note.Hz * local) + 0.3 * std::sin(4 * Pi * note.Hz * local);
            left += level * tone * (1 - note.Pan);
            right += level * tone * note.Pan;
        }
        // Fade the track in and out over 30 ms so tracks join without clicks.
        const double duration = static_cast<double>(frames) / Rate;
        const double edge = std::min({1.0, t / 0.03, (duration - t) / 0.03});
        samples[2 * i] = static_cast<int16_t>(std::lround(std::clamp(left * edge * 6000, -32767.0, 32767.0)));
        samples[2 * i + 1] = static_cast<int16_t>(std::lround(std::clamp(right * edge * 6000, -32767.0, 32767.0)));
    }
    return samples;
}

std::string Msf(long sectors)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: mkdisc [--untitled N]... [--title TEXT]... [--hidden SECONDS] [--data SECONDS]\n"
                         "              [--gap N SECONDS]... [--pre N]... [--isrc N CODE]... [--catalog CODE]\n"
                         "              OUT.cue SECONDS [SECONDS...]\n");
    std::exit(2);
}

// Whole sectors of 1/75 s; 0 for a text that is no length from 0 to 80 minutes.
long SectorsOf(const std::string& text, bool zeroAllowed)
{
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(seconds >= 0) || (!zeroAllowed && seconds == 0) || seconds > 4800)
        Usage();
    return seconds == 0 ? 0 : std::max(1L, std::lround(seconds * 75));
}

void WriteSamples(std::ofstream& bin, const std::vector<int16_t>& samples)
{
    for (const int16_t s : samples) {  // little-endian, as the cue sheet's BINARY says
        const auto u = static_cast<uint16_t>(s);
        const char bytes[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        bin.write(bytes, 2);
    }
}

// A mode 1 data sector as a drive reads it raw: sync pattern, address (BCD minute, second,
// frame, counting the 2-second lead-in), mode, then user data (here a fixed pattern; the error
// correction bytes are left 0, which no test reads).
void WriteDataSector(std::ofstream& bin, long lba)
{
    std::string sector(2352, '\0');
    for (int i = 1; i <= 10; ++i)
        sector[static_cast<std::size_t>(i)] = '\xFF';
    const long frames = lba + 150;
    const auto bcd = [](long v) { return static_cast<char>((v / 10) << 4 | v % 10); };
    sector[12] = bcd(frames / 4500);
    sector[13] = bcd(frames / 75 % 60);
    sector[14] = bcd(frames % 75);
    sector[15] = 1;
    for (std::size_t i = 16; i < 16 + 2048; ++i)
        sector[i] = static_cast<char>(i * 31 + lba);
    bin.write(sector.data(), static_cast<std::streamsize>(sector.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    std::set<int> untitled, pre;
    std::map<int, long> gaps;
    std::map<int, std::string> isrcs;
    std::string catalog;
    std::vector<std::string> titles;
    std::vector<std::string> rest;
    long hidden = 0, data = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--untitled" && i + 1 < argc)
            untitled.insert(std::atoi(argv[++i]));
        else if (arg == "--title" && i + 1 < argc)
            titles.push_back(argv[++i]);
        else if (arg == "--hidden" && i + 1 < argc)
            hidden = SectorsOf(argv[++i], true);
        else if (arg == "--data" && i + 1 < argc)
            data = SectorsOf(argv[++i], true);
        else if (arg == "--gap" && i + 2 < argc && std::atoi(argv[i + 1]) >= 2) {
            const int track = std::atoi(argv[++i]);
            gaps[track] = SectorsOf(argv[++i], true);
        } else if (arg == "--pre" && i + 1 < argc)
            pre.insert(std::atoi(argv[++i]));
        else if (arg == "--isrc" && i + 2 < argc) {
            const int track = std::atoi(argv[++i]);
            isrcs[track] = argv[++i];
        } else if (arg == "--catalog" && i + 1 < argc)
            catalog = argv[++i];
        else
            rest.push_back(arg);
    }
    if (rest.size() < 2 || rest[0].size() < 5 || rest[0].substr(rest[0].size() - 4) != ".cue")
        Usage();
    const std::string cuePath = rest[0];
    const std::string binPath = cuePath.substr(0, cuePath.size() - 4) + ".bin";
    std::vector<long> sectors;
    for (std::size_t i = 1; i < rest.size(); ++i)
        sectors.push_back(SectorsOf(rest[i], false));
    if (sectors.size() + (data > 0 ? 1 : 0) > 99)
        Usage();

    std::ofstream bin(binPath, std::ios::binary | std::ios::trunc);
    std::string cue = catalog.empty() ? std::string() : "CATALOG " + catalog + "\n";
    cue += "PERFORMER \"Sonvale Sample Band\"\nTITLE \"Sonvale Sample Disc\"\n";
    cue += "FILE \"" + BaseName(binPath) + "\" BINARY\n";
    long at = 0;
    for (std::size_t t = 0; t < sectors.size(); ++t) {
        const int number = static_cast<int>(t) + 1;
        char line[32];
        std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n", number);
        cue += line;
        if (!untitled.contains(number) && t < titles.size())
            cue += "    TITLE \"" + titles[t] + "\"\n";
        if (pre.contains(number))
            cue += "    FLAGS PRE\n";
        if (isrcs.contains(number))
            cue += "    ISRC " + isrcs[number] + "\n";
        if (gaps.contains(number) && gaps[number] > 0) {
            cue += "    INDEX 00 " + Msf(at) + "\n";
            WriteSamples(bin, Synthesise(12 + number, gaps[number] * SectorFrames));
            at += gaps[number];
        }
        if (t == 0 && hidden > 0) {
            cue += "    INDEX 00 " + Msf(0) + "\n";
            WriteSamples(bin, Synthesise(11, hidden * SectorFrames));
            at = hidden;
        }
        cue += "    INDEX 01 " + Msf(at) + "\n";
        WriteSamples(bin, Synthesise(static_cast<int>(t), sectors[t] * SectorFrames));
        at += sectors[t];
    }
    if (data > 0) {
        char line[32];
        std::snprintf(line, sizeof line, "  TRACK %02zu MODE1/2352\n", sectors.size() + 1);
        cue += line;
        cue += "    INDEX 01 " + Msf(at) + "\n";
        for (long s = 0; s < data; ++s)
            WriteDataSector(bin, at + s);
    }
    bin.close();
    std::ofstream cueFile(cuePath, std::ios::trunc);
    cueFile << cue;
    cueFile.close();
    if (!bin || !cueFile) {
        std::fprintf(stderr, "mkdisc: cannot write %s\n", cuePath.c_str());
        return 1;
    }
    return 0;
}
