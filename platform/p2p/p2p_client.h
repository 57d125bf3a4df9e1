#pragma once

// Inner working of the P2P client library: one Client per initialised
// handle. Threads:
//   - the MQTT network thread (libmosquitto) decodes incoming envelopes and
//     only queues work; it never runs a user callback and never waits;
//   - the dispatcher thread runs the message and status callbacks;
//   - one delivery thread per open live stream, playback and download runs
//     that channel's data callback;
//   - the housekeeping thread sends pings, notices lost sessions,
//     re-establishes them and joins finished delivery threads.

#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2p_wire.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;
struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace varno::p2p {

struct ClientConfig
{
    std::string host = "127.0.0.1";
    int port = 1883;
    int keepAliveS = 10;
    int requestTimeoutMs = 3000;   // bounded wait of every blocking call
    bool tls = false;
    std::string caFile;            // with tls
    // Broker credentials; when user is empty the init block's account
    // string and application key are used, on a loopback relay only. The
    // user is also the installation's client ID (its inbox).
    std::string user;
    std::string password;
    // How long a license lookup waits for a camera's answer once the relay
    // had no retained license to hand over.
    int lookupMs = 1000;
};

// Reads "key = value" lines (host, port, keepalive, timeout_ms, tls,
// cafile, user, password, lookup_ms); '#' starts a comment. A missing file
// gives the defaults.
ClientConfig readConfig(const std::string &path);

// Session states reported by Get_Session_Status.
enum SessionState : int32_t {
    kSessionNone = 0,
    kSessionConnecting = 1,
    kSessionLost = 2,       // relay or camera went away; being re-established
    kSessionUp = P2P_SESSION_CONNECTED,
};

// Status callback events (first argument).
enum : int32_t {
    kEventRelayUp = 1,
    kEventRelayDown = 2,
    kEventSessionUp = 3,    // value: session number
    kEventSessionLost = 4,
};

// One unit of queued data for a delivery thread.
struct DeliveryItem
{
    uint8_t media = 0;
    uint8_t flags = 0;
    int32_t value = 0;      // live: time stamp ms; playback: second; download: offset
    int64_t sentUs = 0;     // live: the camera's send time
    uint64_t dispatchMark = 0;   // playback: messages queued for the dispatcher before this item
    std::vector<uint8_t> data;
};

// A queue and its thread that hands data to one user callback. A channel is
// always owned through std::shared_ptr: while a callback runs, its thread
// holds the channel too, so that an owner may let go of it inside the
// callback (the channel then ends on its own thread, which leaves at once).
class Channel : public std::enable_shared_from_this<Channel>
{
public:
    enum class Type { Live, Playback, Download };

    Channel(Type type, uint32_t id, size_t maxItems, size_t maxBytes);
    ~Channel();
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    Type type() const { return m_type; }
    uint32_t id() const { return m_id; }

    // Called for every item on the delivery thread.
    void start(std::function<void(DeliveryItem &)> deliver);
    // Network thread. Returns false when the item was dropped.
    bool push(DeliveryItem &&item);
    // Network thread, live: a video frame's number, before its push. Returns
    // how many frames before it never came (the relay sends live frames
    // without acknowledgement); video is then dropped up to the next key
    // frame, as for a full queue.
    uint32_t noteVideoNumber(uint32_t number);
    // Stops taking items; the thread ends after the callback that runs.
    void requestStop();
    // Joins unless called on the delivery thread itself. Returns false when
    // the thread was still busy after timeoutMs (it is then left to end).
    bool join(int timeoutMs);
    bool finished() const { return m_core->finished.load(); }
    bool stopping() const { return m_core->stop.load(); }
    bool onDeliveryThread() const;
    uint64_t lostItems() const { return m_lost.load(); }

    // Re-establishment data (guarded by the client's mutex).
    std::string password;
    std::string fileName;
    std::string camera;            // playback and download: the camera's ID
    std::vector<uint8_t> descr;    // live: the 195-byte entry (the callback's description)
    int32_t params[3] = {0, 0, 0};
    int32_t streamIndex = 0;
    std::atomic<int32_t> lastSecond{0};
    std::atomic<uint32_t> nextOffset{0};   // download: next byte the user has not had
    uint32_t fileSize = 0;
    uint32_t queuedEnd = 0;                // download: end of the data queued so far
    bool ended = false;

private:
    // What the delivery thread waits on. The thread shares it, so that it
    // outlives a channel that ends on that thread.
    struct Core
    {
        std::atomic<std::thread::id> threadId{};
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<DeliveryItem> queue;
        size_t bytes = 0;
        std::atomic<bool> stop{false};
        std::atomic<bool> finished{false};
    };

    static void run(const std::shared_ptr<Core> &core, const std::weak_ptr<Channel> &channel);

    const Type m_type;
    const uint32_t m_id;
    const size_t m_maxItems;
    const size_t m_maxBytes;
    const std::shared_ptr<Core> m_core;
    std::function<void(DeliveryItem &)> m_deliver;
    std::thread m_thread;
    bool m_waitKey = false;
    bool m_haveNumber = false;   // with the core's mutex, as m_waitKey
    uint32_t m_lastNumber = 0;
    std::atomic<uint64_t> m_lost{0};
};

// How far the dispatcher has got: messages queued and messages handed to
// the callbacks (or dropped at shutdown). Shared with delivery threads so
// that a playback's first data never overtakes a message that arrived
// before it (message 14, the file's length, above all).
struct DispatchProgress
{
    std::atomic<uint64_t> queued{0};
    std::atomic<uint64_t> done{0};
    std::atomic<bool> stopped{false};

    // Waits until every message queued before mark has been handed over,
    // the channel stops, the dispatcher ends or timeoutMs passes.
    void waitFor(uint64_t mark, const Channel &channel, int timeoutMs) const;
};

class Client
{
public:
    Client(const ClientConfig &config, const std::string &account, const std::string &appKey);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void setStatusCallback(P2P_STATUS_CB cb, intptr_t user);
    void setMessageCallback(P2P_MSG_CB cb, void *user);

    int registerRelay();
    int unregisterRelay();
    int sessionStatus(const char *cameraId, int32_t *status);
    int peerPresence(const char *cameraId, int32_t *online, int32_t *version);
    int connectPeer(const char *cameraId);
    int streamDescr(const char *cameraId, int32_t *count, char *buffer);
    int openStream(const char *cameraId, char *descr, P2P_FRAME_CB cb, void *user,
                   const int32_t params[3], const char *password);
    int closeStream(const char *cameraId, const char *descr);
    int startPlayback(const char *cameraId, const char *fileName, P2P_PLAYBACK_CB cb, void *user,
                      int32_t startSecond, const char *password);
    int stopPlayback(const char *cameraId, const char *fileName);
    int startDownload(const char *cameraId, const char *fileName, P2P_DOWNLOAD_CB cb, void *user,
                      uint32_t offset, const char *password);
    int stopDownload(const char *cameraId, const char *fileName);
    int deliverMessage(const char *cameraId, int32_t type, const char *payload, int32_t length);
    int deviceLicense(const char *deviceId, char p2pId[64]);

    // Every MQTT message the broker hands over goes through here (network
    // thread). Public so that tests and the fuzz target can feed raw bytes.
    void handleIncoming(const char *topic, const void *data, size_t size);

    const std::string &clientId() const { return m_clientId; }
    // Frames dropped by the bounded live queues (all streams), for tests.
    uint64_t droppedFrames() const { return m_dropped.load(); }
    // Live video frames that never arrived (gaps in the cameras' numbers).
    uint64_t missingFrames() const { return m_missing.load(); }
    // Envelopes dropped as malformed, for tests.
    uint64_t droppedEnvelopes() const { return m_badEnvelopes.load(); }
    // SessionOpen envelopes sent (connects and re-establishments), for tests.
    uint64_t sessionOpensSent() const { return m_sessionOpens.load(); }

    // Test and fuzz seam: a session in state Up with one live stream, one
    // playback and one download channel whose callbacks do nothing, so that
    // incoming data has somewhere to go without a camera.
    void addTestSession(const std::string &cameraId, uint32_t sessionId, P2P_FRAME_CB liveCallback = nullptr,
                        void *liveUser = nullptr);

private:
    int abandonTransfer(const std::string &cam, const std::shared_ptr<Channel> &ch, bool answered, int status);
    int stopTransfer(const char *cameraId, const char *fileName, Channel::Type type, Kind stopKind,
                     const char *what, const char *caller);
    struct Pending
    {
        Kind expect;
        bool done = false;
        int32_t status = 0;
        std::vector<uint8_t> body;
    };

    struct Session
    {
        std::string cameraId;
        std::string deviceId;
        uint32_t id = 0;
        int32_t state = kSessionNone;
        bool presenceSeen = false;
        bool online = false;
        uint32_t version = 1;      // protocol version the camera announced
        int64_t probeDueMs = 0;    // presence probe planned (0: none)
        uint32_t probeRequest = 0; // request number of the last probe (0: none)
        int64_t lastProbeMs = 0;
        int64_t lastHeardMs = 0;
        int64_t lastPingMs = 0;
        int64_t lastRetryMs = 0;
        uint32_t reopenRequest = 0;
        // Password changes delivered and not answered yet: the request's
        // number (echoed by the answer) and the new password.
        std::vector<std::pair<int32_t, std::string>> passwordChanges;
        std::shared_ptr<Channel> streams[2];
        std::map<uint32_t, std::shared_ptr<Channel>> transfers;   // playback and download
    };

    struct DispatchItem
    {
        bool isStatus = false;
        int32_t type = 0;          // message type or status event
        int32_t value = 0;
        std::string cameraId;
        std::vector<uint8_t> payload;
    };

    static void onConnect(mosquitto *mosq, void *obj, int rc);
    static void onDisconnect(mosquitto *mosq, void *obj, int rc);
    static void onMessage(mosquitto *mosq, void *obj, const mosquitto_message *msg);

    void relayConnected(int rc);
    void relayDisconnected(int rc);
    int publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos);
    int sendToCamera(const Session &s, Kind kind, uint32_t request, uint32_t channel,
                     int32_t status, const void *body, size_t size, int qos = 1);
    uint32_t nextRequest();
    std::shared_ptr<Pending> addPending(uint32_t request, Kind expect);
    // Waits for the pending reply with the lock held on entry and exit.
    bool waitPending(std::unique_lock<std::mutex> &lock, uint32_t request,
                     const std::shared_ptr<Pending> &pending, int timeoutMs);
    Session *findSession(const std::string &cameraId);
    Session *sessionForEnvelope(const Envelope &env);

    // From the camera's presence topic, or an answer to a probe on the
    // client's inbox.
    void handlePresence(const Envelope &env, bool onInbox);
    // Whether the camera is known to speak version 3 (it never sends on the
    // shared inbox).
    bool claimsProvenSender(const std::string &cameraId);
    void handleLicense(const char *topic, const Envelope &env);
    void handleLookupAnswer(const Envelope &env);
    void sendProbe(Session &s);
    void handleReply(const Envelope &env);
    void handleFrame(const Envelope &env);
    void handlePlayData(const Envelope &env);
    void handleDownloadData(const Envelope &env);
    void handleTransferEnd(const Envelope &env);
    void handleMessage(const Envelope &env);
    // A password change the camera accepted: every open stream and transfer
    // of the session re-opens with the new password from now on.
    void notePasswordChange(Session &s, const uint8_t *reply, size_t size);
    void dropEnvelope(const char *topic, const char *reason);

    void dispatch(DispatchItem &&item);
    void dispatcherLoop();
    void housekeepingLoop();
    void markLost(Session &s, const char *why);
    void reestablish(Session &s);
    void resumeChannels(Session &s);
    void resumeChannelsFor(const std::string &cameraId);
    void retire(const std::shared_ptr<Channel> &channel);
    std::vector<std::shared_ptr<Channel>> takeRetired(const std::string &cameraId, const std::string &fileName,
                                                      Channel::Type type);
    void stopAllChannels(Session &s, bool wait);

    std::shared_ptr<Channel> makeLiveChannel(Session &s, int index, const std::vector<uint8_t> &descr,
                                             P2P_FRAME_CB cb, void *user);
    void authBody(uint8_t *out, const std::string &password);
    // The TLS context of the relay connection: our own, so that a
    // certificate the client does not accept is named in the log instead of
    // ending as "not reachable".
    bool setUpTls();
    static int verifyPeer(int preverified, x509_store_ctx_st *store);
    std::string takeCertificateProblem();
    void noteRelayFailure(int rc);

    const ClientConfig m_config;
    const std::string m_account;
    const std::string m_appKey;
    std::string m_clientId;
    mosquitto *m_mosq = nullptr;
    bool m_loopRunning = false;
    std::string m_relayDownLogged;    // under m_registerMutex: the failure last said
    ssl_ctx_st *m_tlsContext = nullptr;
    std::mutex m_tlsMutex;
    std::string m_certificateProblem;  // under m_tlsMutex: the last refused certificate
    std::mutex m_registerMutex;        // serialises Register / UnRegister

    std::mutex m_mutex;                // sessions, pending, callbacks, channel ids
    std::condition_variable m_cv;
    std::atomic<bool> m_connected{false};
    bool m_everConnected = false;
    std::map<std::string, Session> m_sessions;
    std::map<uint32_t, std::shared_ptr<Pending>> m_pending;
    std::map<std::string, std::shared_ptr<Pending>> m_licenses;   // by device ID
    struct Lookup
    {
        std::string deviceId;
        std::shared_ptr<Pending> answer;
    };
    std::map<uint32_t, Lookup> m_lookups;                         // by request number
    std::map<uint32_t, std::string> m_reopening;                  // request -> camera ID
    uint32_t m_requestCounter = 0;
    uint32_t m_channelCounter = 0;
    std::vector<std::shared_ptr<Channel>> m_retired;

    P2P_STATUS_CB m_statusCb = nullptr;
    intptr_t m_statusUser = 0;
    P2P_MSG_CB m_msgCb = nullptr;
    void *m_msgUser = nullptr;

    std::mutex m_dispatchMutex;
    std::condition_variable m_dispatchCv;
    std::deque<DispatchItem> m_dispatchQueue;
    size_t m_dispatchBytes = 0;
    std::thread m_dispatcher;
    std::shared_ptr<DispatchProgress> m_progress = std::make_shared<DispatchProgress>();
    std::thread m_housekeeper;
    std::atomic<bool> m_stop{false};

    std::mutex m_logMutex;
    int64_t m_logWindowMs = 0;
    uint32_t m_logLines = 0;
    uint32_t m_logSuppressed = 0;

    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_missing{0};
    std::atomic<uint64_t> m_badEnvelopes{0};
    std::atomic<uint64_t> m_sessionOpens{0};
};

// The client behind a handle (null when unknown), for tests.
Client *clientForHandle(P2P_HANDLE handle);

int64_t monotonicMs();
int64_t monotonicUs();

// Called first on every thread of the library (dispatcher, housekeeper,
// delivery threads, and the network thread at its first callback): installs
// the crash handler's stack there and marks the thread as the library's.
void enterLibraryThread();
// Whether the calling thread is one of the library's own: a handle cannot be
// released there (its destructor would join the thread it runs on).
bool onLibraryThread();

// Inside a live frame callback: the camera's send time of the frame being
// delivered (monotonic microseconds, comparable across processes of one
// machine); 0 elsewhere. Used to measure the relay's added latency.
int64_t currentFrameSentUs();

} // namespace varno::p2p
