#pragma once

#include "common/p2precords.h"
#include "platform/p2p/p2p_wire.h"
#include "tools/camsim/camerastorage.h"
#include "tools/camsim/medialoop.h"
#include "tools/camsim/simcamera.h"

#include <QDateTime>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace varno::camsim {

// The device side of a camera reached by camera ID through the relay: its
// presence and license, sessions, stream descriptions and live streams,
// playback and download of its recordings, and the camera messages
// (recording search, password check and change, alarm log).
//
// Control commands (after the camera's ID):
//   offline | online                   leave the relay (last-will style) and come back
//   stall <0|1|all> on|off             stop sending a live stream's frames, and resume
//   notice <type> [value]              send message 87, 88, 73 (or any type) to every session
//   raw <type> <hex>                   send message type with these payload bytes to every session
//   refuse-password on|off             every password is taken as wrong
//   drop-replies <n>                   the next n message replies are not sent
//   delay-replies <ms>                 message replies leave ms later (0: at once)
//   slow-answers <ms>                  a slow camera: the answer to every request of a session
//                                      (its opening included) and every message reply leaves ms
//                                      later, the live, playback and download data they start
//                                      follows them (0: at once; "answerDelayMs" in the file)
//   held-replies                       how many delayed replies wait to leave
//   cut-download <bytes>               downloads end after that many bytes (0: off)
//   password                           prints the password the camera keeps
//   stats                              sessions, streams, frames sent
//   fail-descr <n>                     the next n stream description requests are refused
//   descr-count <0|1|2>                how many stream descriptions the camera reports
//   no-key on|off                      live streams leave out every key frame
//   unretain                           the relay forgets the retained presence and license
//                                      (as a clustered relay whose other node never had them)
//   ptz                                the head: position, moves and stops taken, last velocities,
//                                      presets, whether it moves
class P2pCamera : public SimCamera
{
public:
    P2pCamera(const P2pCameraConfig &config, const BrokerConfig &broker, const QString &storage);
    ~P2pCamera() override;
    P2pCamera(const P2pCamera &) = delete;
    P2pCamera &operator=(const P2pCamera &) = delete;

    QString id() const override { return m_config.deviceId; }
    QString kind() const override { return QStringLiteral("p2p"); }
    bool start(QString *error) override;
    void stop() override;
    QString control(const QStringList &args) override;

    const VideoLoop &video(int stream) const { return stream == 0 ? m_hd : m_sd; }
    const CameraStorage &storage() const { return m_storage; }
    std::string password() const;
    uint64_t framesSent() const { return m_framesSent.load(); }
    // Called with (stream, frame number, monotonic send time us) for every
    // live video frame published; for in-process benchmarks.
    void setFrameObserver(std::function<void(int, uint32_t, int64_t)> observer);

    // The head of a camera with "ptz": pan and tilt -1 .. 1, zoom 0 .. 1;
    // velocity 1000 crosses half the range per second.
    struct PtzHead
    {
        double pan = 0;
        double tilt = 0;
        double zoom = 0;
        int32_t panSpeed = 0;      // thousandths, as commanded
        int32_t tiltSpeed = 0;
        int32_t zoomSpeed = 0;
        int32_t lastPan = 0;       // velocities of the last move taken
        int32_t lastTilt = 0;
        int32_t lastZoom = 0;
        int moves = 0;
        int stops = 0;
        std::string mover;         // client whose session started the running move
    };
    PtzHead ptzHead();

private:
    struct LiveSub
    {
        bool open = false;
        size_t pos = 0;
        int64_t nextDueUs = 0;
        uint32_t frameNo = 0;
        size_t tonePos = 0;
        int64_t t0Ms = 0;
        std::shared_ptr<LiveVideo> view;   // a camera with a head: pictures as it looks
    };
    struct Playback
    {
        std::string name;
        std::vector<uint8_t> file;
        std::vector<FileChunk> chunks;
        size_t next = 0;
        int64_t wallStartUs = 0;
        uint64_t baseTs = 0;
        uint64_t fileStartTs = 0;
        uint32_t seq = 0;
    };
    struct Download
    {
        std::string name;
        std::vector<uint8_t> file;
        uint32_t offset = 0;
        uint32_t acked = 0;
        int64_t lastAckMs = 0;
        int64_t notBeforeMs = 0;   // a slow camera's data follows its answer
    };
    struct SearchState
    {
        bool valid = false;
        QDateTime start;
        QDateTime end;
        QDateTime lastSent;
        size_t cursor = 0;
    };
    struct Session
    {
        uint32_t id = 0;
        int64_t lastHeardMs = 0;
        LiveSub live[2];
        std::map<uint32_t, Playback> playbacks;
        std::map<uint32_t, Download> downloads;
        SearchState search;
    };
    struct Delayed
    {
        int64_t dueMs;
        std::string topic;
        std::vector<uint8_t> payload;
    };

    static void onConnect(mosquitto *, void *obj, int rc);
    static void onMessage(mosquitto *, void *obj, const mosquitto_message *msg);
    static void onPublished(mosquitto *, void *obj, int mid);
    // Publishes at QoS 1 and waits (at most timeoutMs) until the relay has it.
    bool publishConfirmed(const std::string &topic, const std::vector<uint8_t> &payload, bool retain,
                          int timeoutMs);

    bool connectRelay(QString *error);
    void disconnectRelay();
    void announce();
    std::vector<uint8_t> identityBody() const;
    void handle(const p2p::Envelope &env);
    void handleMessage(Session &s, const std::string &client, const p2p::Envelope &env);
    bool authOk(const uint8_t *auth) const;
    bool tokenOk(const char *token, int32_t number) const;
    std::string replyTopic(const std::string &client) const;
    void reply(const std::string &client, const Session &s, p2p::Kind kind, uint32_t request,
               uint32_t channel, int32_t status, const void *body, size_t size, int qos = 1);
    void sendMessage(const std::string &client, const Session &s, int32_t type, const void *payload,
                     size_t size);
    void publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos, bool retain);
    std::vector<uint8_t> descriptions() const;
    void recordSearch(Session &s, const std::string &client, const uint8_t *p, size_t n);
    // The PTZ messages (160 .. 169); false for any other type.
    bool handlePtz(Session &s, const std::string &client, int32_t type, const uint8_t *p, size_t n);
    void advancePtz();                     // m_mutex held
    void sessionEnds(const std::string &client); // m_mutex held: a move it started stops
    void alarmSearch(Session &s, const std::string &client, const uint8_t *p, size_t n);
    void pumpLoop();
    void pumpOnce();

    P2pCameraConfig m_config;
    const BrokerConfig m_broker;
    const QString m_storageDir;
    VideoLoop m_hd;
    VideoLoop m_sd;
    std::vector<uint8_t> m_tone;
    CameraStorage m_storage;
    std::vector<ALARM_ITEM_S> m_alarms;

    mosquitto *m_mosq = nullptr;
    bool m_loop = false;
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_leaving{false}; // offline announced, the disconnect follows

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_password;
    std::map<std::string, Session> m_sessions;   // by client ID
    std::vector<Delayed> m_delayed;
    bool m_stalled[2] = {false, false};
    bool m_refusePassword = false;
    int m_failDescr = 0;
    int m_descrCount = 2;
    bool m_noKey = false;
    int m_skipFrames = 0;   // P frames still to leave out of the live streams
    int m_dropReplies = 0;
    int m_delayMs = 0;
    int m_answerDelayMs = 0;
    uint32_t m_cutDownload = 0;
    std::function<void(int, uint32_t, int64_t)> m_frameObserver;
    struct PtzPreset
    {
        std::string name;
        double pan = 0;
        double tilt = 0;
        double zoom = 0;
    };
    PtzHead m_head;
    uint32_t m_seed = 0;
    int64_t m_headSinceUs = 0;
    std::map<int32_t, PtzPreset> m_presets;

    std::thread m_pump;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_framesSent{0};

    std::mutex m_ackMutex;
    std::condition_variable m_ackCv;
    std::vector<int> m_acked;   // message IDs the relay confirmed, for publishConfirmed
};

} // namespace varno::camsim
