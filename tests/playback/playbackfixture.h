#pragma once

// Scaffolding shared by the playback tests: recordings written through the
// recording file library, record folders and disk space the search and the
// download see, a virtual clock that shows an engine's pacing without
// waiting for it, and the simulator's cameras with recordings.

#include "../support/camsimprocess.h"
#include "../support/mqttbroker.h"
#include "common/crashhandler.h"
#include "common/devicerecords.h"
#include "common/mediarecords.h"
#include "common/p2pmessage.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/recfile/record_local.h"
#include "playback/qmediaplay.h"
#include "playback/storageaccess.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class fileplay;
class QWidget;

namespace pbtest {

struct RecordingOptions
{
    QString devId = QStringLiteral("B765432");
    int fps = 25;
    int seconds = 2;
    int width = 160;
    int height = 120;
    int sampleRate = 8000;    // 0: no sound
    bool aac = false;         // the sound as AAC frames (ADTS), as an AAC camera sends it
    int gop = 25;
    const char *x264Params = nullptr; // e.g. "slices=4:aud=1", as cameras send it
    bool h265 = false;                // libx265 instead of libx264
    int infoWidth = 0;                // the size the record information claims (0: the real one)
    int infoHeight = 0;
    int alarmType = 0;                // stored in the filelist record at close
};

// Writes one recording into folder (its filelist included) and returns its
// full path; empty on failure.
QString writeRecording(const QString &folder, const RecordingOptions &recording);

// Record folders and free space as the tests want them.
class FakeStorage : public varno::playback::StorageAccess
{
public:
    QStringList folders;
    double freeM = 1e6;
    bool valid = true;
    int recordFolders(QStringList *out) override
    {
        *out = folders;
        return valid ? 0 : -1;
    }
    int diskSpaceM(const QString &, double *out) override
    {
        *out = freeM;
        return 0;
    }
};

// The notices of a playback engine (length, position in seconds, code),
// and how many came from a thread the crash handler does not cover.
struct Notices
{
    std::mutex mutex;
    std::vector<std::array<int, 3>> seen;
    std::atomic<int> withoutCrashStack{0};

    static int callback(int length, int position, int code, qmediaplay *, void *user)
    {
        auto *self = static_cast<Notices *>(user);
        if (!CrashHandlerOnThisThread())
            ++self->withoutCrashStack;
        std::lock_guard<std::mutex> lock(self->mutex);
        self->seen.push_back({length, position, code});
        return 0;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
    // The last progress notice (window 1 shows nothing: pictures it cannot
    // show come back as refused frames).
    std::array<int, 3> last()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if ((*it)[2] == varno::playback::kPlayProgress)
                return *it;
        return {-1, -1, -1};
    }
};

// A clock whose time advances only by the sleeps asked of it. The worker
// never waits, so a second of pacing takes a moment; every sleep is kept.
// Once holdAt() is reached, a pacing sleep is an endless frame interval:
// it ends only with release() or when the engine wakes its worker.
class VirtualClock : public varno::playback::PlaybackClock
{
public:
    int64_t nowUs() override { return m_now.load(); }
    bool sleepUntilUs(int64_t deadlineUs, varno::playback::PlaybackWake *wake) override;
    bool idleSleepMs(int ms, varno::playback::PlaybackWake *wake) override;
    // Deadlines the worker paced to, in order.
    std::vector<int64_t> deadlines() const;
    // Held sleeps the engine's wake ended.
    int wakes() const { return m_wakes.load(); }
    // The worker stops in its sleep once it has paced to this many
    // deadlines, until release() (called while the engine lives).
    void holdAt(size_t count) { m_holdAt = count; }
    void release();

private:
    std::atomic<int64_t> m_now{1000000};
    mutable std::mutex m_mutex;
    std::vector<int64_t> m_deadlines;
    std::atomic<size_t> m_holdAt{SIZE_MAX};
    std::atomic<int> m_wakes{0};
    // The wake of the worker held in its sleep (set under its mutex).
    std::atomic<varno::playback::PlaybackWake *> m_sleeper{nullptr};
};

// Lets a held worker go when a test function ends (declared after the
// engine, so it runs first): a failed check must not leave the engine's
// destructor waiting for a thread that is held for good.
struct ReleaseOnExit
{
    VirtualClock &clock;
    ~ReleaseOnExit() { clock.release(); }
};

// Mean gap between consecutive deadlines from the given one on (0 for fewer
// than two).
double meanGapUs(const std::vector<int64_t> &deadlines, size_t from, size_t count);

// A P2P camera of the simulator (320x180 at 25 fps) with count recordings
// of seconds each, ten minutes apart from 2019-02-25 08:00:00.
struct SimCamera
{
    QString deviceId = QStringLiteral("B765432");
    QString p2pId = QStringLiteral("VRNB-765432-KXPQT");
    QString name = QStringLiteral("Gate");
    QString password = QStringLiteral("abc123");
    int count = 3;
    int seconds = 4;
    QString form = QStringLiteral("extended");
    QString codec = QStringLiteral("h264"); // or "h265"
};
// "Yard" (C100200, "pw9999") with count recordings.
SimCamera yardCamera(int count, int seconds);
// "Ghost" (VRNX-000000-NOONE): a camera no simulator runs, that never answers.
SimCamera ghostCamera();

// Searches the local recordings of all cameras from yesterday to tomorrow
// through the page's own form.
void searchLocalAroundToday(fileplay *panel);
// Searches the recordings of the named camera on 2019-02-25 through the
// page's own form (the simulator's recordings are of that day).
void searchCameraDay(fileplay *panel, const QString &name);
// With VARNO_SHOTS_DIR set, saves the widget as playback-<state>-<lang>.png there.
void saveShot(QWidget *widget, const char *state, const QString &lang);

// The user interface in "en" or "de" (translation and locale) for as long
// as it lives; English again afterwards.
class UiLanguage
{
public:
    explicit UiLanguage(const QString &lang);
    ~UiLanguage();
    Q_DISABLE_COPY_MOVE(UiLanguage)
    bool loaded() const { return m_loaded; } // false: the German translation is missing

private:
    QTranslator m_translator;
    bool m_loaded = true;
};
// The camera's record as the main window hands it to the pages.
DvrListInfo_s deviceRecord(const SimCamera &camera);
QByteArray simConfigWithRecordings(quint16 brokerPort, const QString &storage, const QList<SimCamera> &cameras);

// Counts the turns of the window's event loop: a 5 ms timer that fires
// only while nothing holds the loop.
struct LoopProbe
{
    QTimer timer;
    int ticks = 0;
    LoopProbe()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start();
    }
};

// Hands camera messages to handler on the user-interface thread, as the
// main window's queued connection does (the payload travels as a copy).
std::function<void(const P2pMessage_S &)> onUiThread(std::function<void(const P2pMessage_S &)> handler);

// A private broker, the simulator with the camera above and the P2P
// library initialised and registered (its handle published). Camera
// messages go to onMessage on the library's thread.
class CameraRig
{
public:
    ~CameraRig() { stop(); }
    bool start(const QList<SimCamera> &cameras);
    bool start(int count, int seconds);
    void stop();
    QString error;
    varno::test::MqttBroker broker;
    varno::test::CamSimProcess sim;
    P2P_HANDLE handle = 0;
    std::function<void(const P2pMessage_S &)> onMessage;

private:
    static int messageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId, void *user);
};

} // namespace pbtest
