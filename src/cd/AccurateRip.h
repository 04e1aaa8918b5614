#pragma once
// Proof that a rip is right: the CRC32 of each track's audio and its AccurateRip checksums,
// computed while the track is written; the AccurateRip disc IDs and the database entry's path
// from the table of contents; the entry parsed and each track judged against it.
//
// AccurateRip counts a track's audio as stereo samples, each the 4 bytes of a frame read as one
// little-endian 32-bit word (left in the low half). Sample i (from 1) contributes i * sample:
//   v1: the low 32 bits of each product, summed modulo 2^32;
//   v2: each 64-bit product's low and high halves, all summed modulo 2^32.
// The disc's first track leaves out its first 5 sectors less one sample: sample i counts from
// i = 2940 on (5 * 588 = 2940, so samples 1..2939 are skipped, 2939 of them). The last track
// leaves out its last 5 sectors: for a track of N samples, i up to N - 2940 counts. A one-track
// disc does both. Example: a first track of 3000 samples, all 1, gives v1 = 2940 + ... + 3000 =
// 61 * (2940 + 3000) / 2 = 181170.

#include "akrip32.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a track's v1 at other read offsets needs, kept as the track is read (47 KB): its first and
// last 5880 samples, the plain sum of its counted samples and its v1. With the neighbouring
// tracks' edges (a rip's tracks follow one another on the disc) v1 slides to any offset within
// 2940 samples (see OffsetSearch.h) without reading again.
struct TTrackEdges {
    static constexpr int64_t Samples = 5880;
    std::vector<uint32_t> Head, Tail;  // up to Samples each
    int64_t Length = 0;                // the track's samples
    int64_t From = 1, To = 0;          // the counted range
    uint32_t V1 = 0, Sum = 0;
};

// The CUETools database (CTDB) counts a disc's audio as one run of bytes and leaves out its ends:
// the first 5880 samples (10 sectors) and the last 5880 + N mod 5880 (10 sectors and the disc's
// sectors modulo 10), where N is the audio's samples from track 1's start to the audio's end. A
// track's CTDB CRC is the CRC32 of its bytes within that run (only the first and the last audio
// track lose any), the disc's CRC that of the whole run. Example: a disc of 1234 sectors leaves
// out its last 14 sectors (8232 samples).
constexpr int64_t CtdbHeadSamples = 5880;
int64_t CtdbTailSamples(int64_t discSamples);

class TTrackChecksums {
public:
    // samples: the track's length in stereo samples (2352 bytes a sector hold 588); first and
    // last: its place on the disc (the audio tracks AccurateRip counts); discSamples: the disc's
    // audio (for the CTDB CRC of the last track).
    TTrackChecksums(int64_t samples, bool first, bool last, int64_t discSamples = 0);
    // The track's bytes in order, in pieces of any size (a piece may end inside a sample).
    void Add(const uint8_t* data, std::size_t size);

    uint32_t Crc32() const { return ~m_crc; }
    // The CRC32 of the bytes CTDB counts (those added so far, up to the counted range's end), and
    // how many they are.
    uint32_t CtdbCrc() const;
    int64_t CtdbBytes() const;
    uint32_t V1() const { return m_v2lo; }  // v1 is the sum of the products' low halves
    uint32_t V2() const { return m_v2lo + m_v2hi; }
    // The highest absolute sample value, 0..32768.
    int Peak() const { return m_peak; }
    int64_t SamplesSeen() const { return m_index; }
    TTrackEdges Edges() const;

private:
    void AddSample(uint32_t sample);
    // Whole samples from p (n of them, the first of index firstIndex) into the edges and the sum.
    void KeepEdges(const uint8_t* p, std::size_t n, int64_t firstIndex);

    int64_t m_from, m_to;      // the counted range of i, inclusive
    int64_t m_length;          // the samples the track holds
    int64_t m_index = 0;       // samples added
    uint32_t m_crc = 0xFFFFFFFFu;
    // CTDB's range in bytes from the track's start, and the register where it begins and ends
    // (the CRC of the range follows from the two without a second pass).
    int64_t m_ctdbFrom = 0, m_ctdbTo = 0;
    int64_t m_bytes = 0;
    uint32_t m_crcAtFrom = 0xFFFFFFFFu, m_crcAtTo = 0xFFFFFFFFu;
    uint32_t m_v2lo = 0, m_v2hi = 0;
    uint32_t m_sum = 0;  // of the counted samples
    std::vector<uint32_t> m_head, m_tail;  // m_tail: the last samples, up to twice the edge
    int m_peak = 0;
    uint8_t m_partial[4] = {};
    std::size_t m_partialSize = 0;
};

// The CRC32 of IEEE 802.3 (as zip and PNG use), reflected, initial and final value 0xFFFFFFFF.
// widest: the widest registers it may use for carry-less multiplication where the processor has
// them (512 or 128 bits; 0: none, zlib's tables); the result is the same.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, std::size_t size, int widest = 512);
// The CRC32 of a run of bytes followed by another from the CRC32s of both (zlib's combine).
uint32_t Crc32Combine(uint32_t first, uint32_t second, int64_t secondBytes);

// The disc's CTDB CRC from its audio tracks' (each its CtdbCrc and CtdbBytes), in order.
struct TCtdbPart {
    uint32_t Crc = 0;
    int64_t Bytes = 0;
};
uint32_t CtdbDiscCrc(const std::vector<TCtdbPart>& tracks);

struct TAccurateRipDiscId {
    int AudioTracks = 0;
    uint32_t Id1 = 0, Id2 = 0, CddbId = 0;
    // "dBAR-011-0016e4a1-00d2ca2c-9f0ae10b.bin" under "a/1/4/", as the database files them.
    std::string Path() const;
    // "011-0016e4a1-00d2ca2c-9f0ae10b", as a log gives it.
    std::string Text() const;
};

// The IDs of a usable table read in MSF mode. Track offsets count from sector 0 (00:02:00). id1
// is the sum of the audio tracks' offsets plus the lead-out's; id2 the sum of each offset (at
// least 1) times the track's number, plus the lead-out's times (tracks + 1). On a disc whose
// audio is followed by a data track (Enhanced CD) the lead-out is the audio session's end,
// 11400 sectors before the data track.
TAccurateRipDiscId AccurateRipDiscId(const TTOC& toc);

struct TAccurateRipTrack {
    int Confidence = 0;
    uint32_t Crc = 0;
    uint32_t Crc450 = 0;   // of one frame; not used here
};
struct TAccurateRipPressing {
    int Tracks = 0;
    uint32_t Id1 = 0, Id2 = 0, CddbId = 0;
    std::vector<TAccurateRipTrack> Checksums;
};

// The binary entry: pressings one after the other, each a 13-byte head (track count, id1, id2,
// CDDB ID, little-endian) and 9 bytes a track (confidence, CRC, CRC of frame 450). Nothing when
// the entry is empty, cut short or names no tracks.
std::optional<std::vector<TAccurateRipPressing>> ParseAccurateRipEntry(std::string_view entry);

struct TAccurateRipVerdict {
    enum Kind { Accurate, NotAccurate, NotInDatabase, NotChecked } Result = NotChecked;
    int Confidence = 0;        // Accurate: the sum over the pressings that match
    bool V2 = false;           // Accurate: matched by the v2 checksum
    std::string Reason;        // NotChecked: why
    // "accurately ripped (confidence 12, v2)", "not accurate", "not in database",
    // "not checked (...)".
    std::string Text() const;
};

// The database's answer for a disc: its pressings, or why there is none to judge by.
struct TAccurateRipEntry {
    bool Checked = false;      // the entry was fetched and parsed, or there is none (404)
    std::string Reason;        // when not: "no connection to ...", "HTTP 500", "a malformed entry"
    std::vector<TAccurateRipPressing> Pressings;  // none: the disc is not in the database
};

// Track number (from 1) of the disc judged against the entry (not checked when it was not).
TAccurateRipVerdict JudgeTrack(const TAccurateRipEntry& entry, const TAccurateRipDiscId& id, int track, uint32_t v1,
                               uint32_t v2);

// Track number (from 1) of the disc judged against the entry's pressings.
TAccurateRipVerdict JudgeTrack(const std::vector<TAccurateRipPressing>& pressings, const TAccurateRipDiscId& id,
                               int track, uint32_t v1, uint32_t v2);
