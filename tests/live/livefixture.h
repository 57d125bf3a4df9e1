#pragma once

// What the live view's tests share: a simulated ONVIF camera in the test's
// process, the waits for a stream's open and a recorder that notes what it
// is asked to do.
#include "common/devicerecords.h"
#include "common/liverecords.h"
#include "common/onvifrecords.h"
#include "common/textfield.h"
#include "live/liverecorder.h"
#include "live/qvideoonly.h"
#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include <QDir>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace varno::test {

// One simulated ONVIF camera in the test's process: SOAP services and its
// RTSP server (main and sub stream of the given sizes).
template <int MainW, int MainH, int SubW, int SubH>
struct LiveOnvifCamera
{
    std::unique_ptr<CRtspServer> rtsp;
    std::unique_ptr<COnvifCamera> cam;
    std::string uuid;

    bool start(const std::string &id, int index)
    {
        uuid = id;
        rtsp = std::make_unique<CRtspServer>();
        for (CRtspServer::Stream s : CRtspServer::cameraStreams(uuid, index)) {
            const bool sub = s.path.find("/sub") != std::string::npos;
            s.width = sub ? SubW : MainW;
            s.height = sub ? SubH : MainH;
            rtsp->addStream(s);
        }
        rtsp->setCredentials("admin", "admin");
        if (!rtsp->start(0))
            return false;
        COnvifCamera::Settings st;
        st.uuid = uuid;
        st.name = "Onvif " + std::to_string(index);
        st.password = "admin";
        st.rtspPort = rtsp->port();
        st.profiles.push_back({"profile_main", "MainStream", MainW, MainH, "/" + uuid + "/main"});
        st.profiles.push_back({"profile_sub", "SubStream", SubW, SubH, "/" + uuid + "/sub"});
        cam = std::make_unique<COnvifCamera>(st);
        return cam->start(0);
    }
    DeviceInfo_s device() const
    {
        DeviceInfo_s d;
        std::memset(&d, 0, sizeof d);
        varno::setText(d.devId, uuid);
        varno::setText(d.devName, cam->settings().name);
        varno::setText(d.serviceAddr, cam->serviceAddr());
        varno::setText(d.password, "admin");
        return d;
    }
    OnvifAccessInfo_s access() const
    {
        OnvifAccessInfo_s a;
        std::memset(&a, 0, sizeof a);
        varno::setText(a.devId, uuid);
        varno::setText(a.configText3, cam->eventAddr());
        varno::setText(a.mainToken, "profile_main");
        a.rtspPort = 554;
        varno::setText(a.serviceAddr, cam->serviceAddr());
        return a;
    }
    DvrListInfo_s listed() const
    {
        DvrListInfo_s l;
        std::memset(&l, 0, sizeof l);
        l.dev = device();
        l.config.profileCount = 2;
        varno::setText(l.config.mainToken, "profile_main");
        varno::setText(l.config.subToken, "profile_sub");
        varno::setText(l.config.eventAddr, cam->eventAddr());
        return l;
    }
    void stop()
    {
        if (cam)
            cam->stop();
        if (rtsp)
            rtsp->stop();
    }
};

} // namespace varno::test

namespace livetest {

inline int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The result streamStarted gives for key (INT_MIN: none within 20 s).
inline int resultOf(QSignalSpy &started, const QString &key)
{
    for (int seen = 0;;) {
        for (; seen < started.size(); ++seen)
            if (started.at(seen).at(0).toString() == key)
                return started.at(seen).at(1).toInt();
        if (!started.wait(20000))
            return INT_MIN;
    }
}

// The monitor's state of a stream of a page or a controller (-1: none).
template <typename Streams>
int stateOf(const Streams &streams, const QString &key)
{
    LiveStreamInfo rec{};
    return streams.streamInfo(key, &rec) ? rec.state : -1;
}

// What the recorders a grid made saw: how many were made and stopped, the
// alarm type, the frames, the last frame's type and the stream's sequence
// parameter sets.
struct RecorderLog
{
    std::mutex mutex;
    QSet<QByteArray> sps;
    std::atomic<int> created{0};
    std::atomic<int> stops{0};
    std::atomic<int> frames{0};
    std::atomic<int> lastType{-1};
    std::atomic<int> alarmType{-1};
    // While held, a start waits in the factory until the test releases it.
    std::atomic<bool> hold{false};
    QSemaphore gate;
};

class NotingRecorder final : public LiveRecorder
{
public:
    explicit NotingRecorder(std::shared_ptr<RecorderLog> log) : m_log(std::move(log)) {}
    void pushFrame(int type, const char *data, int size, uint64_t) override
    {
        ++m_log->frames;
        m_log->lastType = type;
        if (type == 104) {
            std::lock_guard lock(m_log->mutex);
            m_log->sps.insert(QByteArray(data, size));
        }
    }
    int setAlarmType(int type) override
    {
        m_log->alarmType = type;
        return 0;
    }
    void stop() override { ++m_log->stops; }

private:
    std::shared_ptr<RecorderLog> m_log;
};

inline std::shared_ptr<RecorderLog> installRecorder(QVideoOnly &grid)
{
    auto log = std::make_shared<RecorderLog>();
    grid.setRecorderFactory([log](const DvrListInfo_s &, int alarmType) -> std::unique_ptr<LiveRecorder> {
        if (log->hold.load())
            log->gate.acquire();
        ++log->created;
        log->alarmType = alarmType;
        return std::make_unique<NotingRecorder>(log);
    });
    return log;
}

} // namespace livetest
