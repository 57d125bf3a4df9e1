#pragma once

#include "common/callabort.h"
#include "common/p2pmessage.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace varno::live {

// The camera the pad steers: an ONVIF camera by its device service address,
// or a P2P camera by its camera ID. Copied into every command.
struct PtzCamera
{
    QString devId;
    QString name;              // display name, for messages
    bool p2p = false;
    QString serviceAddr;       // ONVIF device service
    QString profileToken;      // the media profile shown (preferred when it has a PTZ configuration)
    QString p2pId;             // P2P camera ID
    QString password;

    bool isValid() const { return !devId.isEmpty(); }
};

// Pan, tilt and zoom commands of the live page, without widgets. The
// window calls it on the user-interface thread and never waits: commands go
// into a bounded queue that one worker thread (owned, stopped and joined
// here) sends to the camera in order. Moves and stops coalesce: a move or
// stop that waits in the queue is replaced by the next one of its kind, so
// a held button never piles up requests behind a slow camera. Answers come
// back as signals emitted on the owner's thread (queued from the worker).
//
// Velocities are in the generic spaces: pan and tilt -1 .. 1 (right and up
// positive), zoom -1 .. 1 (in positive).
class PtzController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PtzController)

public:
    // Commands that may wait at once; more are refused (commandFailed).
    static constexpr int kMaxQueued = 8;
    // How long the worker waits for a P2P camera's answer.
    static constexpr int kP2pAnswerMs = 5000;

    explicit PtzController(QObject *parent = nullptr);
    ~PtzController() override;

    // --- User-interface thread ----------------------------------------------
    // The camera the commands go to; a move that runs on the previous camera
    // is stopped first. An invalid camera: none.
    void setCamera(const PtzCamera &camera);
    PtzCamera camera() const { return m_camera; }
    // Asks whether the camera can pan, tilt or zoom: capabilityKnown follows
    // (also for a camera that does not answer: ptz false, answered false).
    void probe(const PtzCamera &camera);
    // Starts a continuous move of the current camera (replaces one that runs).
    void move(double pan, double tilt, double zoom);
    // Stops the current camera when a move was sent to it; false when nothing moved.
    bool stop();
    bool moving() const { return m_moving; }
    void refreshPresets();
    void gotoPreset(const QString &token);
    void setPreset(const QString &name);
    void removePreset(const QString &token, const QString &name);

    // --- Any thread -------------------------------------------------------------
    int queued() const;
    // Commands the worker finished (sent or failed), for tests.
    int done() const { return m_done; }

public slots:
    // Camera messages from the P2P library (any thread): the answer the
    // worker waits for is taken, every other message ignored.
    void recvP2pMessage(P2pMessage_S message);

signals:
    // answered false: the camera could not be asked (no answer, password);
    // the result is then no capability to remember.
    void capabilityKnown(QString devId, bool ptz, bool answered);
    void presetsLoaded(QString devId, QStringList tokens, QStringList names);
    // A preset was stored (added true) or removed, for the operation log.
    void presetChanged(QString devId, QString name, bool added);
    // One line for the window's tip area.
    void commandFailed(QString devId, QString text);

private:
    enum class Kind { Probe, Move, Stop, Presets, Goto, SetPreset, RemovePreset };
    struct Command
    {
        Kind kind = Kind::Stop;
        PtzCamera camera;
        double pan = 0;
        double tilt = 0;
        double zoom = 0;
        QString token;
        QString name;
    };

    void enqueue(Command cmd);
    void run();
    void execute(const Command &cmd);
    // 0 ok, else a SoapError; sets *hasPtz when the camera has none.
    int targetOf(const PtzCamera &camera, bool *hasPtz, bool probeAgain);
    QString failureText(const PtzCamera &camera, int code) const;
    void executeP2p(const Command &cmd);
    // Sends one PTZ message and waits for its answer; 0 with the answer's
    // payload, 1 when the controller stops, else a P2P_ERR_* code
    // (P2P_ERR_TIMEOUT: none came).
    int askP2p(const PtzCamera &camera, int32_t type, const void *request, int size, int32_t nonce,
               int32_t answerType, QByteArray *answer);
    template <typename F>
    void post(F &&f);

    PtzCamera m_camera;                 // user-interface thread
    bool m_moving = false;              // user-interface thread

    mutable std::mutex m_mutex;         // guards m_queue
    std::condition_variable m_cv;
    std::deque<Command> m_queue;
    std::atomic<bool> m_stop{false};
    varno::CallAbort m_callAbort;       // raised by the destructor: ends a P2P connect in progress
    std::atomic<int> m_done{0};
    // Worker thread only: PTZ service and profile by device ID.
    struct Target
    {
        std::string ptzAddr;
        std::string profileToken;
    };
    std::map<QString, Target> m_targets;
    // The P2P answer the worker waits for (guarded by m_mutex).
    struct Awaited
    {
        bool active = false;
        bool arrived = false;
        QString cameraId;           // as the message carries it (31 characters at most)
        int32_t type = 0;
        int32_t nonce = 0;
        QByteArray payload;
    };
    Awaited m_awaited;
    std::thread m_thread;
};

} // namespace varno::live
