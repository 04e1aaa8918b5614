#include "RipVerify.h"

#include "ACS_Flac.h"
#include "ACS_Wave.h"
#include "Global.h"
#include "RipLog.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool Starts(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// The words of a line, split at runs of spaces.
std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at)
            words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

std::string Hex8(uint32_t v)
{
    char s[9];
    std::snprintf(s, sizeof s, "%08X", v);
    return s;
}

bool IsLossy(const std::string& file)
{
    const std::string ext = std::filesystem::path(file).extension().string();
    for (const char* lossy : {".mp3", ".ogg", ".opus", ".wma", ".MP3", ".OGG", ".OPUS", ".WMA"})
        if (ext == lossy)
            return true;
    return false;
}

// The file's audio, which must be CD audio (16-bit stereo at 44100 Hz): WAV or FLAC. Raises when
// it cannot be read or is not CD audio.
std::unique_ptr<TACSInput> OpenCdAudio(const std::string& path)
{
    std::unique_ptr<TACSInput> input;
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".flac" || ext == ".FLAC") {
        auto in = std::make_unique<TFlacIn>();
        in->FileName = path;
        input = std::move(in);
    } else {
        auto in = std::make_unique<TWaveIn>();
        in->FileName = path;
        input = std::move(in);
    }
    input->OpenInput();
    if (input->GetSampleBits() != 16 || input->GetChannelCount() != 2 || input->GetSamplingRate() != 44100) {
        input->CloseInput();
        throw std::runtime_error("it is not CD audio (16-bit stereo at 44100 Hz)");
    }
    return input;
}

// A track's checksums as computed against the log's: matches, or what differs.
void Judge(const TLoggedTrack& logged, const TTrackChecksums& sums, int64_t bytes, int32_t logSectors, TTrackCheck& t)
{
    t.Crc32 = sums.Crc32();
    t.V1 = sums.V1();
    t.V2 = sums.V2();
    t.CtdbCrc = sums.CtdbCrc();
    t.CtdbBytes = sums.CtdbBytes();
    std::string differs;
    if (bytes != int64_t{logSectors} * 2352)
        differs += "; " + std::to_string(bytes / 2352) + " sectors, the table says " + std::to_string(logSectors);
    if (t.Crc32 != logged.Crc32)
        differs += "; CRC32 " + Hex8(t.Crc32) + ", the log says " + Hex8(logged.Crc32);
    if (t.V1 != logged.V1 || t.V2 != logged.V2)
        differs += "; AccurateRip v1 " + Hex8(t.V1) + " v2 " + Hex8(t.V2) + ", the log says " + Hex8(logged.V1) + " and " +
                   Hex8(logged.V2);
    t.Result = differs.empty() ? TTrackCheck::TResult::Match : TTrackCheck::TResult::Differs;
    t.Text = differs.empty() ? "matches (CRC32 " + Hex8(t.Crc32) + ")" : "differs:" + differs.substr(1);
}

}  // namespace

std::optional<TLoggedRip> ParseRipLog(std::string_view text, std::string& why)
{
    const std::vector<std::string_view> lines = Lines(text);
    if (lines.empty() || !Starts(lines[0], "Sonvale ") || lines[0].find(" rip log") == std::string_view::npos) {
        why = "it is not the log of a Sonvale rip";
        return std::nullopt;
    }
    TLoggedRip log;
    bool inToc = false;
    TLoggedTrack* track = nullptr;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (Starts(line, "Normalized: yes"))
            log.Normalized = true;
        if (Starts(line, "  Track  Start")) {
            inToc = true;
            continue;
        }
        if (inToc) {
            const std::vector<std::string_view> w = Words(line);
            TLoggedRip::TTocRow row;
            int32_t end = 0;
            if (w.size() >= 5 && Number(w[0], row.Number) && Number(w[3], row.Start) && Number(w[4], end) &&
                end >= row.Start && row.Start >= 0 && row.Number >= 1 && row.Number <= 99) {
                row.Length = end - row.Start + 1;
                row.Data = w.size() >= 6 && w[5] == "data";
                log.Toc.push_back(row);
                continue;
            }
            inToc = false;
        }
        if (Starts(line, "Image: ")) {
            const std::string_view rest = line.substr(7);
            log.Image = std::string(rest.substr(0, rest.rfind(" (the disc from sector 0")));
        } else if (Starts(line, "AccurateRip disc ID: ")) {
            log.DiscId = std::string(line.substr(21));
        } else if (Starts(line, "Track ") && (line.size() <= 9 || Starts(line, "Track 00 (hidden"))) {
            // "Track 07", or "Track 00 (hidden before the first track)"
            const bool hidden = Starts(line, "Track 00 (hidden");
            TLoggedTrack t;
            if (!Number(hidden ? line.substr(6, 2) : line.substr(6), t.Number) || t.Number < (hidden ? 0 : 1) ||
                t.Number > 99) {
                why = "its line \"" + std::string(line) + "\" names no track";
                return std::nullopt;
            }
            log.Tracks.push_back(t);
            track = &log.Tracks.back();
        } else if (track && Starts(line, "  File: ")) {
            track->File = std::string(line.substr(8));
        } else if (track && Starts(line, "  CRC32: ")) {
            track->HasSums = Number(line.substr(9), track->Crc32, 16);
        } else if (track && Starts(line, "  AccurateRip v1: ")) {
            const std::vector<std::string_view> w = Words(line.substr(18));
            track->HasSums = track->HasSums && w.size() == 3 && w[1] == "v2:" && Number(w[0], track->V1, 16) &&
                             Number(w[2], track->V2, 16);
        } else if (track && Starts(line, "  Result: ")) {
            track->Copied = Starts(line.substr(10), "copied");
        }
    }
    if (log.Tracks.empty() || log.Toc.empty()) {
        why = "it holds no table of contents or no track";
        return std::nullopt;
    }
    for (const TLoggedTrack& t : log.Tracks)
        if (t.File.empty() || (t.Copied && !t.HasSums) || t.File.find('\0') != std::string::npos) {
            why = "track " + TwoDigits(t.Number) + " has no file or no checksums in it";
            return std::nullopt;
        }
    return log;
}

bool TRipCheck::Ok() const
{
    if (!Intact || Tracks.empty())
        return false;
    for (const TTrackCheck& t : Tracks)
        if (t.Result != TTrackCheck::TResult::Match && t.Result != TTrackCheck::TResult::NotCopied)
            return false;
    return true;
}

std::string TRipCheck::Summary() const
{
    int match = 0, differ = 0, missing = 0, unverifiable = 0, notCopied = 0;
    for (const TTrackCheck& t : Tracks) {
        notCopied += t.Result == TTrackCheck::TResult::NotCopied;
        match += t.Result == TTrackCheck::TResult::Match;
        differ += t.Result == TTrackCheck::TResult::Differs;
        missing += t.Result == TTrackCheck::TResult::Missing || t.Result == TTrackCheck::TResult::Unreadable;
        unverifiable += t.Result == TTrackCheck::TResult::Lossy;
    }
    const auto n = static_cast<int>(Tracks.size());
    return std::to_string(n) + " track" + (n == 1 ? "" : "s") + ": " + std::to_string(match) +
           (match == 1 ? " matches, " : " match, ") + std::to_string(differ) + (differ == 1 ? " differs, " : " differ, ") +
           std::to_string(missing) + " missing or unreadable, " +
           std::to_string(unverifiable) + " unverifiable" +
           (notCopied > 0 ? ", " + std::to_string(notCopied) + " not copied in the rip" : std::string()) +
           (Intact ? "" : "; the log was edited or damaged");
}

TRipCheck CheckRip(const TLoggedRip& log, std::string_view logText, const std::string& folder)
{
    TRipCheck check;
    check.Intact = RipLogIntact(logText);
    // The audio tracks' range, for AccurateRip's skipped samples at the disc's two ends.
    int firstAudio = 0, lastAudio = 0;
    int32_t audioFrom = 0, audioTo = 0;  // sectors: CTDB counts the audio from track 1's start
    for (const TLoggedRip::TTocRow& row : log.Toc)
        if (!row.Data) {
            audioFrom = firstAudio ? audioFrom : row.Start;
            firstAudio = firstAudio ? firstAudio : row.Number;
            lastAudio = row.Number;
            audioTo = row.Start + row.Length;
        }
    const int64_t discSamples = int64_t{audioTo - audioFrom} * 588;
    // An image: the one file decoded once, each track's checksums over its range of sectors.
    struct TImageTrack {
        std::optional<TTrackChecksums> Sums;
        int64_t From = 0, To = 0, Bytes = 0;  // bytes of the file
    };
    std::vector<TImageTrack> image(log.Tracks.size());
    std::string imageError;
    if (!log.Image.empty() && !log.Normalized && !IsLossy(log.Image)) {
        for (std::size_t k = 0; k < log.Tracks.size(); ++k) {
            const int number = log.Tracks[k].Number;
            for (const TLoggedRip::TTocRow& r : log.Toc)
                if (r.Number == number && !r.Data) {
                    image[k].From = int64_t{r.Start} * 2352;
                    image[k].To = image[k].From + int64_t{r.Length} * 2352;
                }
            if (number == 0)  // the audio before the first track
                image[k].To = int64_t{log.Toc.front().Start} * 2352;
            image[k].Sums.emplace((image[k].To - image[k].From) / 4, number == firstAudio, number == lastAudio,
                                  discSamples);
        }
        try {
            const std::unique_ptr<TACSInput> input = OpenCdAudio(folder + log.Image);
            std::vector<uint8_t> buffer(1 << 16);
            int64_t at = 0;
            for (int32_t got; (got = input->ReadAudio(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
                for (TImageTrack& track : image) {
                    const int64_t from = std::max(at, track.From), to = std::min(at + got, track.To);
                    if (from < to) {
                        track.Sums->Add(buffer.data() + (from - at), static_cast<std::size_t>(to - from));
                        track.Bytes += to - from;
                    }
                }
                at += got;
            }
            input->CloseInput();
        } catch (const std::exception& e) {
            imageError = "cannot be read: " + std::string(e.what());
        }
    }
    for (const TLoggedTrack& logged : log.Tracks) {
        const std::size_t k = static_cast<std::size_t>(&logged - log.Tracks.data());
        TTrackCheck t;
        t.Number = logged.Number;
        t.File = logged.File;
        const std::string path = folder + logged.File;
        const TLoggedRip::TTocRow* row = nullptr;
        for (const TLoggedRip::TTocRow& r : log.Toc)
            if (r.Number == logged.Number)
                row = &r;
        // The audio hidden before the first track: from sector 0 to where that track starts.
        TLoggedRip::TTocRow hiddenRow;
        if (logged.Number == 0 && !log.Toc.front().Data && log.Toc.front().Start > 0) {
            hiddenRow.Length = log.Toc.front().Start;
            row = &hiddenRow;
        }
        using R = TTrackCheck::TResult;
        if (!logged.Copied) {
            t.Result = R::NotCopied;
            t.Text = "not copied in the rip";
        } else if (std::error_code ec; !std::filesystem::is_regular_file(path, ec)) {  // never raises
            t.Result = R::Missing;
            t.Text = "missing: " + path;
        } else if (IsLossy(path)) {
            t.Result = R::Lossy;
            t.Text = "unverifiable: a lossy file does not keep the samples";
        } else if (log.Normalized) {
            t.Result = R::Lossy;
            t.Text = "unverifiable: the rip was normalised after its checksums were taken";
        } else if (!row) {
            t.Result = R::Unreadable;
            t.Text = "the log's table of contents has no such track";
        } else if (!log.Image.empty() && !imageError.empty()) {
            t.Result = R::Unreadable;
            t.Text = imageError;
        } else if (!log.Image.empty()) {
            Judge(logged, *image[k].Sums, image[k].Bytes, row->Length, t);
        } else {
            try {
                const std::unique_ptr<TACSInput> input = OpenCdAudio(path);
                TTrackChecksums sums(int64_t{row->Length} * 588, logged.Number == firstAudio, logged.Number == lastAudio,
                                     discSamples);
                std::vector<uint8_t> buffer(1 << 16);
                int64_t total = 0;
                for (int32_t got; (got = input->ReadAudio(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
                    sums.Add(buffer.data(), static_cast<std::size_t>(got));
                    total += got;
                }
                input->CloseInput();
                Judge(logged, sums, total, row->Length, t);
            } catch (const std::exception& e) {
                t.Result = R::Unreadable;
                t.Text = "cannot be read: " + std::string(e.what());
            }
        }
        check.Tracks.push_back(t);
    }
    return check;
}
