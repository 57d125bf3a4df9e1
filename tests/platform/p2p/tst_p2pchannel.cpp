// The delivery channel of the P2P library, built with AddressSanitizer (see
// tst_p2pchannel.cmake): an owner that lets go of a channel inside the
// channel's own callback, or on another thread while a callback runs, never
// leaves the delivery thread on freed memory.

#include "common/crashhandler.h"
#include "platform/p2p/p2p_client.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

using varno::p2p::Channel;
using varno::p2p::DeliveryItem;

namespace {

// Set when a delivery thread that took a notice has ended (thread-local
// objects are destroyed as the thread leaves).
std::atomic<int> g_threadsEnded{0};
struct ThreadEndNotice
{
    ~ThreadEndNotice() { g_threadsEnded.fetch_add(1); }
};

void noteThreadEnd()
{
    static thread_local ThreadEndNotice notice;
    (void)notice;
}

DeliveryItem item(uint8_t first)
{
    DeliveryItem i;
    i.media = 2; // sound: no key frame needed
    i.data.assign(64, first);
    return i;
}

} // namespace

class TestP2pChannel : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_threadsEnded.store(0); }

    void lastOwnerLetsGoInsideItsCallback()
    {
        // The only owner lives in the callback's reach and is released there;
        // the callback then goes on reading what it captured.
        auto owner = std::make_shared<std::shared_ptr<Channel>>(std::make_shared<Channel>(Channel::Type::Live, 1, 8, 4096));
        std::atomic<int> calls{0};
        std::atomic<int> sum{0};
        auto captured = std::make_shared<int>(7);
        (*owner)->start([owner, captured, &calls, &sum](DeliveryItem &i) {
            noteThreadEnd();
            calls.fetch_add(1);
            auto keep = owner; // the channel's own copy of the owner slot
            keep->reset();     // the last owner of the channel lets go
            sum.fetch_add(*captured + i.data.front());
        });
        QVERIFY((*owner)->push(item(3)));
        std::weak_ptr<std::shared_ptr<Channel>> slot = owner;
        owner.reset();
        QTRY_COMPARE_WITH_TIMEOUT(g_threadsEnded.load(), 1, 10000);
        QCOMPARE(calls.load(), 1);
        QCOMPARE(sum.load(), 10);
        // The callback with its captures went with the channel.
        QVERIFY(slot.expired());
    }

    void ownerLetsGoWhileCallbackRuns()
    {
        // The owner drops the channel on its own thread while a callback is
        // inside: the drop returns at once and the channel ends on its thread
        // when the callback returns.
        std::mutex mutex;
        std::condition_variable cv;
        bool inside = false;
        bool release = false;
        std::atomic<int> calls{0};
        auto channel = std::make_shared<Channel>(Channel::Type::Playback, 2, 8, 4096);
        std::weak_ptr<Channel> watch = channel;
        channel->start([&](DeliveryItem &) {
            noteThreadEnd();
            std::unique_lock<std::mutex> lock(mutex);
            inside = true;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
            calls.fetch_add(1);
        });
        QVERIFY(channel->push(item(1)));
        {
            std::unique_lock<std::mutex> lock(mutex);
            QVERIFY(cv.wait_for(lock, std::chrono::seconds(30), [&] { return inside; }));
        }
        channel.reset();
        QVERIFY(!watch.expired()); // still held by its thread
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        cv.notify_all();
        QTRY_COMPARE_WITH_TIMEOUT(g_threadsEnded.load(), 1, 10000);
        QCOMPARE(calls.load(), 1);
        QVERIFY(watch.expired());
    }

    void stoppedAndJoinedByItsOwner()
    {
        std::atomic<int> calls{0};
        auto channel = std::make_shared<Channel>(Channel::Type::Download, 3, 4, 1 << 20);
        std::atomic<bool> crashStack{false};
        channel->start([&](DeliveryItem &) {
            noteThreadEnd();
            crashStack.store(CrashHandlerOnThisThread());
            calls.fetch_add(1);
        });
        for (int i = 0; i < 4; ++i)
            QVERIFY(channel->push(item(uint8_t(i))));
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 4, 10000);
        // A stack overflow in a callback is reported like one on the main thread.
        QVERIFY(crashStack.load());
        channel->requestStop();
        QVERIFY(!channel->push(item(9)));
        QVERIFY(channel->join(10000));
        QVERIFY(channel->finished());
        QCOMPARE(g_threadsEnded.load(), 1);
        channel.reset();
        QCOMPARE(calls.load(), 4);
    }
};

QTEST_GUILESS_MAIN(TestP2pChannel)
#include "tst_p2pchannel.moc"
