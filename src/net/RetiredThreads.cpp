#include "RetiredThreads.h"

TRetiredThreads::~TRetiredThreads()
{
    std::lock_guard lock(m_mutex);
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
}

void TRetiredThreads::Add(std::thread thread)
{
    std::lock_guard lock(m_mutex);
    m_threads.push_back(std::move(thread));
}

TRetiredThreads& RetiredThreads()
{
    static TRetiredThreads retired;
    return retired;
}
