// Client's peer-to-peer channel: the registration thread against a real
// broker (and against none), the message filter and device ID cut, payloads
// that outlive the library's callback for queued receivers. The replies of a
// simulated camera through the window's registration are tst_clientdialogs'
// (added by camera ID), each reply's content the P2P library's tests'.

#include "client/client.h"

#include "common/logfile.h"
#include "common/p2precords.h"
#include "playback/videosearch.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

using namespace varno::test;

namespace {

// A receiver on the user-interface thread, connected queued, that copies
// what the payload holds when its slot finally runs.
struct Received
{
    int32_t type;
    QByteArray devId;
    QByteArray payload;
};

class QueuedReceiver : public QObject
{
public:
    explicit QueuedReceiver(Client *client)
    {
        connect(client, &Client::sendP2pMsg, this, [this](P2pMessage_S m) {
            std::lock_guard<std::mutex> lock(mutex);
            got.push_back(Received{m.type, QByteArray(m.devId, int(::strnlen(m.devId, sizeof(m.devId)))),
                                   QByteArray(m.payload, m.payloadLen)});
        }, Qt::QueuedConnection);
    }
    int count(int32_t type)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const Received &r : got)
            n += r.type == type;
        return n;
    }
    Received first(int32_t type)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Received &r : got)
            if (r.type == type)
                return r;
        return Received{};
    }
    std::mutex mutex;
    std::vector<Received> got;
};

} // namespace

class TestClientP2p : public QObject
{
    Q_OBJECT

private slots:
    void filterCutAndPayloadCopies()
    {
        Client client("127.0.0.1");
        QueuedReceiver receiver(&client);
        QSignalSpy direct(&client, &Client::sendP2pMsg);
        const char *longId = "VRNB-765432-KXPQT-0123456789ABCDEFGHIJKL";   // 40 characters
        QCOMPARE(int(std::strlen(longId)), 40);
        const int32_t passed[] = {11, 14, 17, 35, 73, 87, 88, 126, 129, 130, 155};
        const int32_t dropped[] = {0, 10, 12, 16, 34, 125, 127, 200, -1};
        // Called the way the library calls it: on another thread, with a buffer
        // that is gone (overwritten here) once the callback returns.
        std::atomic<bool> nonZero{false};
        std::thread library([&] {
            for (int32_t type : dropped) {
                char payload[8] = "dropped";
                Client::p2pMessageCallback(type, payload, 8, longId, &client);
            }
            for (int32_t type : passed) {
                char payload[16];
                std::snprintf(payload, sizeof(payload), "type-%d", type);
                if (Client::p2pMessageCallback(type, payload, int32_t(std::strlen(payload)), longId, &client) != 0)
                    nonZero = true;
                std::memset(payload, 'X', sizeof(payload));
            }
            Client::p2pMessageCallback(11, nullptr, 0, "VRNB-765432-KXPQT", &client);
            Client::p2pMessageCallback(11, "abc", -5, "VRNB-765432-KXPQT", &client);
        });
        library.join();
        QVERIFY(!nonZero.load());
        QCOMPARE(direct.count(), int(std::size(passed)) + 2);
        QTRY_COMPARE(int(receiver.got.size()), int(std::size(passed)) + 2);
        for (int32_t type : passed) {
            QCOMPARE(receiver.count(type), type == 11 ? 3 : 1);
            const Received r = receiver.first(type);
            QCOMPARE(r.devId, QByteArray(longId).left(31));
            QCOMPARE(r.payload, QByteArray("type-") + QByteArray::number(type));
        }
        const P2pMessage_S first = direct.at(0).at(0).value<P2pMessage_S>();
        QCOMPARE(first.devId[31], '\0');
        QCOMPARE(int(::strnlen(first.devId, sizeof(first.devId))), 31);
        // Empty and negative lengths arrive as empty payloads.
        const P2pMessage_S empty = direct.at(int(std::size(passed))).at(0).value<P2pMessage_S>();
        QCOMPARE(empty.payloadLen, 0);
        const P2pMessage_S negative = direct.at(int(std::size(passed)) + 1).at(0).value<P2pMessage_S>();
        QCOMPARE(negative.payloadLen, 0);
        // A user value of null (no Client) is ignored.
        QCOMPARE(Client::p2pMessageCallback(11, "x", 1, "VRNB-765432-KXPQT", nullptr), 0);
        QCOMPARE(Client::p2pStatusCallback(1, 0, 0, 0), 0);
    }

    void payloadLivesThroughNestedLoop()
    {
        // The first message's receiver runs a nested event loop (as a message
        // box does) while 200 more messages are delivered and their payloads
        // released; its own payload must still be what the camera sent.
        Client client("127.0.0.1");
        const QByteArray firstPayload = QByteArray("first-payload-").repeated(8);
        QByteArray seenAfterLoop;
        int delivered = 0;
        bool nested = false;
        connect(&client, &Client::sendP2pMsg, &client, [&](P2pMessage_S m) {
            ++delivered;
            if (nested || m.type != 17)
                return;
            nested = true;
            std::thread library([&] {
                for (int i = 0; i < 200; ++i) {
                    const QByteArray other = QByteArray("other-").repeated(19) + QByteArray::number(i);
                    Client::p2pMessageCallback(11, other.constData(), int32_t(other.size()), "B765432", &client);
                }
            });
            library.join();
            // A nested event loop delivers them all.
            QTRY_COMPARE_WITH_TIMEOUT(delivered, 201, 30000);
            // Memory of the same size handed out again meanwhile.
            std::vector<QByteArray> churn;
            for (int i = 0; i < 400; ++i)
                churn.push_back(QByteArray(firstPayload.size(), char('a' + i % 26)));
            seenAfterLoop = QByteArray(m.payload, m.payloadLen);
        }, Qt::QueuedConnection);
        std::thread library([&] {
            Client::p2pMessageCallback(17, firstPayload.constData(), int32_t(firstPayload.size()), "B765432", &client);
        });
        library.join();
        QTRY_VERIFY_WITH_TIMEOUT(!seenAfterLoop.isNull(), 60000);
        QCOMPARE(delivered, 201);
        QCOMPARE(seenAfterLoop, firstPayload);
    }

    // The playback page is deleted before the P2P library is released: camera
    // messages reach it queued, never on the library's thread.
    void playbackPageTakesMessagesQueued()
    {
        Client client("127.0.0.1");
        struct CallCounter : QObject
        {
            std::atomic<int> calls{0};
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::MetaCall)
                    ++calls;
                return false;
            }
        } counter;
        client.playbackView()->installEventFilter(&counter);
        const int sent = 5;
        std::thread library([&] {
            for (int i = 0; i < sent; ++i) {
                const int32_t seconds = 60 + i;
                Client::p2pMessageCallback(P2P_MSG_PLAY_LENGTH, reinterpret_cast<const char *>(&seconds),
                                           int32_t(sizeof(seconds)), "VRNB-765432-KXPQT", &client);
            }
        });
        library.join();
        QTRY_COMPARE(counter.calls.load(), sent);
        client.playbackView()->removeEventFilter(&counter);
    }

    void relayDownRetriesUntilStopped()
    {
        // The relay is away: registration is retried, the failure is logged
        // once (by the window and by the library), not at every attempt; once
        // the relay is back the recovery is logged.
        MqttBroker broker;
        QVERIFY(broker.start());
        QVERIFY(broker.writeClientConfig());
        broker.kill();
        const QByteArray failed = "P2P_Client_SDK_Register failed, ret(-203)!!!";
        const QByteArray unreachable = QStringLiteral("Relay 127.0.0.1:%1 not reachable").arg(broker.port()).toUtf8();
        const int before = int(logText().count(failed));
        const int beforeLib = int(logText().count(unreachable));
        Client::setP2pRetryIntervalMs(20);
        {
            Client client("127.0.0.1");
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(client.p2pRegisterAttempts() >= 6, 30000);
            QVERIFY(Client::p2pHandle() != 0);   // initialised, not registered
            QCOMPARE(int(logText().count(failed)), before + 1);
            QCOMPARE(int(logText().count(unreachable)), beforeLib + 1);
            QVERIFY(broker.start());
            QTRY_VERIFY_WITH_TIMEOUT(logText().contains("P2P_Client_SDK_Register success !!!"), 30000);
            QVERIFY(logText().contains("P2P_Client_SDK_Register succeeded after "));
            QCOMPARE(int(logText().count(failed)), before + 1);
        }
        QCOMPARE(Client::p2pHandle(), P2P_HANDLE(0));

        // A window closed while the registration waits for its next attempt:
        // the stop flag ends the wait (with an hour between attempts, a wait
        // that ran out would stall the test until it is killed).
        broker.kill();
        Client::setP2pRetryIntervalMs(3600 * 1000);
        {
            Client client("127.0.0.1");
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(client.p2pRegisterAttempts() >= 1, 30000);
        }   // the destructor sets the stop flag and joins the thread
        QCOMPARE(Client::p2pHandle(), P2P_HANDLE(0));
        Client::setP2pRetryIntervalMs(5000);
    }
};

QTEST_MAIN(TestClientP2p)
#include "tst_clientp2p.moc"
