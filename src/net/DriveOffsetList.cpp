#include "DriveOffsetList.h"

#include "AccurateRipLookup.h"

#include <unistd.h>

#include <filesystem>
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

bool WriteWhole(const std::string& path, const std::string& bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string temp = path + ".part" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, path, ec);
    if (ec)
        std::filesystem::remove(temp, ec);
    return !ec;
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
        std::string url = server;
        while (!url.empty() && url.back() == '/')
            url.pop_back();
        url += "/accuraterip/" + std::string(DriveListFileName);
        const THttpBytes reply = HttpGetBytes(url, MaxList);
        if (!reply.Connected)
            failure = "no connection to " + server + " (" + reply.Failure + ")";
        else if (!reply.Failure.empty())
            failure = reply.Failure;
        else if (reply.Status != 200)
            failure = url + " answered HTTP " + std::to_string(reply.Status);
        else if (auto fetched = ParseDriveOffsets(reply.Body, why)) {
            list.Entries = std::move(*fetched);
            if (!WriteWhole(path, reply.Body))
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
