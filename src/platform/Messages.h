#pragma once
// Window messages between threads. A message target lives on the UI thread and has a handle that
// any thread may post to (the message is queued and handled later on the UI thread) or send to
// (the caller waits until the handler has run). A message may carry a payload, owned by exactly
// one holder at a time: the sender gives it up, the message holds it, the handler may take it;
// whatever is not taken is freed with the message, also when the target is gone before the
// message arrives.
//
// Built on Qt's event loop: posting is QCoreApplication::postEvent.

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

using HWND = uint64_t;   // 0: no window
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

// The first message number free for a program's own messages.
constexpr UINT WM_USER = 0x400;

// Base of everything that travels with a message.
class TMessagePayload {
public:
    virtual ~TMessagePayload() = default;
};

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    std::unique_ptr<TMessagePayload> Payload;

    // The payload as T, now owned by the caller; null (and the payload left) when it is none or
    // of another type.
    template <typename T>
    std::unique_ptr<T> Take()
    {
        if (auto* p = dynamic_cast<T*>(Payload.get())) {
            Payload.release();
            return std::unique_ptr<T>(p);
        }
        return nullptr;
    }
};

// A window's message queue end. Lives on the UI thread (the thread that makes it); the handler
// runs there, one message at a time.
class TMessageTarget : public QObject {
public:
    using Handler = std::function<void(TMessage&)>;

    explicit TMessageTarget(Handler handler, QObject* parent = nullptr);
    ~TMessageTarget() override;

    HWND Handle() const { return m_handle; }

    // Queues a posted message (any thread).
    void Enqueue(TMessage message);
    // Queues the event of a sent message (any thread).
    void EnqueueSent(QEvent* event);
    // Whether posted messages are waiting to be handled.
    bool HasPending();

protected:
    bool event(QEvent* event) override;

private:
    void Deliver(TMessage& message);

    Handler m_handler;
    HWND m_handle;
    // Posted messages wait here in order. One queued Qt event (or the settle timer) at a time
    // stands for them: a worker that posts while one is pending only appends, and does not wake
    // the UI thread. After the queue runs empty the target waits SettleMs for more before it
    // needs waking again, so a worker reporting every few microseconds (a read of 10 sectors
    // from a disc image) wakes the UI thread about once a millisecond instead of every time.
    // Each message is still handled on its own, in order.
    void QueueRanEmpty();

    std::mutex m_queueMutex;
    std::deque<TMessage> m_posted;
    bool m_drainPending = false;
    class QTimer* m_settle = nullptr;
};

// Queues the message for the target. False when the target does not exist (any more); the
// payload is freed then. Callable from any thread.
bool PostMessage(HWND target, UINT msg, WPARAM wParam, LPARAM lParam,
                 std::unique_ptr<TMessagePayload> payload = nullptr);

// Runs the target's handler on its thread and returns after it has run: directly when called on
// that thread, otherwise by queueing the message and waiting. False when the target does not
// exist or went away before the message was handled (the payload is freed then). Callable from
// any thread; the target's thread must not be waiting for the caller.
bool SendMessage(HWND target, UINT msg, WPARAM wParam, LPARAM lParam,
                 std::unique_ptr<TMessagePayload> payload = nullptr);
