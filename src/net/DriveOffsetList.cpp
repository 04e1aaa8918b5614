#include "DriveOffsetList.h"

#include "AccurateRipLookup.h"
#include "FileSystem.h"
#include "DiscScan.h"
#include "GlobalRoutines.h"
#include "OffsetSearch.h"
#include "akrip32Drives.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

namespace {

constexpr std::size_t MaxList = 4 * 1024 * 1024;  // the list holds some thousands of 69-byte records

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

TDriveOffsetList LoadDriveOffsetList(const std::string& server, const std::string& folder, bool mayFetch)
{
    TDriveOffsetList list;
    const std::string path = folder + DriveListFileName;
    std::error_code ec;
    const bool have = std::filesystem::is_regular_file(path, ec);
    std::string why;
    std::optional<std::vector<TDriveOffsetEntry>> copy;
    bool fresh = false;
    long days = 0;  // the copy's age
    if (have) {
        copy = ParseDriveOffsets(ReadWhole(path), why);
        const auto written = std::filesystem::last_write_time(path, ec);
        const auto age = std::filesystem::file_time_type::clock::now() - written;
        fresh = !ec && age < DriveListMaxAge;
        days = static_cast<long>(std::chrono::duration_cast<std::chrono::hours>(age).count() / 24);
    }
    if (copy && (fresh || !mayFetch)) {
        list.Entries = std::move(*copy);
        return list;
    }
    std::string failure;
    if (mayFetch) {
        const std::string url = WithoutSlash(server) + "/accuraterip/" + std::string(DriveListFileName);
        const THttpBytes reply = HttpGetBytes(url, MaxList);
        if (!reply.Connected)
            failure = "no connection to " + server + " (" + reply.Failure + ")";
        else if (!reply.Failure.empty())
            failure = reply.Failure;
        else if (reply.Status != 200)
            failure = url + " answered HTTP " + std::to_string(reply.Status);
        else if (auto fetched = ParseDriveOffsets(reply.Body, why)) {
            list.Entries = std::move(*fetched);
            std::error_code made;
            std::filesystem::create_directories(folder, made);
            if (!WriteFileWhole(path, reply.Body))
                list.Note = "The AccurateRip drive list could not be kept in " + folder + ": it is fetched again next time.";
            return list;
        } else {
            failure = url + " is not a drive list: " + why;
        }
    } else {
        failure = have ? "the copy in " + folder + " cannot be read: " + why : "it has not been fetched yet";
    }
    if (copy) {
        list.Entries = std::move(*copy);
        list.Note = "The AccurateRip drive list could not be fetched again (" + failure + "): the copy kept " +
                    std::to_string(days) + (days == 1 ? " day" : " days") + " ago is used.";
        return list;
    }
    list.Note = "No AccurateRip drive list: " + failure + ".";
    return list;
}

std::vector<int> DefaultOffsetTracks(const TTOC& toc)
{
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    std::vector<int> audio;
    for (int p = 1; p <= count; ++p)
        if (!TrackSectors(toc, p).Data)
            audio.push_back(p);
    std::vector<int> tracks(audio.size() > 1 ? audio.begin() + 1 : audio.begin(), audio.end());
    std::stable_sort(tracks.begin(), tracks.end(),
                     [&](int a, int b) { return TrackSectors(toc, a).Length > TrackSectors(toc, b).Length; });
    if (tracks.size() > 2)
        tracks.resize(2);
    return tracks;
}

TOffsetFindResult FindDriveOffset(HCDROM handle, const TTOC& toc, const std::vector<int>& positions,
                                  const std::string& server, const std::vector<int>& modelOffsets,
                                  const std::function<void(int, int)>& progress, const std::atomic<bool>* cancel)
{
    TOffsetFindResult result;
    const auto stopped = [&] { return cancel && cancel->load(); };
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    const TAccurateRipEntry entry = FetchAccurateRip(server, id, cancel);
    if (stopped()) {
        result.Failure = "stopped";
        return result;
    }
    if (!entry.Checked || entry.Pressings.empty()) {
        result.Failure = entry.Checked ? "AccurateRip does not know this disc: the offset is found with a disc it knows"
                                       : "AccurateRip could not be asked: " + entry.Reason;
        return result;
    }
    int firstAudio = 0;
    for (int p = 1; p <= toc.LastTrack - toc.FirstTrack + 1 && !firstAudio; ++p)
        firstAudio = TrackSectors(toc, p).Data ? 0 : p;
    // v2 does not slide: it is tried at the offsets drives commonly have and at the model's (each
    // costs a pass over the track). The second track tries only what matched on the first, which
    // is all it has to confirm.
    std::vector<int> candidates = CommonDriveOffsets();
    candidates.insert(candidates.end(), modelOffsets.begin(), modelOffsets.end());
    constexpr int Margin = 2940;
    std::map<int, std::vector<std::pair<int, int>>> matchedOn;  // offset -> (track, confidence)
    for (const int p : positions) {
        const int number = toc.FirstTrack + p - 1;
        TTrackRead track;
        track.Margin = Margin;
        bool halted = false;
        const bool ok = ReadTrackWithMargins(handle, toc, p, track, [&](int percent) {
            if (progress)
                progress(number, percent);
            halted = halted || stopped();
            return !halted;
        });
        if (halted || stopped()) {
            result.Failure = "stopped";
            return result;
        }
        if (!ok) {
            result.Failure = WithDriveProblem("Error while reading CD information!", handle);
            result.Failure.pop_back();  // the closing period or mark is the caller's
            return result;
        }
        result.TracksRead.push_back(number);
        for (const TOffsetMatch& m : MatchingOffsets(track, entry.Pressings, id, p - firstAudio + 1, candidates))
            matchedOn[m.Offset].emplace_back(number, m.Confidence);
        if (matchedOn.empty())
            break;  // nothing for a second track to confirm
        candidates.clear();
        for (const auto& [offset, on] : matchedOn)
            candidates.push_back(offset);
    }
    for (const auto& [offset, on] : matchedOn)
        if (on.size() == result.TracksRead.size() && (!result.Offset || std::abs(offset) < std::abs(*result.Offset))) {
            result.Offset = offset;
            result.MatchedOn = on;
        }
    if (!result.Offset) {
        std::string list;
        for (const int t : result.TracksRead)
            list += (list.empty() ? "" : " and ") + TwoDigits(t);
        result.Failure = "no offset from -" + std::to_string(Margin) + " to +" + std::to_string(Margin) + " makes track" +
                         (result.TracksRead.size() == 1 ? " " : "s ") + list + " match AccurateRip's entry for this disc";
    }
    return result;
}
