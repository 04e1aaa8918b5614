#include "AccurateRip.h"

#include "DiscScan.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t SamplesPerSector = 588;
constexpr int64_t SkippedSamples = 5 * SamplesPerSector;  // 2940

uint32_t Le32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The highest absolute value of the 16-bit halves of n samples.
[[gnu::always_inline]] inline int PeakOf(const uint8_t* p, std::size_t n)
{
    uint16_t peak = 0;
    for (std::size_t k = 0; k < 2 * n; ++k) {
        int16_t v;
        std::memcpy(&v, p + 2 * k, 2);
        const auto magnitude = static_cast<uint16_t>(v < 0 ? -v : v);  // -32768 gives 32768
        peak = magnitude > peak ? magnitude : peak;
    }
    return peak;
}

// The products of n samples with their indexes from i0 on: the sums of their low and of their
// high halves, modulo 2^32.
[[gnu::always_inline]] inline void AddProducts(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo, uint32_t& hi)
{
    uint32_t l = 0, h = 0;
    for (std::size_t k = 0; k < n; ++k) {
        uint32_t sample;
        std::memcpy(&sample, p + 4 * k, 4);  // little-endian machines only, as the reads are
        const uint64_t product = static_cast<uint64_t>(sample) * (i0 + k);
        l += static_cast<uint32_t>(product);
        h += static_cast<uint32_t>(product >> 32);
    }
    lo += l;
    hi += h;
}

// Both loops compiled three times, for any x86-64, for processors with AVX2 (which most have) and
// for those with AVX-512, and picked when the program runs: vectorised, a 10-minute track's 26
// million samples take about 13 ms with AVX2, 7 with AVX-512. (Picked by hand: the linker's own way, an IFUNC, runs before the sanitizers the tests
// use are ready.)
#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] int PeakAvx2(const uint8_t* p, std::size_t n)
{
    return PeakOf(p, n);
}
int PeakAny(const uint8_t* p, std::size_t n)
{
    return PeakOf(p, n);
}
[[gnu::target("avx2")]] void ProductsAvx2(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo, uint32_t& hi)
{
    AddProducts(p, n, i0, lo, hi);
}
// GCC vectorises 256 bits at a time unless told; clang takes no such option here.
#if defined(__clang__)
#define SONVALE_AVX512 "avx512f,avx512bw"
#else
#define SONVALE_AVX512 "avx512f,avx512bw,prefer-vector-width=512"
#endif
[[gnu::target(SONVALE_AVX512)]] int PeakAvx512(const uint8_t* p, std::size_t n)
{
    return PeakOf(p, n);
}
[[gnu::target(SONVALE_AVX512)]] void ProductsAvx512(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo,
                                                    uint32_t& hi)
{
    AddProducts(p, n, i0, lo, hi);
}
void ProductsAny(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo, uint32_t& hi)
{
    AddProducts(p, n, i0, lo, hi);
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool HasAvx512()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}

int SamplesPeak(const uint8_t* p, std::size_t n)
{
    return HasAvx512() ? PeakAvx512(p, n) : HasAvx2() ? PeakAvx2(p, n) : PeakAny(p, n);
}

void WeightedSums(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo, uint32_t& hi)
{
    if (HasAvx512())
        ProductsAvx512(p, n, i0, lo, hi);
    else if (HasAvx2())
        ProductsAvx2(p, n, i0, lo, hi);
    else
        ProductsAny(p, n, i0, lo, hi);
}
#else
int SamplesPeak(const uint8_t* p, std::size_t n)
{
    return PeakOf(p, n);
}

void WeightedSums(const uint8_t* p, std::size_t n, uint64_t i0, uint32_t& lo, uint32_t& hi)
{
    AddProducts(p, n, i0, lo, hi);
}
#endif

}  // namespace

#if defined(__x86_64__)
namespace {

// x * x^(n+64) + x * x^n (k holding both, bit-reflected) folded onto the next block.
[[gnu::target("pclmul,sse4.1"), gnu::always_inline]] inline __m128i Fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

[[gnu::target("pclmul,sse4.1"), gnu::always_inline]] inline __m128i Load(const uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The CRC of a run of 16-byte blocks (at least four) by carry-less multiplication, folding 64
// bytes at a time: a 10-minute track in about 8 ms, against zlib's 25. The raw register in and
// out. Intel's "Fast
// CRC Computation for Generic Polynomials Using PCLMULQDQ Instruction" (2009) derives the
// constants: x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32) and x^64 modulo the polynomial,
// bit-reflected, then the polynomial and its Barrett quotient for the last step.
// Folding constants for a block d bits ahead: x^(d+32) and x^(d-32) modulo the polynomial.
constexpr int64_t Ahead512Low = 0x154442bd4, Ahead512High = 0x1c6e41596;    // 64 bytes
constexpr int64_t Ahead128Low = 0x1751997d0, Ahead128High = 0x0ccaa009e;    // 16 bytes
constexpr int64_t Ahead2048Low = 0x11542778a, Ahead2048High = 0x1322d1430;  // 256 bytes

// Four 128-bit lanes folded onto one, then the remaining 16-byte blocks, then the remainder.
[[gnu::target("pclmul,sse4.1"), gnu::always_inline]] inline uint32_t Crc32Finish(__m128i x1, __m128i x2, __m128i x3,
                                                                              __m128i x4, const uint8_t* p,
                                                                              std::size_t size)
{
    const __m128i k3k4 = _mm_set_epi64x(Ahead128High, Ahead128Low);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i polyMu = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    x1 = Fold(Fold(Fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; size >= 16; p += 16, size -= 16)
        x1 = Fold(x1, k3k4, Load(p));
    // 128 bits to 64 (and 32 zero bits appended), to 32 ...
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(k3k4, x1, 0x01));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    // ... and the Barrett reduction to the remainder.
    __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), polyMu, 0x10), low32);
    x1 = _mm_xor_si128(x1, _mm_clmulepi64_si128(t, polyMu, 0x00));
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

[[gnu::target("pclmul,sse4.1")]] uint32_t Crc32Folded(uint32_t crc, const uint8_t* p, std::size_t size)
{
    const __m128i k1k2 = _mm_set_epi64x(Ahead512High, Ahead512Low);
    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
    p += 64;
    size -= 64;
    for (; size >= 64; p += 64, size -= 64) {
        x1 = Fold(x1, k1k2, Load(p));
        x2 = Fold(x2, k1k2, Load(p + 16));
        x3 = Fold(x3, k1k2, Load(p + 32));
        x4 = Fold(x4, k1k2, Load(p + 48));
    }
    return Crc32Finish(x1, x2, x3, x4, p, size);
}

#define SONVALE_VPCLMUL "pclmul,sse4.1,avx512f,avx512vl,avx512bw,vpclmulqdq"

// The same, four 128-bit lanes to a 512-bit register: 256 bytes a step in four registers.
[[gnu::target(SONVALE_VPCLMUL), gnu::always_inline]] inline __m512i Fold4(__m512i x, __m512i k, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11), next,
                                     0x96);  // a ^ b ^ c
}

[[gnu::target(SONVALE_VPCLMUL), gnu::always_inline]] inline __m512i Load512(const uint8_t* at)
{
    return _mm512_loadu_si512(at);
}

// At least 256 bytes, in 16-byte blocks: about twice the speed of Crc32Folded.
[[gnu::target(SONVALE_VPCLMUL)]] uint32_t Crc32Folded512(uint32_t crc, const uint8_t* p, std::size_t size)
{
    // (Set rather than broadcast, and extracted with a zero mask below: GCC 12's forms of those
    // warn of an undefined operand.)
    const __m512i ahead256 = _mm512_set_epi64(Ahead2048High, Ahead2048Low, Ahead2048High, Ahead2048Low, Ahead2048High,
                                              Ahead2048Low, Ahead2048High, Ahead2048Low);
    const __m512i ahead64 = _mm512_set_epi64(Ahead512High, Ahead512Low, Ahead512High, Ahead512Low, Ahead512High,
                                             Ahead512Low, Ahead512High, Ahead512Low);
    __m512i z1 = _mm512_xor_si512(Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z2 = Load512(p + 64), z3 = Load512(p + 128), z4 = Load512(p + 192);
    p += 256;
    size -= 256;
    for (; size >= 256; p += 256, size -= 256) {
        z1 = Fold4(z1, ahead256, Load512(p));
        z2 = Fold4(z2, ahead256, Load512(p + 64));
        z3 = Fold4(z3, ahead256, Load512(p + 128));
        z4 = Fold4(z4, ahead256, Load512(p + 192));
    }
    z1 = Fold4(Fold4(Fold4(z1, ahead64, z2), ahead64, z3), ahead64, z4);
    for (; size >= 64; p += 64, size -= 64)
        z1 = Fold4(z1, ahead64, Load512(p));
    return Crc32Finish(_mm512_maskz_extracti32x4_epi32(0xF, z1, 0), _mm512_maskz_extracti32x4_epi32(0xF, z1, 1),
                       _mm512_maskz_extracti32x4_epi32(0xF, z1, 2), _mm512_maskz_extracti32x4_epi32(0xF, z1, 3), p, size);
}

bool HasVpclmul()
{
    static const bool has = __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
    return has;
}

bool HasPclmul()
{
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}

}  // namespace
#endif

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, std::size_t size, int widest)
{
#if defined(__x86_64__)
    if (size >= 64 && widest >= 128 && HasPclmul()) {
        const std::size_t blocks = size & ~std::size_t{15};
        crc = blocks >= 256 && widest >= 512 && HasVpclmul() ? Crc32Folded512(crc, data, blocks)
                                                              : Crc32Folded(crc, data, blocks);
        data += blocks;
        size -= blocks;
    }
#endif
    // zlib keeps the register inverted between calls; ours is the raw register (initial
    // 0xFFFFFFFF, inverted at the end), so invert around it.
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = ~static_cast<uint32_t>(crc32(~crc & 0xFFFFFFFFu, data, piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

uint32_t Crc32Combine(uint32_t first, uint32_t second, int64_t secondBytes)
{
    return static_cast<uint32_t>(crc32_combine64(first, second, secondBytes));
}

uint32_t CtdbDiscCrc(const std::vector<TCtdbPart>& tracks)
{
    uint32_t crc = 0;
    for (const TCtdbPart& t : tracks)
        crc = Crc32Combine(crc, t.Crc, t.Bytes);
    return crc;
}

int64_t CtdbTailSamples(int64_t discSamples)
{
    return CtdbHeadSamples + discSamples % CtdbHeadSamples;
}

TTrackChecksums::TTrackChecksums(int64_t samples, bool first, bool last, int64_t discSamples)
    : m_from(first ? SkippedSamples : 1)
    , m_to(last ? samples - SkippedSamples : samples)
    , m_length(samples)
    , m_ctdbFrom(first ? 4 * CtdbHeadSamples : 0)
    , m_ctdbTo(4 * (last ? samples - CtdbTailSamples(discSamples) : samples))
{
    m_ctdbTo = std::max(m_ctdbTo, m_ctdbFrom);  // a track shorter than what is left out counts nothing
}

int64_t TTrackChecksums::CtdbBytes() const
{
    return std::max<int64_t>(0, std::min(m_bytes, m_ctdbTo) - m_ctdbFrom);
}

uint32_t TTrackChecksums::CtdbCrc() const
{
    const int64_t bytes = CtdbBytes();
    if (bytes == 0)
        return 0;
    const uint32_t to = m_bytes >= m_ctdbTo ? m_crcAtTo : m_crc;
    // CRC(A B) = CRC(A) shifted over B's bytes, plus CRC(B): so CRC(B) = CRC(A B) - that shift.
    return ~to ^ Crc32Combine(~m_crcAtFrom, 0, bytes);
}

void TTrackChecksums::KeepEdges(const uint8_t* p, std::size_t n, int64_t firstIndex)
{
    for (std::size_t k = 0; k < n && firstIndex + static_cast<int64_t>(k) <= TTrackEdges::Samples; ++k)
        m_head.push_back(Le32(p + 4 * k));
    // The tail: the samples from the track's last 5880 on (a track read longer than it said
    // keeps its last ones).
    const int64_t tailFrom = m_length - TTrackEdges::Samples + 1;
    for (int64_t k = std::max<int64_t>(0, tailFrom - firstIndex); k < static_cast<int64_t>(n); ++k)
        m_tail.push_back(Le32(p + 4 * k));
    const auto edge = static_cast<std::size_t>(TTrackEdges::Samples);
    if (m_tail.size() > 2 * edge)
        m_tail.erase(m_tail.begin(), m_tail.end() - static_cast<std::ptrdiff_t>(edge));
    const int64_t from = std::max(firstIndex, m_from), to = std::min(firstIndex + static_cast<int64_t>(n) - 1, m_to);
    uint32_t sum = 0;
    for (int64_t i = from; i <= to; ++i)
        sum += Le32(p + 4 * (i - firstIndex));
    m_sum += sum;
}

TTrackEdges TTrackChecksums::Edges() const
{
    TTrackEdges e;
    e.Head = m_head;
    const auto edge = static_cast<std::ptrdiff_t>(std::min<std::size_t>(m_tail.size(), TTrackEdges::Samples));
    e.Tail.assign(m_tail.end() - edge, m_tail.end());
    e.Length = m_index;
    e.From = m_from;
    e.To = m_to;
    e.V1 = V1();
    e.Sum = m_sum;
    return e;
}

void TTrackChecksums::AddSample(uint32_t sample)
{
    uint8_t bytes[4];
    for (int k = 0; k < 4; ++k)
        bytes[k] = static_cast<uint8_t>(sample >> (8 * k));
    KeepEdges(bytes, 1, m_index + 1);
    const int64_t i = ++m_index;
    if (i >= m_from && i <= m_to) {
        const uint64_t product = static_cast<uint64_t>(sample) * static_cast<uint64_t>(i);
        m_v2lo += static_cast<uint32_t>(product);
        m_v2hi += static_cast<uint32_t>(product >> 32);
    }
    const int left = std::abs(static_cast<int>(static_cast<int16_t>(sample & 0xFFFF)));
    const int right = std::abs(static_cast<int>(static_cast<int16_t>(sample >> 16)));
    m_peak = std::max({m_peak, left, right});
}

void TTrackChecksums::Add(const uint8_t* data, std::size_t size)
{
    // The CRC in pieces split where CTDB's range begins and ends, keeping the register there.
    for (std::size_t done = 0; done < size;) {
        int64_t piece = static_cast<int64_t>(size - done);
        for (const int64_t edge : {m_ctdbFrom, m_ctdbTo})
            if (m_bytes < edge)
                piece = std::min(piece, edge - m_bytes);
        m_crc = Crc32Update(m_crc, data + done, static_cast<std::size_t>(piece));
        done += static_cast<std::size_t>(piece);
        m_bytes += piece;
        if (m_bytes == m_ctdbFrom)
            m_crcAtFrom = m_crc;
        if (m_bytes == m_ctdbTo)
            m_crcAtTo = m_crc;
    }
    std::size_t at = 0;
    if (m_partialSize > 0) {  // the rest of a sample the last piece began
        at = std::min(size, sizeof m_partial - m_partialSize);
        std::memcpy(m_partial + m_partialSize, data, at);
        m_partialSize += at;
        if (m_partialSize == sizeof m_partial) {
            AddSample(Le32(m_partial));
            m_partialSize = 0;
        }
    }
    // The whole samples: those before the counted range, in it, and after it.
    const std::size_t whole = (size - at) / 4;
    if (whole > 0) {
        const uint8_t* p = data + at;
        const int64_t first = m_index + 1;  // the index of p's first sample
        const int64_t last = first + static_cast<int64_t>(whole) - 1;
        const int64_t from = std::max(first, m_from), to = std::min(last, m_to);
        if (from <= to)
            WeightedSums(p + 4 * (from - first), static_cast<std::size_t>(to - from + 1), static_cast<uint64_t>(from), m_v2lo, m_v2hi);
        m_peak = std::max(m_peak, SamplesPeak(p, whole));
        KeepEdges(p, whole, first);
        m_index = last;
        at += 4 * whole;
    }
    // Fewer than 4 bytes are left, and only when the piece began with no part of a sample
    // pending or completed it (m_partialSize is then 0).
    const std::size_t rest = std::min(size - at, sizeof m_partial - m_partialSize);
    std::memcpy(m_partial + m_partialSize, data + at, rest);
    m_partialSize += rest;
}

std::string TAccurateRipDiscId::Path() const
{
    char path[96];
    std::snprintf(path, sizeof path, "%x/%x/%x/dBAR-%03d-%08x-%08x-%08x.bin", Id1 & 0xF, (Id1 >> 4) & 0xF, (Id1 >> 8) & 0xF,
                  AudioTracks, Id1, Id2, CddbId);
    return path;
}

std::string TAccurateRipDiscId::Text() const
{
    char text[48];
    std::snprintf(text, sizeof text, "%03d-%08x-%08x-%08x", AudioTracks, Id1, Id2, CddbId);
    return text;
}

TAccurateRipDiscId AccurateRipDiscId(const TTOC& toc)
{
    TAccurateRipDiscId id;
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    uint32_t leadOut = 0;
    for (int r = 0; r < count; ++r) {
        const TTrackSectors t = TrackSectors(toc, r + 1);
        if (t.Data)
            break;  // the audio ends at the first data track
        const uint32_t offset = static_cast<uint32_t>(t.Start);
        ++id.AudioTracks;
        id.Id1 += offset;
        id.Id2 += (offset > 0 ? offset : 1) * static_cast<uint32_t>(id.AudioTracks);
        leadOut = static_cast<uint32_t>(t.Start + t.Length);
    }
    id.Id1 += leadOut;
    id.Id2 += (leadOut > 0 ? leadOut : 1) * static_cast<uint32_t>(id.AudioTracks + 1);
    id.CddbId = CddbDiscId(toc);
    return id;
}

std::optional<std::vector<TAccurateRipPressing>> ParseAccurateRipEntry(std::string_view entry)
{
    std::vector<TAccurateRipPressing> pressings;
    const auto* p = reinterpret_cast<const unsigned char*>(entry.data());
    std::size_t at = 0;
    while (at < entry.size()) {
        if (entry.size() - at < 13)
            return std::nullopt;
        TAccurateRipPressing pressing;
        pressing.Tracks = p[at];
        pressing.Id1 = Le32(p + at + 1);
        pressing.Id2 = Le32(p + at + 5);
        pressing.CddbId = Le32(p + at + 9);
        at += 13;
        if (pressing.Tracks == 0 || entry.size() - at < static_cast<std::size_t>(pressing.Tracks) * 9)
            return std::nullopt;
        for (int t = 0; t < pressing.Tracks; ++t, at += 9)
            pressing.Checksums.push_back({p[at], Le32(p + at + 1), Le32(p + at + 5)});
        pressings.push_back(std::move(pressing));
    }
    if (pressings.empty())
        return std::nullopt;
    return pressings;
}

std::string TAccurateRipVerdict::Text() const
{
    switch (Result) {
    case Accurate:
        return "accurately ripped (confidence " + std::to_string(Confidence) + (V2 ? ", v2)" : ", v1)");
    case NotAccurate: return "not accurate";
    case NotInDatabase: return "not in database";
    case NotChecked: break;
    }
    return "not checked (" + Reason + ")";
}

TAccurateRipVerdict JudgeTrack(const std::vector<TAccurateRipPressing>& pressings, const TAccurateRipDiscId& id,
                               int track, uint32_t v1, uint32_t v2)
{
    TAccurateRipVerdict verdict;
    verdict.Result = TAccurateRipVerdict::NotInDatabase;
    bool listed = false, matched = false;
    for (const TAccurateRipPressing& pressing : pressings) {
        // A pressing of this disc: its IDs are the disc's, and it holds the track.
        if (pressing.Tracks != id.AudioTracks || pressing.Id1 != id.Id1 || pressing.Id2 != id.Id2 || track < 1 ||
            track > pressing.Tracks)
            continue;
        const TAccurateRipTrack& sum = pressing.Checksums[static_cast<std::size_t>(track - 1)];
        if (sum.Confidence == 0 && sum.Crc == 0)
            continue;  // the track is not in this pressing's rips
        listed = true;
        if (sum.Crc == v2 || sum.Crc == v1) {
            matched = true;
            verdict.Confidence += sum.Confidence;
            verdict.V2 = verdict.V2 || sum.Crc == v2;
        }
    }
    if (matched)
        verdict.Result = TAccurateRipVerdict::Accurate;
    else if (listed)
        verdict.Result = TAccurateRipVerdict::NotAccurate;
    return verdict;
}
