// The P2P client library against a real Mosquitto broker and the camera
// simulator: registration, sessions, live streams that decode, camera
// messages, playback, download, scripted camera faults and a broker that
// dies mid-stream.

#include "common/callabort.h"
#include "common/crashhandler.h"
#include "common/p2precords.h"
#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/files.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

using namespace varno::test;

namespace {

const char *const kCamA = "VRNB-765432-KXPQT";
const char *const kDevA = "B765432";
const char *const kPwdA = "abc123";
const char *const kCamB = "VRNC-100200-ABCDE";
const char *const kPwdB = "pw9999";

struct Msg
{
    int32_t type;
    QByteArray payload;
    QByteArray camera;
    uint64_t order = 0;   // place among all callbacks (see g_callbackOrder)

    int32_t at(int offset) const
    {
        int32_t v = 0;
        std::memcpy(&v, payload.constData() + offset, 4);
        return v;
    }
};

// Every message and playback callback takes the next number on entry, so a
// test can tell which callback the application saw first without relying
// on how fast the test thread wakes up.
std::atomic<uint64_t> g_callbackOrder{0};

// Flags that one thread sets and another waits for.
struct Flags
{
    std::mutex mutex;
    std::condition_variable cv;

    void set(bool &flag, bool on = true)
    {
        std::lock_guard<std::mutex> lock(mutex);
        flag = on;
        cv.notify_all();
    }
    bool wait(const bool &flag, int ms, bool on = true)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return flag == on; });
    }
    bool get(const bool &flag)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return flag;
    }
};

// A message callback that blocks on message 14 until released, standing in
// for an application whose message handler is slow or stuck.
struct MsgGate : Flags
{
    bool holdPlayLength = false;
    bool inside = false;

    void enter()
    {
        set(inside);
        wait(holdPlayLength, 600000, false);   // released by the test whatever happens
        set(inside, false);
    }
};

MsgGate g_gate;

// Everything the message callback received.
struct MsgLog
{
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Msg> msgs;

    void add(Msg m)
    {
        std::lock_guard<std::mutex> lock(mutex);
        msgs.push_back(std::move(m));
        cv.notify_all();
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        msgs.clear();
    }
    // Waits for the n-th message of a type (1-based) from a camera.
    bool waitFor(int32_t type, const char *camera, int timeoutMs, Msg *out = nullptr, int nth = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        auto found = [&]() {
            int seen = 0;
            for (const Msg &m : msgs)
                if (m.type == type && m.camera == camera && ++seen == nth) {
                    if (out)
                        *out = m;
                    return true;
                }
            return false;
        };
        return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), found);
    }
    std::vector<Msg> ofType(int32_t type, const char *camera = nullptr)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Msg> out;
        for (const Msg &m : msgs)
            if (m.type == type && (!camera || m.camera == camera))
                out.push_back(m);
        return out;
    }
};

MsgLog g_msgs;

int onMessage(int32_t type, const char *payload, int32_t length, const char *cameraId, void *)
{
    const uint64_t order = ++g_callbackOrder;
    if (type == P2P_MSG_PLAY_LENGTH)
        g_gate.enter();
    g_msgs.add(Msg{type, QByteArray(payload, length), QByteArray(cameraId), order});
    return 0;
}

int onStatus(int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}

// Collects live frames: one entry per callback.
struct FrameSink
{
    std::mutex mutex;
    std::vector<QByteArray> video;
    std::vector<int32_t> nalTypes;
    std::vector<int32_t> stamps;
    int audio = 0;
    int audioBytes = 0;
    QByteArray descr;
    bool badStartCode = false;
    std::atomic<int> calls{0};
    std::atomic<bool> slow{false};   // 60 ms a NAL unit: falls behind 25 fps

    int videoCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(video.size());
    }
    bool grows(int more, int timeoutMs)
    {
        const int before = calls.load();
        return QTest::qWaitFor([&] { return calls.load() >= before + more; }, timeoutMs);
    }
};

int onFrame(P2P_HANDLE, const char *descr, const int32_t *info, int32_t type, const char *data,
            int32_t size, void *user)
{
    auto *sink = static_cast<FrameSink *>(user);
    if (sink->slow.load() && type == 1)
        QThread::msleep(60);
    std::lock_guard<std::mutex> lock(sink->mutex);
    sink->calls.fetch_add(1);
    if (sink->descr.isEmpty())
        sink->descr = QByteArray(descr, 68);
    if (type == 1) {
        if (size < 5 || std::memcmp(data, "\0\0\0\1", 4) != 0)
            sink->badStartCode = true;
        sink->video.push_back(QByteArray(data, size));
        sink->nalTypes.push_back(info[0]);
        sink->stamps.push_back(info[1]);
    } else if (type == 2) {
        ++sink->audio;
        sink->audioBytes += size;
    }
    return 0;
}

int init(P2P_HANDLE *h, int version = P2P_INIT_VERSION)
{
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = version;
    std::strcpy(info.account, "varno-client");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    return P2P_Client_SDK_Init(&info, "127.0.0.1", "log", h);
}

// Sends req as message type with the token of password and number.
template <class Request>
int deliver(P2P_HANDLE h, const char *camera, int32_t type, Request &req, const char *password, int32_t number)
{
    varno::p2p::makeToken(password, number, reinterpret_cast<uint8_t *>(req.token));
    return P2P_Client_SDK_Deliver_Msg(h, camera, type, reinterpret_cast<const char *>(&req), sizeof(req));
}

// A password check (message 16) with the token of password.
int askPassword(P2P_HANDLE h, const char *camera, const char *password, int32_t random)
{
    PASSWORD_CHECK_REQ_S req{};
    req.random = random;
    return deliver(h, camera, P2P_MSG_PASSWORD_CHECK, req, password, random);
}

} // namespace

// A handle released from inside its own message callback: refused, the
// handle stays usable, and released from the application's thread later.
struct ReleaseInside
{
    P2P_HANDLE handle = 0;
    std::atomic<int> result{1};
    std::atomic<bool> crashStack{false};
};

int releaseFromCallback(int32_t, const char *, int32_t, const char *, void *user)
{
    auto *r = static_cast<ReleaseInside *>(user);
    r->crashStack.store(CrashHandlerOnThisThread());
    r->result.store(P2P_Client_SDK_UnInit(r->handle));
    return 0;
}

namespace {
struct PlaySink
{
    std::mutex mutex;
    std::vector<std::pair<int32_t, QByteArray>> frames;
    std::vector<int32_t> seconds;
    uint64_t firstDataOrder = 0;
    std::atomic<int> calls{0};

    std::vector<QByteArray> video() const   // with the mutex held
    {
        std::vector<QByteArray> out;
        for (const auto &[type, data] : frames)
            if (type == 1)
                out.push_back(data);
        return out;
    }
};

int onPlay(int32_t type, const char *data, int32_t size, int32_t second, void *user)
{
    const uint64_t order = ++g_callbackOrder;
    auto *s = static_cast<PlaySink *>(user);
    std::lock_guard<std::mutex> lock(s->mutex);
    if (s->frames.empty())
        s->firstDataOrder = order;
    s->frames.emplace_back(type, QByteArray(data, size));
    s->seconds.push_back(second);
    s->calls.fetch_add(1);
    return 0;
}

struct DownloadSink
{
    std::mutex mutex;
    QByteArray data;
    bool contiguous = true;
};

int onDownload(int32_t, const char *data, int32_t size, int32_t offset, void *user)
{
    auto *s = static_cast<DownloadSink *>(user);
    std::lock_guard<std::mutex> lock(s->mutex);
    if (offset != s->data.size())
        s->contiguous = false;
    s->data.append(data, size);
    return 0;
}

// A playback or download callback that stays in its first call until the
// application's stop has been called and then, bounded, until that stop
// returned: a stop that returns while the callback still runs is seen.
struct HeldCallback : Flags
{
    bool entered = false;
    bool stopCalled = false;
    bool stopReturned = false;
    bool left = false;

    void run()
    {
        if (get(entered))
            return;
        set(entered);
        wait(stopCalled, 20000);
        // The stop must not return before this callback has: a bound, not a pause.
        wait(stopReturned, 1500);
        set(left);
    }
};

// Playback and download callbacks take the same arguments.
int onHeld(int32_t, const char *, int32_t, int32_t, void *user)
{
    static_cast<HeldCallback *>(user)->run();
    return 0;
}

} // namespace

class TestP2pClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void cleanupTestCase()
    {
        if (m_handle) {
            P2P_Client_SDK_UnRegister(m_handle);
            P2P_Client_SDK_UnInit(m_handle);
        }
        m_sim.stop();
        m_broker.stop();
    }

    void init() { g_msgs.clear(); }

    void initAndRegister()
    {
        P2P_HANDLE h = 0;
        QCOMPARE(::init(&h), 0);
        QVERIFY(h != 0 && h != m_handle);
        QCOMPARE(P2P_Client_SDK_Register(h, 0, 0), 0);
        QCOMPARE(P2P_Client_SDK_Register(h, 0, 0), 0);   // already logged in
        QCOMPARE(P2P_Client_SDK_UnRegister(h), 0);
        // Logged out: nothing that needs the relay works.
        QCOMPARE(P2P_Client_SDK_Connect_Peer(h, kCamA), int(P2P_ERR_NOT_REGISTERED));
        QCOMPARE(P2P_Client_SDK_Register(h, 0, 0), 0);    // and back
        QCOMPARE(P2P_Client_SDK_Connect_Peer(h, kCamA), 0);
        QCOMPARE(P2P_Client_SDK_UnInit(h), 0);
        QCOMPARE(P2P_Client_SDK_UnInit(h), int(P2P_ERR_PARAM));
        QCOMPARE(::init(&h, 18), int(P2P_ERR_PARAM));
    }

    void releaseInsideCallbackRefused()
    {
        ReleaseInside r;
        QCOMPARE(::init(&r.handle), 0);
        QCOMPARE(P2P_Client_SDK_Set_MsgCB(r.handle, releaseFromCallback, &r), 0);
        QCOMPARE(P2P_Client_SDK_Register(r.handle, 0, 0), 0);
        QCOMPARE(P2P_Client_SDK_Connect_Peer(r.handle, kCamB), 0);
        QVERIFY(askPassword(r.handle, kCamB, kPwdB, 31) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(r.result.load() != 1, 10000);
        QCOMPARE(r.result.load(), int(P2P_ERR_BUSY));
        // The dispatcher reports a stack overflow like the main thread.
        QVERIFY(r.crashStack.load());
        int32_t status = -1;
        QCOMPARE(P2P_Client_SDK_Get_Session_Status(r.handle, kCamB, &status), 0);
        QCOMPARE(status, int32_t(P2P_SESSION_CONNECTED));
        QCOMPARE(P2P_Client_SDK_UnInit(r.handle), 0);
    }

    // Found and unknown devices are tst_p2prelay's lookupWithoutRetainedLicense.
    void unknownHandleAndBadArguments()
    {
        int32_t status = 0;
        QCOMPARE(P2P_Client_SDK_Register(9999, 0, 0), int(P2P_ERR_NOT_INIT));
        QCOMPARE(P2P_Client_SDK_Get_Session_Status(0, kCamA, &status), int(P2P_ERR_NOT_INIT));
        QCOMPARE(P2P_Client_SDK_Init(nullptr, "", "", nullptr), int(P2P_ERR_PARAM));
        // IDs that cannot be topics, or lack a terminator within 64 bytes.
        char id[80];
        std::memset(id, 'A', sizeof(id));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, "VRN/#"), int(P2P_ERR_PARAM));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, ""), int(P2P_ERR_PARAM));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, id), int(P2P_ERR_PARAM));
        QCOMPARE(P2P_Client_SDK_Get_Device_License(m_handle, "B765/#", id), int(P2P_ERR_PARAM));
        QCOMPARE(P2P_Client_SDK_Deliver_Msg(m_handle, kCamA, 10, "x", -1), int(P2P_ERR_PARAM));
        QCOMPARE(P2P_Client_SDK_Deliver_Msg(m_handle, "VRNQ-000000-NOSES", 10, "x", 1),
                 int(P2P_ERR_NO_SESSION));
        char buffer[P2P_STREAM_DESCR_BUFFER];
        int32_t count = 0;
        QCOMPARE(P2P_Client_SDK_Get_StreamDescr(m_handle, "VRNQ-000000-NOSES", &count, buffer),
                 int(P2P_ERR_NO_SESSION));
    }

    void connectAndConcurrentConnect()
    {
        int32_t status = -1;
        QCOMPARE(connectTo(kCamA), 0);
        QCOMPARE(P2P_Client_SDK_Get_Session_Status(m_handle, kCamA, &status), 0);
        QCOMPARE(status, int(P2P_SESSION_CONNECTED));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, kCamA), 0);   // already up

        // A camera that never answers keeps the first connect waiting; a second
        // connect meanwhile is told -208.
        const char *ghost = "VRNX-000000-GHOST";
        std::atomic<int> first{1};
        std::thread t([&] { first = P2P_Client_SDK_Connect_Peer(m_handle, ghost); });
        QVERIFY(waitSession(ghost, P2P_SESSION_CONNECTING, 2000));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, ghost), int(P2P_ERR_CONNECTING));
        t.join();
        QVERIFY(first.load() < 0 && first.load() != P2P_ERR_CONNECTING);
        QCOMPARE(P2P_Client_SDK_Get_Session_Status(m_handle, ghost, &status), 0);
        QCOMPARE(status, 0);
    }

    void liveStreamsDecodeAndCloseStops_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("first") << 0 << 320 << 180;
        QTest::newRow("second") << 1 << 160 << 90;
    }

    void liveStreamsDecodeAndCloseStops()
    {
        QFETCH(int, index);
        QFETCH(int, width);
        QFETCH(int, height);
        char buffer[P2P_STREAM_DESCR_BUFFER];
        FrameSink sink;
        const int h = openStream(kCamA, kPwdA, sink, buffer, index);
        QVERIFY2(h > 0, QByteArray::number(h));
        QVERIFY(QTest::qWaitFor([&] { return sink.videoCount() >= 75; }, 10000));
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer + index * P2P_STREAM_DESCR_SIZE), 0);
        // Close stream stops frames: a callback running at the close may end,
        // none starts after it, while the other stream's frames, sent later by
        // the same camera, arrive.
        const int callsAtClose = sink.calls.load();
        FrameSink marker;
        QVERIFY(openStream(kCamA, kPwdA, marker, buffer, 1 - index) > 0);
        QVERIFY(QTest::qWaitFor([&] { return marker.videoCount() >= 10; }, 10000));
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer + (1 - index) * P2P_STREAM_DESCR_SIZE), 0);
        QVERIFY2(sink.calls.load() <= callsAtClose + 1, QByteArray::number(sink.calls.load() - callsAtClose));

        std::lock_guard<std::mutex> lock(sink.mutex);
        QVERIFY(!sink.badStartCode);
        // The description handed to the callback: device ID text, then index.
        QCOMPARE(QByteArray(sink.descr.constData()), QByteArray(kDevA));
        int32_t seenIndex = -1;
        std::memcpy(&seenIndex, sink.descr.constData() + 64, 4);
        QCOMPARE(seenIndex, index);
        // One NAL unit per call: SPS, PPS and the IDR slice arrive separately,
        // the IDR with nal_ref_idc 3.
        const std::set<int32_t> types(sink.nalTypes.begin(), sink.nalTypes.end());
        QVERIFY(types.count(7) && types.count(8) && types.count(5) && types.count(1));
        QCOMPARE(sink.nalTypes.front(), 7);
        for (size_t i = 0; i < sink.video.size(); ++i) {
            QCOMPARE(int32_t(uint8_t(sink.video[i][4]) & 0x1F), sink.nalTypes[i]);
            if (sink.nalTypes[i] == 5)
                QCOMPARE(uint8_t(sink.video[i][4]), uint8_t(0x65));
        }
        for (size_t i = 1; i < sink.stamps.size(); ++i)
            QVERIFY(sink.stamps[i] >= sink.stamps[i - 1]);
        QVERIFY(sink.audio > 20);
        QCOMPARE(sink.audioBytes % 320, 0);
        const Decoded r = decodeAnnexB(sink.video);
        QVERIFY2(r.pictures >= 50, QByteArray::number(r.pictures));
        QCOMPARE(r.width, width);
        QCOMPARE(r.height, height);
        QCOMPARE(r.errors, 0);
    }

    void recordSearchPages()
    {
        // Camera B holds 127 recordings in the basic form (type 11 replies):
        // a page of 64, then the 63 before the last name. The extended form
        // is tst_videosearch::cameraSearchPages, through the client's paging.
        QCOMPARE(connectTo(kCamB), 0);
        const int pages[] = {64, 63};
        std::set<QByteArray> names;
        QByteArray lastName;
        for (int page = 0; page < 2; ++page) {
            // The client's next request: same start, end from the last name
            // "yyMMdd_hh.mm.ss.h264" as "20yy-MM-dd hh:mm:ss.h264".
            const QByteArray n = lastName;
            const QByteArray end = page == 0 ? QByteArray("2019-03-01 00:00:00")
                                             : "20" + n.mid(0, 2) + "-" + n.mid(2, 2) + "-" + n.mid(4, 2) + " "
                                                   + n.mid(7, 8).replace('.', ':') + ".h264";
            QVERIFY(searchRecords(kCamB, kPwdB, 4711 + page, end) >= 0);
            Msg m;
            QVERIFY(g_msgs.waitFor(P2P_MSG_RECORD_LIST, kCamB, 5000, &m, page + 1));
            QVERIFY(m.payload.size() >= int(sizeof(RECORD_SEARCH_RSP_S)));
            RECORD_SEARCH_RSP_S head;
            std::memcpy(&head, m.payload.constData(), sizeof(head));
            QCOMPARE(head.result, 0);
            QCOMPARE(head.count, pages[page]);
            QCOMPARE(size_t(m.payload.size()), sizeof(head) + size_t(head.count) * sizeof(RECORD_ITEM_S));
            QByteArray previous;
            for (int i = 0; i < head.count; ++i) {
                RECORD_ITEM_S item;
                std::memcpy(&item, m.payload.constData() + sizeof(head) + size_t(i) * sizeof(item), sizeof(item));
                const QByteArray name(item.name, int(::strnlen(item.name, sizeof(item.name))));
                QVERIFY(name.endsWith(".h264"));
                QVERIFY(name > previous);
                QVERIFY2(names.insert(name).second, name.constData());
                previous = name;
                QVERIFY(item.size > 512);
                QCOMPARE(int(item.frameRate), 25);
                lastName = name;
            }
        }
        QCOMPARE(int(names.size()), 127);
    }

    void passwordCheck()
    {
        QCOMPARE(connectTo(kCamB), 0);
        for (const char *pwd : {kPwdB, "nope"}) {
            g_msgs.clear();
            PASSWORD_CHECK2_REQ_S req2{};
            req2.random = 12345;
            QVERIFY(deliver(m_handle, kCamB, P2P_MSG_PASSWORD_CHECK2, req2, pwd, req2.random) >= 0);
            QVERIFY(askPassword(m_handle, kCamB, pwd, -77) >= 0);
            Msg r126;
            Msg r17;
            QVERIFY(g_msgs.waitFor(P2P_MSG_PASSWORD_CHECK2_RSP, kCamB, 5000, &r126));
            QVERIFY(g_msgs.waitFor(P2P_MSG_PASSWORD_CHECK_RSP, kCamB, 5000, &r17));
            QCOMPARE(r126.payload.size(), 76);
            QCOMPARE(r17.payload.size(), 44);
            const bool right = std::strcmp(pwd, kPwdB) == 0;
            QCOMPARE(r126.at(40) == 0, right);
            QCOMPARE(r17.at(40) == 0, right);
        }
    }

    // An accepted change is kept by the camera (the old password opens nothing)
    // and a refused one changes nothing. The camera then goes offline: a connect
    // is refused and nothing is sent its way (neither the connects, the probing
    // asks every 5 s, nor retries). Back online, the library re-establishes the
    // session and re-opens the stream with the new password by itself.
    void passwordChangeAcrossOfflineCamera()
    {
        char buffer[P2P_STREAM_DESCR_BUFFER];
        FrameSink sink;
        QVERIFY(openFlowing(kCamB, kPwdB, sink, buffer));
        QCOMPARE(changePassword(kCamB, kPwdB, "newpass88"), 0);
        // Refused after the accepted one: the streams must not take it.
        QVERIFY(changePassword(kCamB, "wrong-old", "nochange1") != 0);
        QCOMPARE(m_sim.command(QStringLiteral("C100200 password")), QStringLiteral("OK newpass88"));
        QCOMPARE(m_sim.command(QStringLiteral("C100200 offline")), QStringLiteral("OK offline"));
        QVERIFY(waitSession(kCamB, P2P_SESSION_LOST, 5000));
        varno::p2p::Client *lib = varno::p2p::clientForHandle(m_handle);
        QVERIFY(lib);
        const uint64_t opens = lib->sessionOpensSent();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(P2P_Client_SDK_Connect_Peer(m_handle, kCamB), int(P2P_ERR_NOT_FOUND));
        QCOMPARE(lib->sessionOpensSent(), opens);
        int32_t online = -1;
        int32_t version = -1;
        QCOMPARE(P2P_Client_SDK_Get_Peer_Presence(m_handle, kCamB, &online, &version), 0);
        QCOMPARE(online, 0);
        QCOMPARE(version, 3);
        QCOMPARE(P2P_Client_SDK_Get_Peer_Presence(m_handle, "VRNZ-999999-KXPQT", &online, &version),
                 int(P2P_ERR_NOT_FOUND));
        g_msgs.clear();
        QCOMPARE(m_sim.command(QStringLiteral("C100200 online")), QStringLiteral("OK online"));
        QVERIFY(waitSession(kCamB, P2P_SESSION_CONNECTED, 8000));
        QCOMPARE(P2P_Client_SDK_Get_Peer_Presence(m_handle, kCamB, &online, &version), 0);
        QCOMPARE(online, 1);
        QVERIFY(lib->sessionOpensSent() > opens);
        QVERIFY2(sink.grows(20, 8000), "stream not re-opened");
        QVERIFY(g_msgs.ofType(P2P_MSG_STREAM_PASSWORD).empty());
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamB, buffer), 0);
        // The old password opens nothing; the camera says why with notice 88.
        FrameSink refused;
        QCOMPARE(openStream(kCamB, kPwdB, refused, buffer), int(P2P_ERR_REFUSED));
        QVERIFY(g_msgs.waitFor(P2P_MSG_STREAM_PASSWORD, kCamB, 3000));
        QCOMPARE(changePassword(kCamB, "newpass88", kPwdB), 0);   // anything sent before the answer has come
        QCOMPARE(refused.calls.load(), 0);
    }

    void playbackFromSecond()
    {
        QCOMPARE(connectTo(kCamA), 0);
        PlaySink sink;
        const char *file = "190225_08.10.00.h264";   // the second recording, 8 s long
        QVERIFY(P2P_Client_SDK_Start_Playback(m_handle, kCamA, file, onPlay, &sink, 2, kPwdA) > 0);
        Msg len;
        QVERIFY(g_msgs.waitFor(P2P_MSG_PLAY_LENGTH, kCamA, 10000, &len));
        QCOMPARE(len.at(0), 8);
        QVERIFY(QTest::qWaitFor([&] { return sink.calls.load() >= 40; }, 15000));
        QCOMPARE(P2P_Client_SDK_Stop_Playback(m_handle, kCamA, file), 0);
        const int after = sink.calls.load();
        QVERIFY(roundTrip(kCamA, kPwdA));   // what the camera sent before its answer has come
        QVERIFY(sink.calls.load() <= after + 1);   // a callback running at the stop may end
        QCOMPARE(P2P_Client_SDK_Stop_Playback(m_handle, kCamA, file), int(P2P_ERR_NOT_FOUND));
        std::lock_guard<std::mutex> lock(sink.mutex);
        // The application sees message 14 before the first data, whatever the
        // load: the order of the callbacks, not the test thread's wake-up.
        QVERIFY2(len.order < sink.firstDataOrder, "message 14 comes before the data");
        // Starts with the key frame at second 2, SPS first.
        QCOMPARE(sink.frames.front().first, 1);
        QVERIFY(sink.frames.front().second.startsWith(QByteArray("\0\0\0\1\x67", 5)));
        QCOMPARE(sink.seconds.front(), 2);
        for (const auto &frame : sink.frames)
            QVERIFY(frame.first == 1 || frame.first == 2);
        const Decoded r = decodeAnnexB(sink.video());
        QVERIFY(r.pictures >= 15);
        QCOMPARE(r.width, 320);
        QCOMPARE(r.errors, 0);
        // Unknown files and wrong passwords are refused.
        QCOMPARE(P2P_Client_SDK_Start_Playback(m_handle, kCamA, "nope.h264", onPlay, &sink, 0, kPwdA),
                 int(P2P_ERR_NOT_FOUND));
        QCOMPARE(P2P_Client_SDK_Start_Playback(m_handle, kCamA, file, onPlay, &sink, 0, "bad"),
                 int(P2P_ERR_REFUSED));
    }

    void playbackWaitsForEarlierMessageBounded()
    {
        QCOMPARE(connectTo(kCamA), 0);
        const char *file = "190225_08.40.00.h264";
        // Whatever fails below, the dispatcher must not stay blocked in the gate.
        struct Release
        {
            ~Release() { g_gate.set(g_gate.holdPlayLength, false); }
        } release;
        // 1. A message handler that is slow to take message 14: the data waits
        //    behind it instead of overtaking it.
        {
            PlaySink sink;
            g_gate.set(g_gate.holdPlayLength);
            QVERIFY(P2P_Client_SDK_Start_Playback(m_handle, kCamA, file, onPlay, &sink, 0, kPwdA) > 0);
            QVERIFY(QTest::qWaitFor([] { return g_gate.get(g_gate.inside); }, 10000));
            // The camera sends the data 100 ms ahead of message 14; live frames
            // it sends after them come in while the data waits (well inside the
            // library's bound of 2 s).
            char buffer[P2P_STREAM_DESCR_BUFFER];
            FrameSink live;
            QVERIFY(openStream(kCamA, kPwdA, live, buffer) > 0);
            QVERIFY(QTest::qWaitFor([&] { return live.videoCount() >= 8; }, 1500));
            QCOMPARE(sink.calls.load(), 0);
            QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer), 0);
            g_gate.set(g_gate.holdPlayLength, false);
            Msg len;
            QVERIFY(g_msgs.waitFor(P2P_MSG_PLAY_LENGTH, kCamA, 10000, &len));
            QVERIFY(QTest::qWaitFor([&] { return sink.calls.load() >= 10; }, 15000));
            QCOMPARE(P2P_Client_SDK_Stop_Playback(m_handle, kCamA, file), 0);
            std::lock_guard<std::mutex> lock(sink.mutex);
            QVERIFY(len.order < sink.firstDataOrder);
            QCOMPARE(sink.frames.front().first, 1);
        }
        // 2. A handler that never returns does not hold the playback forever.
        {
            g_msgs.clear();
            PlaySink sink;
            g_gate.set(g_gate.holdPlayLength);
            QVERIFY(P2P_Client_SDK_Start_Playback(m_handle, kCamA, file, onPlay, &sink, 0, kPwdA) > 0);
            const bool flowed = QTest::qWaitFor([&] { return sink.calls.load() >= 10; }, 15000);
            const bool stillHeld = g_gate.get(g_gate.inside);
            g_gate.set(g_gate.holdPlayLength, false);
            QVERIFY2(flowed, "playback data held behind a stuck message handler");
            QVERIFY(stillHeld);
            QVERIFY(g_msgs.waitFor(P2P_MSG_PLAY_LENGTH, kCamA, 10000));
            QCOMPARE(P2P_Client_SDK_Stop_Playback(m_handle, kCamA, file), 0);
            std::lock_guard<std::mutex> lock(sink.mutex);
            const Decoded r = decodeAnnexB(sink.video());
            QVERIFY(r.pictures >= 3);
            QCOMPARE(r.errors, 0);
        }
    }

    void download_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("cut");   // the camera stops sending after this many bytes; 0: never
        QTest::newRow("whole") << QByteArray("190225_08.20.00.h264") << 0;
        QTest::newRow("cut") << QByteArray("190225_08.30.00.h264") << 100000;
    }

    void download()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, cut);
        QCOMPARE(connectTo(kCamA), 0);
        const QByteArray whole = readFile(m_storage + QStringLiteral("/B765432/") + QLatin1String(file));
        QVERIFY2(whole.size() > 300 * 1024, QByteArray::number(whole.size()));   // more than one flow-control window
        const QByteArray expected = cut ? whole.left(cut) : whole;
        QCOMPARE(m_sim.command(QStringLiteral("B765432 cut-download %1").arg(cut)), QStringLiteral("OK cut-download"));
        DownloadSink sink;
        QVERIFY(P2P_Client_SDK_Start_Download(m_handle, kCamA, file, onDownload, &sink, 0, kPwdA) > 0);
        QVERIFY(QTest::qWaitFor([&] {
            std::lock_guard<std::mutex> lock(sink.mutex);
            return sink.data.size() >= expected.size();
        }, 20000));
        QVERIFY(roundTrip(kCamA, kPwdA));   // and nothing more came before the camera's answer
        QCOMPARE(P2P_Client_SDK_Stop_Download(m_handle, kCamA, file), 0);
        QCOMPARE(m_sim.command(QStringLiteral("B765432 cut-download 0")), QStringLiteral("OK cut-download"));
        std::lock_guard<std::mutex> lock(sink.mutex);
        QVERIFY(sink.contiguous);
        QCOMPARE(sink.data.size(), expected.size());
        QVERIFY(sink.data == expected);
        // The file is a camera recording: header and first chunk tag.
        QCOMPARE(sink.data.mid(512, 4), QByteArray("00dc"));
    }

    void stopAfterLogoutWaitsForCallback_data()
    {
        QTest::addColumn<bool>("download");
        QTest::newRow("playback") << false;
        QTest::newRow("download") << true;
    }

    // The session goes (logout) while a callback runs; the owner's stop then
    // finds no session. It must still return only after that callback, whose
    // user pointer the owner frees next.
    void stopAfterLogoutWaitsForCallback()
    {
        QFETCH(bool, download);
        P2P_HANDLE h = 0;
        QCOMPARE(::init(&h), 0);
        QCOMPARE(P2P_Client_SDK_Register(h, 0, 0), 0);
        QCOMPARE(P2P_Client_SDK_Connect_Peer(h, kCamA), 0);
        const char *file = "190225_08.50.00.h264";
        HeldCallback held;
        const int started = download ? P2P_Client_SDK_Start_Download(h, kCamA, file, onHeld, &held, 0, kPwdA)
                                     : P2P_Client_SDK_Start_Playback(h, kCamA, file, onHeld, &held, 0, kPwdA);
        QVERIFY(started > 0);
        QVERIFY(held.wait(held.entered, 15000));
        QCOMPARE(P2P_Client_SDK_UnRegister(h), 0);
        int stopped = 0;
        bool leftFirst = false;
        std::thread owner([&] {
            held.set(held.stopCalled);
            stopped = download ? P2P_Client_SDK_Stop_Download(h, kCamA, file) : P2P_Client_SDK_Stop_Playback(h, kCamA, file);
            leftFirst = held.get(held.left);
            held.set(held.stopReturned);
        });
        owner.join();
        QCOMPARE(stopped, int(P2P_ERR_NO_SESSION));
        QVERIFY2(leftFirst, "the stop returned while the callback still ran");
        QCOMPARE(P2P_Client_SDK_UnInit(h), 0);
    }

    // A late reply: the camera holds it while the client has none, and the
    // client takes it when it comes.
    void lateReplyIsTaken()
    {
        QCOMPARE(connectTo(kCamB), 0);
        QCOMPARE(m_sim.command(QStringLiteral("C100200 delay-replies 3000")), QStringLiteral("OK delay-replies"));
        QVERIFY(askPassword(m_handle, kCamB, kPwdB, 7) >= 0);
        QString held;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         held = m_sim.command(QStringLiteral("C100200 held-replies"));
                         return held.startsWith(QLatin1String("OK held-replies ")) && held.section(QLatin1Char(' '), 2).toInt() > 0;
                     },
                     10000),
                 qPrintable(held));
        QVERIFY(!g_msgs.waitFor(P2P_MSG_PASSWORD_CHECK_RSP, kCamB, 0));
        QVERIFY(g_msgs.waitFor(P2P_MSG_PASSWORD_CHECK_RSP, kCamB, 10000));
        QCOMPARE(m_sim.command(QStringLiteral("C100200 delay-replies 0")), QStringLiteral("OK delay-replies"));
    }

    void brokerKilledMidStream()
    {
        char buffer[P2P_STREAM_DESCR_BUFFER];
        FrameSink sink;
        QVERIFY(openFlowing(kCamA, kPwdA, sink, buffer));
        m_broker.kill();
        QVERIFY(waitSession(kCamA, P2P_SESSION_LOST, 5000));
        QVERIFY(m_broker.start());
        QVERIFY(waitSession(kCamA, P2P_SESSION_CONNECTED, 15000));
        QVERIFY(sink.grows(50, 10000));
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer), 0);
        QVERIFY(roundTrip(kCamA, kPwdA));   // messages work again too
        // What arrives after the outage still decodes.
        std::lock_guard<std::mutex> lock(sink.mutex);
        QVERIFY(decodeAnnexB(sink.video).pictures > 20);
    }

    void slowConsumerLosesFramesUpToKeyFrame()
    {
        varno::p2p::Client *client = varno::p2p::clientForHandle(m_handle);
        QVERIFY(client);
        const uint64_t droppedBefore = client->droppedFrames();
        char buffer[P2P_STREAM_DESCR_BUFFER];
        FrameSink sink;
        sink.slow = true;
        QVERIFY(openStream(kCamA, kPwdA, sink, buffer) > 0);
        // A consumer that takes 60 ms per NAL unit falls behind 25 fps.
        QVERIFY(QTest::qWaitFor([&] { return client->droppedFrames() > droppedBefore + 5; }, 20000));
        // Once it keeps up again, a few seconds of pictures arrive whole.
        const int recovered = sink.videoCount();
        sink.slow.store(false);
        QVERIFY(QTest::qWaitFor([&] { return sink.videoCount() >= recovered + 75; }, 30000));
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer), 0);
        std::lock_guard<std::mutex> lock(sink.mutex);
        // Whatever was delivered decodes: frames were only lost up to a key frame.
        const Decoded r = decodeAnnexB(sink.video);
        QVERIFY(r.pictures > 10);
        QCOMPARE(r.errors, 0);
    }

    // Frames the relay loses (live frames go without acknowledgement): the
    // camera's numbers show the gap, and video goes on from the next key frame.
    void framesLostOnTheWayWaitForKeyFrame()
    {
        varno::p2p::Client *client = varno::p2p::clientForHandle(m_handle);
        QVERIFY(client);
        const uint64_t missingBefore = client->missingFrames();
        char buffer[P2P_STREAM_DESCR_BUFFER];
        FrameSink sink;
        QVERIFY(openStream(kCamA, kPwdA, sink, buffer) > 0);
        QVERIFY(QTest::qWaitFor([&] { return sink.videoCount() > 10; }, 20000));
        QCOMPARE(m_sim.command(QStringLiteral("B765432 skip-frames 2")), QStringLiteral("OK skip-frames"));
        QVERIFY(QTest::qWaitFor([&] { return client->missingFrames() >= missingBefore + 2; }, 20000));
        const int after = sink.videoCount();
        QVERIFY(QTest::qWaitFor([&] { return sink.videoCount() >= after + 60; }, 30000));
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamA, buffer), 0);

        std::lock_guard<std::mutex> lock(sink.mutex);
        // Where the stamps jump (25 fps: 40 ms a picture), the picture after
        // the jump is a key frame.
        int jumps = 0;
        for (size_t i = 1; i < sink.stamps.size(); ++i) {
            if (sink.stamps[i] - sink.stamps[i - 1] <= 60)
                continue;
            ++jumps;
            bool key = false;
            for (size_t j = i; j < sink.stamps.size() && sink.stamps[j] == sink.stamps[i]; ++j)
                key = key || sink.nalTypes[j] == 5;
            QVERIFY2(key, qPrintable(QStringLiteral("P slices after the gap at %1 ms").arg(sink.stamps[i])));
        }
        QVERIFY(jumps >= 1);
    }

    // A slow camera (the user-interface benchmark's): the answer to a request
    // of its session is held, so the client's wait for it runs out.
    void slowCameraHoldsItsAnswers()
    {
        QCOMPARE(connectTo(kCamB), 0);
        QCOMPARE(m_sim.command(QStringLiteral("C100200 slow-answers 60000")), QStringLiteral("OK slow-answers"));
        char buffer[P2P_STREAM_DESCR_BUFFER];
        int32_t count = 0;
        QCOMPARE(P2P_Client_SDK_Get_StreamDescr(m_handle, kCamB, &count, buffer), int(P2P_ERR_TIMEOUT));
        QCOMPARE(m_sim.command(QStringLiteral("C100200 held-replies")), QStringLiteral("OK held-replies 1"));
        QCOMPARE(m_sim.command(QStringLiteral("C100200 slow-answers 0")), QStringLiteral("OK slow-answers"));
        QCOMPARE(P2P_Client_SDK_Get_StreamDescr(m_handle, kCamB, &count, buffer), 0);
    }

    // The calling thread's abort ends a connect to a camera that never answers
    // long before the library's time-out (a minute on this handle).
    void connectEndsWithTheCallersAbort()
    {
        QVERIFY(m_broker.writeClientConfig(QStringLiteral("timeout_ms = 60000\n")));
        P2P_HANDLE slow = 0;
        const int initResult = ::init(&slow);
        QVERIFY(m_broker.writeClientConfig());
        QCOMPARE(initResult, 0);
        const auto release = qScopeGuard([slow] { P2P_Client_SDK_UnInit(slow); });
        QCOMPARE(P2P_Client_SDK_Register(slow, 0, 0), 0);
        const char *const silent = "VRNX-000000-NOONE";
        varno::CallAbort abort;
        std::atomic<int> result{1};
        std::thread caller([&] {
            const varno::CallAbortScope scope(&abort);
            result = P2P_Client_SDK_Connect_Peer(slow, silent);
        });
        const auto join = qScopeGuard([&caller] { caller.join(); });
        int32_t status = -1;
        QTRY_VERIFY_WITH_TIMEOUT(P2P_Client_SDK_Get_Session_Status(slow, silent, &status) == 0
                                     && status == P2P_SESSION_CONNECTING, 20000);
        abort.raise();
        QTRY_VERIFY_WITH_TIMEOUT(result.load() == P2P_ERR_NOT_FOUND || result.load() == P2P_ERR_TIMEOUT, 20000);
        P2P_Client_SDK_Get_Session_Status(slow, silent, &status);
        QCOMPARE(status, int(P2P_SESSION_NONE));
    }

private:
    int connectTo(const char *camera)
    {
        int32_t status = 0;
        P2P_Client_SDK_Get_Session_Status(m_handle, camera, &status);
        if (status == P2P_SESSION_CONNECTED)
            return 0;
        return P2P_Client_SDK_Connect_Peer(m_handle, camera);
    }

    bool waitSession(const char *camera, int32_t status, int timeoutMs)
    {
        return QTest::qWaitFor([&] {
            int32_t now = -1;
            P2P_Client_SDK_Get_Session_Status(m_handle, camera, &now);
            return now == status;
        }, timeoutMs);
    }

    // A password check answered by the camera: everything the camera sent
    // before its answer has been handed to the callbacks when this returns true.
    bool roundTrip(const char *camera, const char *password)
    {
        const int answers = int(g_msgs.ofType(P2P_MSG_PASSWORD_CHECK_RSP, camera).size());
        return askPassword(m_handle, camera, password, 4242) >= 0
            && g_msgs.waitFor(P2P_MSG_PASSWORD_CHECK_RSP, camera, 5000, nullptr, answers + 1);
    }

    // Asks for the recordings from 2019-02-20 up to endTime (message 10).
    int searchRecords(const char *camera, const char *password, int32_t seq, const QByteArray &endTime)
    {
        RECORD_SEARCH_REQ_S req{};
        req.seq = seq;
        std::strcpy(req.startTime, "2019-02-20 00:00:00");
        varno::p2p::putField(reinterpret_cast<uint8_t *>(req.endTime), sizeof(req.endTime), endTime.toStdString());
        return deliver(m_handle, camera, P2P_MSG_RECORD_SEARCH, req, password, seq);
    }

    // Connects, reads the camera's stream descriptions into buffer and opens
    // its first stream (or the one of index, marked as chosen) into sink: the
    // open's result, or the first failing call's.
    int openStream(const char *camera, const char *password, FrameSink &sink, char *buffer, int index = -1)
    {
        int32_t count = 0;
        int ret = connectTo(camera);
        if (ret != 0 || (ret = P2P_Client_SDK_Get_StreamDescr(m_handle, camera, &count, buffer)) != 0)
            return ret;
        char *entry = buffer + std::max(index, 0) * P2P_STREAM_DESCR_SIZE;
        const int32_t one = 1;
        if (index >= 0)
            std::memcpy(entry + 72, &one, 4);
        const int32_t params[3] = {1, 5, 0};
        return P2P_Client_SDK_Open_Stream(m_handle, camera, entry, onFrame, &sink, params, password, 0);
    }

    // Opens the first stream and waits for its first ten NAL units.
    bool openFlowing(const char *camera, const char *password, FrameSink &sink, char *buffer)
    {
        return openStream(camera, password, sink, buffer) > 0
            && QTest::qWaitFor([&] { return sink.videoCount() >= 10; }, 5000);
    }

    // Sends a password change (message 34) and returns the answer's result.
    int changePassword(const char *camera, const char *oldPwd, const char *newPwd)
    {
        PASSWORD_CHANGE_REQ_S req{};
        req.random = 99;
        std::strcpy(req.newPassword, newPwd);
        g_msgs.clear();
        if (deliver(m_handle, camera, P2P_MSG_PASSWORD_CHANGE, req, oldPwd, req.random) < 0)
            return -100;
        Msg m;
        if (!g_msgs.waitFor(P2P_MSG_PASSWORD_CHANGE_RSP, camera, 5000, &m) || m.payload.size() != 80)
            return -101;
        return int(m.at(76));
    }

    MqttBroker m_broker;
    CamSimProcess m_sim;
    P2P_HANDLE m_handle = 0;
    QString m_storage;
};

void TestP2pClient::initTestCase()
{
    QVERIFY2(QFile::exists(CamSimProcess::programPath()), "varno-camsim not built");
    QVERIFY(m_broker.start());
    QVERIFY(m_broker.writeClientConfig());
    m_storage = tempRoot() + QStringLiteral("/camera-storage");
    const QStringList cameras{
        QStringLiteral(R"({ "kind": "p2p", "deviceId": "B765432", "p2pId": "VRNB-765432-KXPQT", "name": "Gate",
      "password": "abc123",
      "hd": { "width": 320, "height": 180, "fps": 25, "kbps": 400, "noise": 6 },
      "sd": { "width": 160, "height": 90, "fps": 25, "kbps": 100 },
      "toneHz": 440,
      "recordings": { "count": 64, "seconds": 8, "first": "2019-02-25 08:00:00",
                      "intervalSeconds": 600, "form": "extended" } })"),
        QStringLiteral(R"({ "kind": "p2p", "deviceId": "C100200", "p2pId": "VRNC-100200-ABCDE", "name": "Yard",
      "password": "pw9999",
      "hd": { "width": 160, "height": 90, "fps": 25, "kbps": 100, "loopSeconds": 2 },
      "sd": { "width": 160, "height": 90, "fps": 25, "kbps": 80, "loopSeconds": 2 },
      "recordings": { "count": 127, "seconds": 1, "first": "2019-02-26 00:00:00",
                      "intervalSeconds": 60, "form": "basic" } })")};
    QVERIFY2(m_sim.start(simConfig(m_broker.port(), m_storage, cameras)), qPrintable(m_sim.error()));
    QCOMPARE(::init(&m_handle), 0);
    QVERIFY(m_handle != 0);
    QCOMPARE(P2P_Client_SDK_Set_StatusCB(m_handle, onStatus, m_handle), 0);
    QCOMPARE(P2P_Client_SDK_Set_MsgCB(m_handle, onMessage, nullptr), 0);
    QCOMPARE(P2P_Client_SDK_Register(m_handle, 0, 0), 0);
}

QTEST_GUILESS_MAIN(TestP2pClient)
#include "tst_p2pclient.moc"
