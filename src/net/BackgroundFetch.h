#pragma once
// A network lookup on a thread of its own, started at once: the caller asks for the answer when
// it needs it and never has to wait. A lookup dropped before its answer ends on its own (its
// transfer told to stop; the program waits for such threads when it exits).

#include "RetiredThreads.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

template <class T>
class TBackgroundFetch {
public:
    // fetch runs on the thread; abandoned turns true once nobody waits for its answer.
    explicit TBackgroundFetch(std::function<T(const std::atomic<bool>* abandoned)> fetch)
        : m_state(std::make_shared<State>())
    {
        RetiredThreads();  // made before any lookup thread, so it outlives them all
        m_state->Thread = std::thread([state = m_state, fetch = std::move(fetch)] {
            T answer = fetch(&state->Abandoned);
            std::lock_guard lock(state->Mutex);
            state->Answer = std::move(answer);
            state->Done.notify_all();
        });
    }
    ~TBackgroundFetch()
    {
        m_state->Abandoned = true;
        RetiredThreads().Add(std::move(m_state->Thread));
    }
    TBackgroundFetch(const TBackgroundFetch&) = delete;
    TBackgroundFetch& operator=(const TBackgroundFetch&) = delete;

    // The answer when the fetch is over; nothing while it runs.
    std::optional<T> TryGet() const
    {
        std::lock_guard lock(m_state->Mutex);
        return m_state->Answer;
    }
    // Waits for the answer (tests and the command line, which have nothing else to do).
    T Wait() const
    {
        std::unique_lock lock(m_state->Mutex);
        m_state->Done.wait(lock, [this] { return m_state->Answer.has_value(); });
        return *m_state->Answer;
    }

private:
    struct State {
        std::atomic<bool> Abandoned{false};
        mutable std::mutex Mutex;
        mutable std::condition_variable Done;
        std::optional<T> Answer;
        std::thread Thread;
    };
    std::shared_ptr<State> m_state;
};
