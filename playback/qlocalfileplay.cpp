#include "playback/qlocalfileplay.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "playback/recordsearch.h"

#include <cstring>

using varno::playback::kPlayDecodeError;
using varno::playback::kPlayProgress;

qlocalfileplay::~qlocalfileplay()
{
    m_stop = true;
    joinWorker();
    if (m_file > 0)
        Record_local_MediaFileClose(m_file);
    if (m_decoder)
        AV_CloseDecoder(m_decoder);
}

int qlocalfileplay::StartPlay(const char *fileName, int videoCodec, const AV_DECODER_PARAM_S *params,
                              uint32_t frameRate, int32_t window)
{
    if (window == 0 || !fileName || !*fileName) {
        WriteLog(2, "%s(%d):param is error!!!", "qlocalfileplay::StartPlay", __LINE__);
        return -1;
    }
    m_window = window;
    varno::setText(m_path, fileName);
    if (params)
        m_params = *params;
    uint32_t length = 0, total = 0, rate = 0;
    const int ret = Record_local_MediaFileOpen(m_path, &m_file, &length, &total, &rate);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "qlocalfileplay::StartPlay", __LINE__, m_path, ret);
        m_file = 0;
        return ret;
    }
    m_length = length;
    m_totalFrames = total;
    if (rate == 0)
        rate = frameRate;
    if (rate == 0) {
        // Neither the file nor the caller knows it: the progress notice
        // and the pacing need one.
        WriteLog(3, "%s(%d):File(%s) has no frame rate, 25 is used!!!", "qlocalfileplay::StartPlay", __LINE__,
                 m_path);
        rate = 25;
    }
    m_frameRate = rate;
    WriteLog(0, "[PLAYBACK]Prepare to play file(%s)!!!", m_path);
    if (AV_CreateDecoder(window, videoCodec, &m_params, &m_decoder) == 0) {
        WriteLog(2, "%s(%d):Create decoder failed, ret(%d)!!!", "qlocalfileplay::StartPlay", __LINE__, 0);
        m_decoder = nullptr;
        return -1;
    }
    try {
        m_thread = std::thread(&qlocalfileplay::playThread, this);
    } catch (...) {
        WriteLog(2, "%s(%d):Create play thread failed!!!", "qlocalfileplay::StartPlay", __LINE__);
        return -1;
    }
    return 0;
}

void qlocalfileplay::SetSuspend(bool suspend)
{
    if (!m_pause && !m_stop)
        m_suspend = suspend;
}

void qlocalfileplay::StopPlay(bool wait)
{
    m_stop = true;
    if (wait)
        joinWorker();
}

void qlocalfileplay::SetSpeed(float speed)
{
    m_speed = speed;
    m_speedCopy = speed;
    m_speedChanged = true;
}

void qlocalfileplay::SeekTo(int second)
{
    if (m_file <= 0)
        return;
    m_seekRequest = second < 0 ? 0 : second;
}

void qlocalfileplay::StepFrame()
{
    if (m_pause)
        ++m_stepRequests;
}

bool qlocalfileplay::handleFrame(uint32_t type, const unsigned char *data, uint32_t size)
{
    const uint32_t rate = m_frameRate;
    if (m_position % rate == 0)
        notify(int(m_totalFrames / rate), int(m_position / rate), kPlayProgress);
    int frameType = AV_FRAME_OTHER;
    if (type == 1)
        frameType = AV_FRAME_AUDIO;
    else if (type != 0)
        frameType = AV_FRAME_VIDEO;
    if (size > 1) {
        const int ret = frameType == AV_FRAME_AUDIO
            ? decodeAudio(data, size)
            : AV_FrameDecoder(m_decoder, data, int32_t(size), frameType, &m_params);
        if (ret != AV_OK && ret != AV_ERR_NEED_DATA)
            notify(int(m_totalFrames / rate), int(m_position / rate), kPlayDecodeError);
    }
    if (frameType != AV_FRAME_VIDEO)
        return false;
    if (!m_seekHold)
        ++m_position;
    return true;
}

void qlocalfileplay::playThread()
{
    WriteLog(0, "[PLAYBACK]Start play thread!!!");
    int64_t deadline = 0;
    while (!m_stop) {
        const int seek = m_seekRequest.exchange(-1);
        if (seek >= 0 && m_totalFrames > 0) {
            const uint32_t pos = m_frameRate * uint32_t(seek);
            m_position = pos;
            const int64_t offset = int64_t(double(uint32_t(m_length)) * double(pos) / double(m_totalFrames));
            Record_local_MediaFileSeek(m_file, offset, RECORD_LOCAL_SEEK_TIME);
            ++m_seeksDone;
            deadline = 0;
        }
        const bool stepping = m_pause && m_stepRequests > 0;
        if ((m_pause || m_suspend) && !stepping) {
            if (m_showLastFrame)
                AV_ShowLastFrame(m_decoder);
            m_clock->idleSleepMs(15);
            deadline = 0;
            continue;
        }
        uint32_t type = 0, size = 0;
        unsigned char *data = nullptr;
        if (Record_local_MediaFileGetNextFrame(m_file, &type, &data, &size) != 0) {
            m_stepRequests = 0;
            if (m_showLastFrame)
                AV_ShowLastFrame(m_decoder);
            m_clock->idleSleepMs(15);
            deadline = 0;
            continue;
        }
        const int64_t t0 = m_clock->nowUs();
        if (!handleFrame(type, data, size))
            continue;
        if (stepping) {
            --m_stepRequests;
            continue;
        }
        ++m_pacedFrames;
        // Each picture is due one interval after the previous one was due,
        // so the sleeps' overshoot does not add up; after a hold-up the
        // schedule starts again from now.
        const int64_t interval = varno::playback::frameIntervalUs(m_frameRate, m_speedCopy);
        m_speedChanged = false;
        deadline = deadline == 0 || deadline < t0 - interval ? t0 + interval : deadline + interval;
        m_clock->sleepUntilUs(deadline);
    }
    WriteLog(0, "[PLAYBACK]Stop play thread!!!");
}
