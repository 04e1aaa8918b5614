#include "Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

const QEvent::Type MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type DrainEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
constexpr int SettleMs = 1;

// Waits for a sent message: set when its event is handled or destroyed unhandled.
struct SendState {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    bool Handled = false;
};

class TMessageEvent final : public QEvent {
public:
    TMessageEvent(TMessage message, std::shared_ptr<SendState> sender)
        : QEvent(MessageEventType)
        , Message(std::move(message))
        , Sender(std::move(sender))
    {
    }

    // Runs when the event has been handled, and also when Qt drops it because its target was
    // destroyed first: either way the payload is freed here and a waiting sender is released.
    ~TMessageEvent() override
    {
        Message.Payload.reset();
        if (Sender) {
            std::lock_guard lock(Sender->Mutex);
            Sender->Finished = true;
            Sender->Done.notify_all();
        }
    }

    TMessage Message;
    std::shared_ptr<SendState> Sender;
};

// Every event of ours reaches Qt's queue through these two. Qt appends it to the receiving
// thread's posted-event list under a mutex of its own, which ThreadSanitizer cannot see in an
// uninstrumented Qt. ThreadSanitizer records a frame by the call made from it into instrumented
// code, so the function that calls postEvent never shows in its reports, only the one that
// called that: HandEventToQt, which tests/tsan.supp names.
[[gnu::noinline]] void PostToQt(QObject* receiver, QEvent* event)
{
    QCoreApplication::postEvent(receiver, event);
}

[[gnu::noinline]] void HandEventToQt(QObject* receiver, QEvent* event)
{
    PostToQt(receiver, event);
}

// Handles to live targets. Held while an event is posted, and by a target while it leaves, so a
// target is never destroyed while a message is being queued for it.
std::mutex registryMutex;
std::map<HWND, TMessageTarget*> registry;
HWND nextHandle = 1;

bool Queue(HWND target, TMessage message, std::shared_ptr<SendState> sender)
{
    std::lock_guard lock(registryMutex);
    const auto found = registry.find(target);
    if (found == registry.end() || !QCoreApplication::instance())
        return false;
    if (sender)
        found->second->EnqueueSent(new TMessageEvent(std::move(message), std::move(sender)));
    else
        found->second->Enqueue(std::move(message));
    return true;
}

}  // namespace

TMessageTarget::TMessageTarget(Handler handler, QObject* parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(SettleMs);
    connect(m_settle, &QTimer::timeout, this, [this] {
        QEvent drain(DrainEventType);
        event(&drain);
    });
    std::lock_guard lock(registryMutex);
    m_handle = nextHandle++;
    registry[m_handle] = this;
}

TMessageTarget::~TMessageTarget()
{
    std::lock_guard lock(registryMutex);
    registry.erase(m_handle);
    // Posted messages still waiting are freed with m_posted; sent ones are destroyed by QObject's
    // destructor, which frees their payloads and releases their senders.
}

void TMessageTarget::Enqueue(TMessage message)
{
    std::lock_guard lock(m_queueMutex);
    m_posted.push_back(std::move(message));
    if (!m_drainPending) {
        m_drainPending = true;
        HandEventToQt(this, new QEvent(DrainEventType));
    }
}

void TMessageTarget::EnqueueSent(QEvent* event)
{
    HandEventToQt(this, event);
}

bool TMessageTarget::HasPending()
{
    std::lock_guard lock(m_queueMutex);
    return !m_posted.empty();
}

void TMessageTarget::QueueRanEmpty()
{
    // Called with m_queueMutex held, on the target's thread. Once the timer has found the queue
    // empty, the next post wakes the thread again.
    m_settle->start();
}

void TMessageTarget::Deliver(TMessage& message)
{
    if (m_handler)
        m_handler(message);
}

bool TMessageTarget::event(QEvent* event)
{
    if (event->type() == DrainEventType) {
        TMessage message;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_posted.empty()) {
                m_drainPending = false;
                return true;
            }
            message = std::move(m_posted.front());
            m_posted.pop_front();
            // The next message gets an event of its own before this one is handled, so a
            // handler that opens a modal dialog (a nested event loop) does not hold up the rest.
            if (m_posted.empty())
                QueueRanEmpty();
            else
                HandEventToQt(this, new QEvent(DrainEventType));
        }
        Deliver(message);
        return true;
    }
    if (event->type() != MessageEventType)
        return QObject::event(event);
    auto* message = static_cast<TMessageEvent*>(event);
    Deliver(message->Message);
    if (message->Sender) {
        std::lock_guard lock(message->Sender->Mutex);
        message->Sender->Handled = true;
    }
    return true;
}

bool PostMessage(HWND target, UINT msg, WPARAM wParam, LPARAM lParam, std::unique_ptr<TMessagePayload> payload)
{
    return Queue(target, TMessage{msg, wParam, lParam, std::move(payload)}, nullptr);
}

bool SendMessage(HWND target, UINT msg, WPARAM wParam, LPARAM lParam, std::unique_ptr<TMessagePayload> payload)
{
    TMessageTarget* direct = nullptr;
    {
        std::lock_guard lock(registryMutex);
        const auto found = registry.find(target);
        if (found == registry.end())
            return false;
        if (found->second->thread() == QThread::currentThread())
            direct = found->second;
    }
    if (direct) {
        // On the target's own thread the handler runs now, as a window procedure would.
        TMessageEvent event(TMessage{msg, wParam, lParam, std::move(payload)}, nullptr);
        QCoreApplication::sendEvent(direct, &event);
        return true;
    }
    auto state = std::make_shared<SendState>();
    if (!Queue(target, TMessage{msg, wParam, lParam, std::move(payload)}, state))
        return false;
    std::unique_lock lock(state->Mutex);
    state->Done.wait(lock, [&] { return state->Finished; });
    return state->Handled;
}
