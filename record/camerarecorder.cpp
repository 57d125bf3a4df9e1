#include "record/camerarecorder.h"

#include "common/logfile.h"
#include "common/secretmask.h"
#include "common/onvifrecords.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/recfile/nalunits.h"
#include "platform/rtsp/rtsp_client.h"

#include "record/streamkeeper.h"
#include "record/streamuriask.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace varno::record {

namespace {

// The RTSP record stream's frames, on the stream's reader thread. Time
// stamps come in microseconds (low 32 bits) and are unwrapped here as
// signed steps: a stamp a little behind the one before (audio that began
// before the video, or the other way round) is a step back, never a wrap of
// 71 minutes forwards. Each open starts afresh. The recorder is cleared when
// the recording stops.
//
// The frames of the newest picture wait until the next picture begins: a
// stream that breaks may have cut the picture it was sending (its later
// slices never came, or the server's last packet was short), and a cut
// picture is dropped with the break instead of reaching the file.
struct RtspFeed
{
    struct Held
    {
        int type;
        uint64_t ms;
        std::vector<char> data;
    };

    std::mutex mutex;
    qmediarealrecord *recorder = nullptr;
    uint32_t lastUs = 0;
    int64_t totalUs = 0;
    bool first = true;
    std::atomic<uint64_t> frames{0};
    std::vector<Held> held;
    bool heldPicture = false; // held holds a slice

    void flush()
    {
        for (const Held &h : held)
            recorder->pushFrame(h.type, h.data.data(), int(h.data.size()), h.ms);
        held.clear();
        heldPicture = false;
    }
    void reset() // mutex held
    {
        first = true;
        totalUs = 0;
        lastUs = 0;
        held.clear();
        heldPicture = false;
    }
};

// Where a video unit stands in its picture: a slice, the first slice of a
// picture, a unit that comes before the picture's slices, or none of these.
enum class UnitPlace { Other, Prefix, Slice, FirstSlice };

UnitPlace unitPlace(varno::recfile::VideoCodec codec, const char *data, int32_t size)
{
    using namespace varno::recfile;
    const NalUnit nal = firstNalUnit(reinterpret_cast<const uint8_t *>(data), size_t(size));
    if (!nal.size)
        return UnitPlace::Other;
    if (isSlice(codec, nal))
        return isFirstSliceOfPicture(codec, nal) ? UnitPlace::FirstSlice : UnitPlace::Slice;
    const int t = nalType(codec, nal);
    if (codec == VideoCodec::H265) // VPS, SPS, PPS, AUD, prefix SEI
        return (t >= 32 && t <= 35) || t == 39 ? UnitPlace::Prefix : UnitPlace::Other;
    return t >= 6 && t <= 9 ? UnitPlace::Prefix : UnitPlace::Other;
}

int rtspRecordFrame(int32_t, const char *descr, const int32_t *frameInfo, int32_t type, const char *data, int32_t size,
                    void *user)
{
    auto *feed = static_cast<RtspFeed *>(user);
    if (!feed || !descr || !frameInfo || !data || size <= 0)
        return 0;
    std::lock_guard lock(feed->mutex);
    if (!feed->recorder)
        return 0;
    ++feed->frames;
    const uint32_t us = uint32_t(frameInfo[1]);
    feed->totalUs = feed->first ? int64_t(int32_t(us)) : feed->totalUs + int64_t(int32_t(us - feed->lastUs));
    feed->first = false;
    feed->lastUs = us;
    const uint64_t ms = feed->totalUs > 0 ? uint64_t(feed->totalUs) / 1000 : 0;
    int frameType = MEDIA_FRAME_AUDIO;
    if (type == RTSP_FRAME_VIDEO) {
        RTSP_STREAM_DESCR_S d{};
        std::memcpy(&d, descr, sizeof d);
        const auto codec = d.videoCodec == 2 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;
        frameType = varno::recfile::mediaFrameType(codec, reinterpret_cast<const uint8_t *>(data), size_t(size));
        const UnitPlace place = unitPlace(codec, data, size);
        if (feed->heldPicture && (place == UnitPlace::Prefix || place == UnitPlace::FirstSlice))
            feed->flush(); // the picture before this one is whole
        if (place == UnitPlace::Slice || place == UnitPlace::FirstSlice)
            feed->heldPicture = true;
    }
    feed->held.push_back({frameType, ms, std::vector<char>(data, data + size)});
    return 0;
}

uint64_t steadyMs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// Asks the camera for its stream address: 0, or the call's result.
using UriAsk = std::function<int(std::string &url)>;

// An ONVIF camera's record stream over RTSP. A reopen tries the address it
// has; when that fails it asks the camera for the address again (a camera
// may hand out a new one after a restart) by the rule of StreamUriAsk.
class RtspRecordSource final : public RecordSource
{
public:
    // clock: milliseconds (the recorder's).
    RtspRecordSource(std::string url, std::string deviceId, qmediarealrecord *recorder, UriAsk ask,
                     std::function<uint64_t()> clock)
        : m_url(std::move(url))
        , m_deviceId(std::move(deviceId))
        , m_feed(std::make_shared<RtspFeed>())
        , m_ask(std::move(ask))
        , m_clock(std::move(clock))
        , m_uriAsk(m_clock())
    {
        m_feed->recorder = recorder;
    }
    ~RtspRecordSource() override { close(); }

    // DESCRIBE and SETUP: 0 or the library's result.
    int connect()
    {
        {
            std::lock_guard lock(m_feed->mutex);
            m_feed->reset();
        }
        int32_t handle = 0;
        const int ret = RTSP_OpenLiveSteam(m_url.c_str(), &rtspRecordFrame, m_feed.get(), &handle);
        if (ret != 0)
            return ret;
        RTSP_SetSteamDeviceId(handle, m_deviceId.c_str());
        m_handle = handle;
        return 0;
    }
    // PLAY: frames flow.
    int play() { return RTSP_StartLiveSteam(m_handle); }
    int32_t handle() const { return m_handle; }

    int open() override
    {
        int ret = openAt();
        if (ret == 0 || !m_ask || !m_uriAsk.due(m_clock()))
            return ret;
        m_uriAsk.asked(m_clock());
        std::string url;
        const int asked = m_ask(url);
        if (asked != 0 || url.empty() || url == m_url)
            return ret;
        WriteLog(0, "[RECORD]Device(%s) hands out a new stream uri(%s)!!!", m_deviceId.c_str(),
                 varno::maskCredentials(url).c_str());
        m_url = url;
        return openAt();
    }
    bool broken() override
    {
        int32_t status = 0;
        return m_handle <= 0 || RTSP_GetSteamStatus(m_handle, &status, 0) != 0 || status == RTSP_STATUS_BROKEN;
    }
    uint64_t frames() const override { return m_feed->frames.load(); }
    void close() override
    {
        if (m_handle <= 0)
            return;
        WriteLog(0, "[RECORD]Request stop recording, handle(%d)!!!", m_handle);
        RTSP_StopLiveSteam(m_handle);
        RTSP_CloseLiveSteam(m_handle, &rtspRecordFrame);
        m_handle = 0;
        // The stream broke or the recording stops: the picture still held
        // may be cut.
        std::lock_guard lock(m_feed->mutex);
        if (!m_feed->held.empty())
            WriteLog(3, "%s(%d):Record stream of device(%s) closed, its last picture (%zu units) left out!!!",
                     "RtspRecordSource::close", __LINE__, m_deviceId.c_str(), m_feed->held.size());
        m_feed->reset();
    }
    void detach() override
    {
        std::lock_guard lock(m_feed->mutex);
        m_feed->recorder = nullptr;
    }

private:
    int openAt()
    {
        int ret = connect();
        if (ret == 0 && (ret = play()) != 0)
            close();
        return ret;
    }

    std::string m_url;
    std::string m_deviceId;
    std::shared_ptr<RtspFeed> m_feed; // the library holds its address until the stream is closed
    UriAsk m_ask;
    std::function<uint64_t()> m_clock;
    StreamUriAsk m_uriAsk;
    int32_t m_handle = 0;
};

// SDK_DVRMGR_GetStreamUri for the camera's main profile.
int askStreamUri(const DvrListInfo_s &dev, std::string &url, OnvifStreamUriInfo_s *facts)
{
    OnvifStreamUriReq_s req;
    std::memset(&req, 0, sizeof req);
    varno::setText(req.serviceAddr, varno::fieldText(dev.dev.serviceAddr));
    std::memcpy(req.configText3, dev.config.eventAddr, sizeof req.configText3 - 1);
    std::memcpy(req.mainToken, dev.config.mainToken, sizeof req.mainToken - 1);
    req.channel = 0;
    req.transport = 1;
    if (dev.dev.password[0] != 0) {
        char password[sizeof dev.dev.password + 1] = {};
        std::memcpy(password, dev.dev.password, sizeof dev.dev.password);
        SDK_DVRMGR_SetOnvifCredentials(req.serviceAddr, password);
    }
    char text[kOnvifUriSize] = {};
    OnvifStreamUriInfo_s info{};
    const int ret = SDK_DVRMGR_GetStreamUri(req, &info, text);
    if (ret == 0) {
        text[sizeof text - 1] = 0;
        url = text;
        if (facts)
            *facts = info;
    }
    return ret;
}

} // namespace

void recordInfoFromDescr(const char *entry, const char *deviceId, int alarmType, RECORD_INFO_S *info,
                         RECORD_PARAM_SETS_S *params)
{
    P2P_STREAM_DESCR_S d;
    std::memcpy(&d, entry, sizeof d);
    std::memset(info, 0, sizeof *info);
    varno::setText(info->devId, deviceId);
    info->alarmType = uint16_t(alarmType);
    info->version = RECORD_INFO_VERSION;
    info->frameRate = d.frameRate;
    info->width = uint16_t(d.width & 0xffff);
    info->height = uint16_t(d.height & 0xffff);
    info->videoCodec = (d.videoCodec == 10 || d.videoCodec == 11) ? int32_t(MEDIA_VIDEO_H265) : int32_t(MEDIA_VIDEO_H264);
    info->sampleRate = d.audioSampleRate;
    info->bitsPerSample = d.audioSampleRate > 0 ? d.audioBitRate / d.audioSampleRate : 0;
    info->audioFormat = d.audioCodec == P2P_AUDIO_AAC ? int32_t(MEDIA_AUDIO_AAC) : int32_t(MEDIA_AUDIO_G711A);
    info->channels = 1;
    std::memset(params, 0, sizeof *params);
    std::memcpy(params, entry + offsetof(P2P_STREAM_DESCR_S, spsLen), offsetof(RECORD_PARAM_SETS_S, reserved));
}

std::unique_ptr<qmediarealrecord> startCameraRecorder(const DvrListInfo_s &dev, int alarmType, RecordReport report,
                                                      RecorderEnv env)
{
    const QByteArray id(dev.dev.devId, int(varno::textLength(dev.dev.devId)));
    RECORD_INFO_S info{};
    RECORD_PARAM_SETS_S params{};
    std::function<uint64_t()> clock = env.clock ? env.clock : std::function<uint64_t()>(steadyMs);
    auto recorder = std::make_unique<qmediarealrecord>(std::move(env));

    if (dev.dev.p2pFlag == 1) {
        WriteLog(0, "[RECORD]Get device(%s) stream descr!!!", id.constData());
        const QByteArray p2pId(dev.dev.p2pId, int(varno::textLength(dev.dev.p2pId)));
        std::vector<char> descr(P2P_STREAM_DESCR_BUFFER, 0);
        int32_t count = 0;
        const int ret = P2P_Client_SDK_Get_StreamDescr(varno::p2pHandle(), p2pId.constData(), &count, descr.data());
        if (ret < 0 || count <= 0) {
            WriteLog(2, "%s(%d):Get device(%s) stream descr failed, ret(%d)!!!", "QVideoOnly::beginToRecord",
                     __LINE__, id.constData(), ret < 0 ? ret : -1);
            return nullptr;
        }
        // A recording always takes the camera's main stream, whichever its
        // live window shows (the live view keeps the main stream shown while
        // the camera records and hands over its frames only).
        recordInfoFromDescr(descr.data(), id.constData(), alarmType, &info, &params);
    } else {
        WriteLog(0, "[RECORD]Get device(%s) stream uri!!!", id.constData());
        std::string url;
        OnvifStreamUriInfo_s facts{};
        int ret = askStreamUri(dev, url, &facts);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Get device(%s) stream uri failed, ret(%d)!!!", "QVideoOnly::beginToRecord", __LINE__,
                     id.constData(), ret);
            return nullptr;
        }
        // The address may carry the camera's password.
        WriteLog(0, "[RECORD]Open stream, uri(%s)!!!", varno::maskCredentials(url).c_str());
        varno::setText(info.devId, id);
        info.alarmType = uint16_t(alarmType);
        info.version = RECORD_INFO_VERSION;
        info.audioFormat = MEDIA_AUDIO_G711A;
        info.channels = 1;
        info.sampleRate = 8000;
        info.bitsPerSample = 128000 / 8000;
        info.videoCodec = facts.videoCodec == 2 ? int32_t(MEDIA_VIDEO_H265) : int32_t(MEDIA_VIDEO_H264);
        info.width = uint16_t(facts.width);
        info.height = uint16_t(facts.height);
        info.frameRate = 0; // measured from the stream's time stamps

        auto source = std::make_unique<RtspRecordSource>(
            url, id.toStdString(), recorder.get(), [dev](std::string &out) { return askStreamUri(dev, out, nullptr); },
            clock);
        ret = source->connect();
        if (ret != 0) {
            WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "QVideoOnly::beginToRecord", __LINE__,
                     id.constData(), ret);
            return nullptr;
        }
        WriteLog(0, "[RECORD]Start device(%s) stream, handle(%d)!!!", id.constData(), source->handle());
        ret = source->play();
        if (ret != 0) {
            WriteLog(2, "%s(%d):Start device(%s) stream failed, ret(%d)!!!", "QVideoOnly::beginToRecord", __LINE__,
                     id.constData(), ret);
            return nullptr; // the source closes its stream
        }
        // The keeper reopens the stream when it breaks and closes it in stop(),
        // before the record thread stops.
        auto keeper = std::make_shared<StreamKeeper>(id.toStdString(), std::move(source), recorder.get(), clock);
        recorder->setStopAction([keeper] { keeper->stop(); });
        keeper->start();
    }

    qmediarealrecord *raw = recorder.get();
    recorder->setCallback([report, raw](const char *deviceId, const char *path, int code, qmediarealrecord *) {
        if (report)
            report(QString::fromUtf8(deviceId), QString::fromUtf8(path), code, raw);
    });
    if (recorder->startRecord(info, params) != 0)
        return nullptr;
    return recorder;
}

} // namespace varno::record
