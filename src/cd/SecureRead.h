#pragma once
// Secure reads: a drive's sectors read through libcdio-paranoia, which reads every stretch of
// the disc more than once with overlapping reads, matches the reads against each other (so a
// read that comes back a few samples early or late is put right, not believed), reads again
// where they disagree, and moves far enough away between reads that a drive's cache cannot
// answer for the disc. Every read still goes through the drive library's handle, so whatever
// the library does with a read (and tests' fault layers under it) applies; libcdio only tells
// paranoia the disc's layout, from the same drive or image.

#include "akrip32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TSecureReader {
public:
    // discEnd: the sector where the disc's audio ends; retries: how often paranoia reads a
    // stretch again before it gives up on it; cancel: once set, the drive is not read any more
    // and a read in progress ends at once (with whatever it has).
    TSecureReader(HCDROM handle, int32_t discEnd, int retries = 20, const std::atomic<bool>* cancel = nullptr);
    ~TSecureReader();
    TSecureReader(const TSecureReader&) = delete;
    TSecureReader& operator=(const TSecureReader&) = delete;

    // Whether the drive can be read securely: libcdio knows it (every drive and image it finds;
    // not a drive made up in code). Error() says why not.
    bool Ready() const;
    const std::string& Error() const { return m_error; }

    // Sectors [lba, lba + count) into out (count * 2352 bytes); sectors outside [0, discEnd)
    // are silence. A sector paranoia gave up on holds its best reading and is listed. False
    // when the reader is not ready.
    bool Read(int32_t lba, int32_t count, uint8_t* out);

    // Reads of a sector beyond the two paranoia's verification gives it when the drive agrees
    // with itself, summed over the sectors delivered.
    int64_t Rereads() const;
    // Sectors paranoia gave up on, each once, in the order met.
    const std::vector<int32_t>& Unreadable() const { return m_unreadable; }

private:
    struct TParanoia;
    friend struct TParanoia;

    const uint8_t* Sector(int32_t lba);
    // Stopped, or the drive is gone: paranoia's retries end at once.
    bool Cancelled() const { return m_vanished || (m_cancel && m_cancel->load(std::memory_order_acquire)); }
    bool m_vanished = false;  // the drive vanished mid-read (unplugged): the read fails

    HCDROM m_handle;
    int32_t m_discEnd;
    int m_retries;
    const std::atomic<bool>* m_cancel;
    std::unique_ptr<TParanoia> m_paranoia;
    std::string m_error;
    int32_t m_next = -1;       // the sector paranoia delivers next without a seek
    int32_t m_memoLba = -1;    // the last sector delivered (pieces of a shifted track share one)
    std::vector<uint8_t> m_memo;
    std::vector<uint8_t> m_scratch;     // reads paranoia makes only to move the drive
    std::vector<uint16_t> m_readCounts;  // reads of each sector of the disc
    int32_t m_firstDelivered = INT32_MAX, m_lastDelivered = -1;
    std::vector<int32_t> m_unreadable;
    std::set<int32_t> m_failed;   // sectors whose read failed at least once
    uint64_t m_noise = 0x2545F4914F6CDD1Du;
};
