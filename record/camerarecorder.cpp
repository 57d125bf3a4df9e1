#include "record/camerarecorder.h"

#include "common/logfile.h"
#include "common/secretmask.h"
#include "common/onvifrecords.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/rtsp/rtsp_client.h"

#include <cstring>
#include <vector>

namespace varno::record {

namespace {

// The RTSP record stream's frames, on the stream's reader thread. Time
// stamps come in microseconds (low 32 bits) and are unwrapped here.
struct RtspFeed
{
    qmediarealrecord *recorder = nullptr;
    uint32_t lastUs = 0;
    uint64_t highUs = 0;
    bool first = true;
};

int rtspRecordFrame(int32_t, const char *, const int32_t *frameInfo, int32_t type, const char *data, int32_t size,
                    void *user)
{
    auto *feed = static_cast<RtspFeed *>(user);
    if (!feed || !frameInfo || !data || size <= 0)
        return 0;
    const uint32_t us = uint32_t(frameInfo[1]);
    if (!feed->first && us < feed->lastUs && feed->lastUs - us > 0x80000000u)
        feed->highUs += 0x100000000ull;
    feed->first = false;
    feed->lastUs = us;
    const uint64_t ms = (feed->highUs + us) / 1000;
    int frameType = MEDIA_FRAME_AUDIO;
    if (type == RTSP_FRAME_VIDEO) {
        switch (frameInfo[0]) {
        case 5: frameType = MEDIA_FRAME_IDR; break;
        case 1: frameType = MEDIA_FRAME_SLICE; break;
        case 6: frameType = MEDIA_FRAME_SEI; break;
        case 7: frameType = MEDIA_FRAME_SPS; break;
        case 8: frameType = MEDIA_FRAME_PPS; break;
        default: frameType = MEDIA_FRAME_OTHER; break;
        }
    }
    feed->recorder->pushFrame(frameType, data, size, ms);
    return 0;
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
        const int index = (dev.dev.streamType == 1 && count >= 2) ? 1 : 0;
        recordInfoFromDescr(descr.data() + index * P2P_STREAM_DESCR_SIZE, id.constData(), alarmType, &info, &params);
    } else {
        WriteLog(0, "[RECORD]Get device(%s) stream uri!!!", id.constData());
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
        char url[kOnvifUriSize] = {};
        OnvifStreamUriInfo_s facts{};
        int ret = SDK_DVRMGR_GetStreamUri(req, &facts, url);
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

        auto feed = std::make_shared<RtspFeed>();
        feed->recorder = recorder.get();
        int32_t handle = 0;
        ret = RTSP_OpenLiveSteam(url, &rtspRecordFrame, feed.get(), &handle);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "QVideoOnly::beginToRecord", __LINE__,
                     id.constData(), ret);
            return nullptr;
        }
        RTSP_SetSteamDeviceId(handle, id.constData());
        WriteLog(0, "[RECORD]Start device(%s) stream, handle(%d)!!!", id.constData(), handle);
        recorder->setStopAction([handle, feed] {
            WriteLog(0, "[RECORD]Request stop recording, handle(%d)!!!", handle);
            RTSP_StopLiveSteam(handle);
            RTSP_CloseLiveSteam(handle, &rtspRecordFrame);
        });
        ret = RTSP_StartLiveSteam(handle);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Start device(%s) stream failed, ret(%d)!!!", "QVideoOnly::beginToRecord", __LINE__,
                     id.constData(), ret);
            recorder->stop();
            return nullptr;
        }
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
