#include "playbackfixture.h"

#include "../support/camsimprocess.h"
#include "../support/recmedia/testmedia.h"
#include "../support/testenv.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "playback/fileplay.h"
#include "resources/resourcepath.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <QDateTime>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QDir>

#include <cstring>
#include <thread>

namespace pbtest {

using namespace varno::test;

QString writeRecording(const QString &folder, const RecordingOptions &recording)
{
    QDir().mkpath(folder);
    RECORD_INFO_S info{};
    varno::setText(info.devId, recording.devId);
    info.channel = 3;
    info.version = RECORD_INFO_VERSION;
    info.audioFormat = recording.aac ? MEDIA_AUDIO_AAC : MEDIA_AUDIO_G711A;
    info.videoCodec = recording.h265 ? MEDIA_VIDEO_H265 : MEDIA_VIDEO_H264;
    info.frameRate = recording.fps;
    info.width = uint16_t(recording.infoWidth ? recording.infoWidth : recording.width);
    info.height = uint16_t(recording.infoHeight ? recording.infoHeight : recording.height);
    info.sampleRate = recording.sampleRate;
    info.bitsPerSample = 8;
    info.channels = 1;
    char path[RECORD_LOCAL_PATH_SIZE] = {};
    varno::setText(path, folder);
    RECORD_HANDLE h = 0;
    if (Record_local_MediaFileCreat(&info, path, &h, nullptr) != 0)
        return {};
    const int fps = recording.fps ? recording.fps : 25;
    const int frames = fps * recording.seconds;
    // AAC: as many 1,024-sample frames as cover the pictures written so far.
    const std::vector<std::vector<uint8_t>> aac = recording.aac && recording.sampleRate > 0
        ? varno::test::encodeAacAdts(varno::test::tone(recording.sampleRate, 440, recording.sampleRate * recording.seconds),
                                     recording.sampleRate)
        : std::vector<std::vector<uint8_t>>();
    size_t nextAac = 0;
    double phase = 0;
    int picture = 0;
    for (const EncodedFrame &p : encodeStream({.codec = recording.h265 ? 2 : 1, .width = recording.width,
                                               .height = recording.height, .frames = frames, .fps = fps,
                                               .gop = recording.gop,
                                               .extraParams = recording.x264Params ? recording.x264Params : ""})) {
        for (const auto &u : splitNals(p.data))
            if (Record_local_MediaFileWrite(h, recorderFrameType(nalType(u, 1)), u.data(), uint32_t(u.size())) != 0)
                return {};
        ++picture;
        if (recording.aac) {
            for (; nextAac < aac.size() && int64_t(nextAac) * 1024 * fps < int64_t(picture) * recording.sampleRate;
                 ++nextAac)
                Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, aac[nextAac].data(), uint32_t(aac[nextAac].size()));
        } else if (recording.sampleRate > 0) {
            const std::vector<int16_t> pcm = tone(recording.sampleRate, 440, recording.sampleRate / fps, &phase);
            Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, reinterpret_cast<const unsigned char *>(pcm.data()),
                                        uint32_t(pcm.size() * 2));
        }
    }
    if (recording.alarmType != 0 && Record_local_setMediaFileAlarmType(h, recording.alarmType) != 0)
        return {};
    if (Record_local_MediaFileClose(h) != 0)
        return {};
    return QString::fromUtf8(path);
}

bool VirtualClock::sleepUntilUs(int64_t deadlineUs, varno::playback::PlaybackWake *wake)
{
    size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deadlines.push_back(deadlineUs);
        count = m_deadlines.size();
    }
    bool woken = false;
    {
        std::unique_lock<std::mutex> lock(wake->mutex);
        if (count < m_holdAt) {
            // Virtual time jumps to the deadline at once: a notice that is
            // still pending came too late to shorten this sleep.
            wake->pending = false;
        } else {
            m_sleeper = wake;
            wake->cv.wait(lock, [&] { return wake->pending || count < m_holdAt; });
            woken = wake->pending;
            wake->pending = false;
            m_sleeper = nullptr;
        }
    }
    if (woken)
        ++m_wakes;
    else if (deadlineUs > m_now)
        m_now = deadlineUs;
    // A little real time, so that the test's own thread gets its turn.
    std::this_thread::yield();
    return woken;
}

bool VirtualClock::idleSleepMs(int ms, varno::playback::PlaybackWake *wake)
{
    m_now += int64_t(ms) * 1000;
    // The engine idles (paused, or at the end): give the test's thread its
    // turn, and wake at once for the engine's requests.
    std::unique_lock<std::mutex> lock(wake->mutex);
    const bool woken = wake->cv.wait_for(lock, std::chrono::milliseconds(2), [wake] { return wake->pending; });
    wake->pending = false;
    return woken;
}

void VirtualClock::release()
{
    m_holdAt = SIZE_MAX;
    if (varno::playback::PlaybackWake *wake = m_sleeper.load()) {
        {
            std::lock_guard<std::mutex> lock(wake->mutex);
        }
        wake->cv.notify_all();
    }
}

std::vector<int64_t> VirtualClock::deadlines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deadlines;
}

double meanGapUs(const std::vector<int64_t> &d, size_t from, size_t count)
{
    if (from + count > d.size() || count < 2)
        return 0;
    return double(d[from + count - 1] - d[from]) / double(count - 1);
}

SimCamera yardCamera(int count, int seconds)
{
    SimCamera c;
    c.deviceId = QStringLiteral("C100200");
    c.p2pId = QStringLiteral("VRNC-100200-KXPQT");
    c.name = QStringLiteral("Yard");
    c.password = QStringLiteral("pw9999");
    c.count = count;
    c.seconds = seconds;
    return c;
}

SimCamera ghostCamera()
{
    SimCamera c;
    c.deviceId = QStringLiteral("X000000");
    c.p2pId = QStringLiteral("VRNX-000000-NOONE");
    c.name = QStringLiteral("Ghost");
    return c;
}

void searchCameraDay(fileplay *panel, const QString &name)
{
    panel->sourceCombo()->setCurrentIndex(0);
    panel->deviceCombo()->setCurrentIndex(panel->deviceCombo()->findText(name));
    panel->startEdit()->setDateTime(QDateTime(QDate(2019, 2, 25), QTime(0, 0)));
    panel->endEdit()->setDateTime(QDateTime(QDate(2019, 2, 25), QTime(23, 59, 59)));
    panel->searchButton()->click();
}

void saveShot(QWidget *widget, const char *state, const QString &lang)
{
    const QString dir = qEnvironmentVariable("VARNO_SHOTS_DIR");
    if (dir.isEmpty())
        return;
    QCoreApplication::processEvents();
    const QString path = QStringLiteral("%1/playback-%2-%3.png").arg(dir, QLatin1String(state), lang);
    QVERIFY2(widget->grab().save(path), qPrintable(path));
    qInfo("screenshot: %s", qPrintable(path));
}

UiLanguage::UiLanguage(const QString &lang)
{
    if (lang != QLatin1String("de"))
        return;
    m_loaded = m_translator.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm")));
    QCoreApplication::installTranslator(&m_translator);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

UiLanguage::~UiLanguage()
{
    QCoreApplication::removeTranslator(&m_translator);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void searchLocalAroundToday(fileplay *panel)
{
    panel->sourceCombo()->setCurrentIndex(1);
    panel->deviceCombo()->setCurrentIndex(0);
    panel->startEdit()->setDateTime(QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0)));
    panel->endEdit()->setDateTime(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)));
    panel->searchButton()->click();
}

DvrListInfo_s deviceRecord(const SimCamera &camera)
{
    DvrListInfo_s d;
    std::memset(&d, 0, sizeof(d));
    varno::setText(d.dev.devId, camera.deviceId);
    varno::setText(d.dev.devName, camera.name);
    varno::setText(d.dev.password, camera.password);
    varno::setText(d.dev.p2pId, camera.p2pId);
    d.dev.p2pFlag = 1;
    return d;
}

QByteArray simConfigWithRecordings(quint16 brokerPort, const QString &storage, const QList<SimCamera> &cameras)
{
    QStringList pieces;
    for (const SimCamera &c : cameras)
        pieces << QStringLiteral(
                      R"({ "kind": "p2p", "deviceId": "%1", "p2pId": "%2", "name": "%3", "password": "%4", "codec": "%8",
  "hd": { "width": 320, "height": 180, "fps": 25, "kbps": 400, "loopSeconds": 2 },
  "sd": { "width": 160, "height": 90, "fps": 25, "kbps": 100 },
  "recordings": { "count": %5, "seconds": %6, "first": "2019-02-25 08:00:00", "intervalSeconds": 600, "form": "%7" } })")
                      .arg(c.deviceId, c.p2pId, c.name, c.password)
                      .arg(c.count)
                      .arg(c.seconds)
                      .arg(c.form, c.codec);
    return simConfig(brokerPort, storage, pieces);
}

bool CameraRig::start(int count, int seconds)
{
    SimCamera c;
    c.count = count;
    c.seconds = seconds;
    return start(QList<SimCamera>{c});
}

bool CameraRig::start(const QList<SimCamera> &cameras)
{
    if (!broker.start() || !broker.writeClientConfig()) {
        error = QStringLiteral("broker: ") + broker.output();
        return false;
    }
    if (!sim.start(simConfigWithRecordings(broker.port(), tempRoot() + QStringLiteral("/camera-storage"), cameras))) {
        error = sim.error();
        return false;
    }
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof info);
    info.version = P2P_INIT_VERSION;
    std::strcpy(info.account, "varno-client");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    if (P2P_Client_SDK_Init(&info, "127.0.0.1", "log", &handle) != 0 ||
        P2P_Client_SDK_Set_MsgCB(handle, &CameraRig::messageCallback, this) != 0 ||
        P2P_Client_SDK_Register(handle, 0, 0) != 0) {
        error = QStringLiteral("P2P library did not start");
        return false;
    }
    varno::setP2pHandle(handle);
    return true;
}

void CameraRig::stop()
{
    varno::setP2pHandle(0);
    if (handle) {
        P2P_Client_SDK_UnRegister(handle);
        P2P_Client_SDK_UnInit(handle);
        handle = 0;
    }
    sim.stop();
    broker.stop();
}

std::function<void(const P2pMessage_S &)> onUiThread(std::function<void(const P2pMessage_S &)> handler)
{
    return [handler](const P2pMessage_S &msg) {
        const QByteArray owner = msg.payload && msg.payloadLen > 0 ? QByteArray(msg.payload, msg.payloadLen)
                                                                   : QByteArray("");
        P2pMessage_S copy = msg;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [handler, copy, owner]() mutable {
                copy.payload = owner.constData();
                handler(copy);
            },
            Qt::QueuedConnection);
    };
}

int CameraRig::messageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId, void *user)
{
    auto *self = static_cast<CameraRig *>(user);
    if (!self || !self->onMessage)
        return 0;
    P2pMessage_S msg;
    std::memset(&msg, 0, sizeof(msg));
    varno::setText(msg.devId, cameraId ? cameraId : "");
    msg.type = type;
    msg.payload = payload;
    msg.payloadLen = length;
    self->onMessage(msg);
    return 0;
}

} // namespace pbtest
