#include "Messages.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <map>
#include <string>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Counts the payloads alive, so a test sees every one freed.
std::atomic<int> livePayloads{0};

struct Counted : TMessagePayload {
    explicit Counted(int v = 0) : Value(v) { ++livePayloads; }
    ~Counted() override { --livePayloads; }
    int Value;
};

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override { livePayloads = 0; }
    void TearDown() override
    {
        QCoreApplication::processEvents();
        EXPECT_EQ(livePayloads.load(), 0) << "a payload was not freed";
    }
};

TEST_F(MessagesTest, PostedMessagesArriveInOrderWithTheirPayloads)
{
    std::vector<int> seen;
    int taken = 0;
    TMessageTarget target([&](TMessage& m) {
        seen.push_back(static_cast<int>(m.Msg));
        if (m.Msg == WM_USER + 1) {
            auto p = m.Take<Counted>();
            ASSERT_TRUE(p);
            taken = p->Value;
        }
        // A payload left in the message is freed with it.
    });
    EXPECT_TRUE(PostMessage(target.Handle(), WM_USER + 1, 2, 3, std::make_unique<Counted>(42)));
    EXPECT_TRUE(PostMessage(target.Handle(), WM_USER + 2, 0, 0, std::make_unique<Counted>()));
    EXPECT_TRUE(PostMessage(target.Handle(), WM_USER + 3, 0, 0));
    EXPECT_TRUE(seen.empty()) << "posting does not run the handler";
    while (target.HasPending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(seen, (std::vector<int>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
    EXPECT_EQ(taken, 42);
}

TEST_F(MessagesTest, AGoneTargetFreesThePayload)
{
    HWND handle = 0;
    {
        TMessageTarget target([](TMessage&) { ADD_FAILURE() << "delivered to a destroyed target"; });
        handle = target.Handle();
        // Queued, then the target goes before the queue is handled.
        EXPECT_TRUE(PostMessage(handle, WM_USER, 0, 0, std::make_unique<Counted>()));
        EXPECT_EQ(livePayloads.load(), 1);
    }
    EXPECT_EQ(livePayloads.load(), 0);
    EXPECT_FALSE(PostMessage(handle, WM_USER, 0, 0, std::make_unique<Counted>()));
    EXPECT_FALSE(SendMessage(handle, WM_USER, 0, 0, std::make_unique<Counted>()));
    EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0, std::make_unique<Counted>()));
    EXPECT_EQ(livePayloads.load(), 0);
}

TEST_F(MessagesTest, SendRunsTheHandlerOnTheTargetsThreadBeforeReturning)
{
    const QThread* uiThread = QThread::currentThread();
    std::atomic<int> handled{0};
    bool ranOnUiThread = true;
    TMessageTarget target([&](TMessage& m) {
        ranOnUiThread = ranOnUiThread && QThread::currentThread() == uiThread;
        if (m.Msg == WM_USER)
            ++handled;
    });

    // On the target's own thread: at once.
    EXPECT_TRUE(SendMessage(target.Handle(), WM_USER, 0, 0, std::make_unique<Counted>()));
    EXPECT_EQ(handled.load(), 1);

    // From a worker: the worker waits while the UI thread handles it.
    QEventLoop loop;
    int seenAfterSend = -1;
    std::thread worker([&] {
        const bool sent = SendMessage(target.Handle(), WM_USER, 0, 0, std::make_unique<Counted>());
        seenAfterSend = sent ? handled.load() : -1;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_EQ(seenAfterSend, 2);
    EXPECT_TRUE(ranOnUiThread);
}

TEST_F(MessagesTest, ASendWhoseTargetGoesAwayReturnsFalse)
{
    // The worker posts "close" and then sends; the handler of "close" destroys the target, so the
    // sent message is dropped whether it was queued before or after: the sender must wake up.
    auto target = std::make_unique<TMessageTarget>(nullptr);
    const HWND handle = target->Handle();
    QEventLoop loop;
    TMessageTarget closer([&](TMessage&) { target.reset(); });
    std::atomic<bool> sendResult{true};
    std::thread worker([&] {
        PostMessage(closer.Handle(), WM_USER, 0, 0);
        sendResult = SendMessage(handle, WM_USER + 1, 0, 0, std::make_unique<Counted>());
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_FALSE(target);
    EXPECT_FALSE(sendResult.load());
}

TEST_F(MessagesTest, AHandlerInANestedLoopStillGetsTheNextMessages)
{
    // As when a window shows a modal message box while handling a report: the reports after it
    // keep arriving inside the box's event loop, in order.
    std::vector<std::string> order;
    QEventLoop modal;
    TMessageTarget target([&](TMessage& m) {
        if (m.Msg == WM_USER) {
            order.push_back("first begins");
            QTimer::singleShot(60000, &modal, &QEventLoop::quit);
            modal.exec();
            order.push_back("first ends");
        } else {
            order.push_back("next " + std::to_string(m.Msg - WM_USER));
            if (m.Msg == WM_USER + 2)
                modal.quit();
        }
    });
    PostMessage(target.Handle(), WM_USER, 0, 0);
    PostMessage(target.Handle(), WM_USER + 1, 0, 0);
    PostMessage(target.Handle(), WM_USER + 2, 0, 0);
    while (target.HasPending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(order, (std::vector<std::string>{"first begins", "next 1", "next 2", "first ends"}));
}

TEST_F(MessagesTest, ManyThreadsPostAtOnce)
{
    constexpr int Threads = 4;
    constexpr int PerThread = 5000;
    std::map<int, std::vector<int>> byThread;
    int total = 0;
    QEventLoop loop;
    TMessageTarget target([&](TMessage& m) {
        auto p = m.Take<Counted>();
        byThread[static_cast<int>(m.WParam)].push_back(p->Value);
        if (++total == Threads * PerThread)
            loop.quit();
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i)
                PostMessage(target.Handle(), WM_USER, static_cast<WPARAM>(t), 0, std::make_unique<Counted>(i));
        });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    for (std::thread& w : workers)
        w.join();
    ASSERT_EQ(total, Threads * PerThread);
    for (int t = 0; t < Threads; ++t) {
        ASSERT_EQ(byThread[t].size(), static_cast<std::size_t>(PerThread));
        for (int i = 0; i < PerThread; ++i)
            ASSERT_EQ(byThread[t][i], i) << "one thread's messages arrive in the order it posted them";
    }
}

}  // namespace
