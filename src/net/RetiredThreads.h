#pragma once
// Threads of network lookups (CDDB, AccurateRip) whose caller no longer waits for them: each ends
// soon on its own (its transfer cancelled or timed out); the program waits for the last ones when
// it exits, so none outlives the libraries it uses.

#include <mutex>
#include <thread>
#include <vector>

class TRetiredThreads {
public:
    ~TRetiredThreads();
    void Add(std::thread thread);

private:
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

// The program's one list.
TRetiredThreads& RetiredThreads();
