#pragma once
// Helpers for the audio tests: a source that delivers bytes given in code, a way to drain a source,
// and the peers (sox, ffmpeg) that make fixtures and decode them for comparison.

#include "ACS_Classes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Delivers Bytes in pieces of at most Piece bytes, announcing Announced as its size.
class TMemorySource : public TACSInput {
public:
    std::vector<uint8_t> Bytes;
    int32_t Bits = 16, Channels = 2, Rate = 44100;
    int64_t Announced = 0;
    int32_t Piece = 1 << 30;
    bool Endless = false;  // delivers forever

    int32_t GetSampleBits() override { return Bits; }
    int32_t GetChannelCount() override { return Channels; }
    int32_t GetSamplingRate() override { return Rate; }
    void OpenInput() override
    {
        Active = true;
        DeliveredBytes = 0;
        TotalBytes = Announced;
        m_at = 0;
    }
    void CloseInput() override { Active = false; }
    int32_t ReadAudio(void* buffer, int32_t size) override
    {
        if (!Active)
            throw EACSException("The Stream is not opened");
        if (Endless) {
            std::memset(buffer, 1, static_cast<std::size_t>(size));
            DeliveredBytes += size;
            return size;
        }
        const auto n = static_cast<int32_t>(std::min<std::size_t>({static_cast<std::size_t>(size),
                                                                     static_cast<std::size_t>(Piece),
                                                                     Bytes.size() - m_at}));
        std::memcpy(buffer, Bytes.data() + m_at, static_cast<std::size_t>(n));
        m_at += static_cast<std::size_t>(n);
        DeliveredBytes += n;
        return n;
    }

private:
    std::size_t m_at = 0;
};

// Everything the source delivers between OpenInput and the first 0, in pieces of piece bytes.
inline std::vector<uint8_t> ReadAll(TACSInput& source, int32_t piece = 4096)
{
    std::vector<uint8_t> all;
    std::vector<uint8_t> buf(static_cast<std::size_t>(piece));
    source.OpenInput();
    for (int32_t n; (n = source.ReadAudio(buf.data(), piece)) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    source.CloseInput();
    return all;
}

inline std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

// Runs a shell command of the test; ASSERTs its success in the caller.
inline int Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// Set by a worker (OnDone, OnThreadException), waited for by the test.
class TSignal {
public:
    void Set()
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    // Until set count times in all; false after 60 s (a hung worker fails the test).
    bool WaitFor(int count = 1)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_count >= count; });
    }
    int Count()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};
