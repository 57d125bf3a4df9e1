#include "playback/qlocalfileplay.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "playback/recordsearch.h"

#include <cmath>
#include <cstring>

using varno::playback::kPlayDecodeError;
using varno::playback::kPlayEnded;
using varno::playback::kPlayProgress;

qlocalfileplay::~qlocalfileplay()
{
    m_stop = true;
    m_wake.notify();
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

void qlocalfileplay::SetPause(bool pause)
{
    m_pause = pause;
    m_wake.notify();
}

void qlocalfileplay::SetSuspend(bool suspend)
{
    // Kept while paused too: a suspension that ends while the file is
    // paused (or ended) must not leave it held when play is pressed.
    if (!m_stop) {
        m_suspend = suspend;
        m_wake.notify();
    }
}

void qlocalfileplay::StopPlay(bool wait)
{
    m_stop = true;
    m_wake.notify();
    if (wait)
        joinWorker();
}

void qlocalfileplay::SetSpeed(float speed)
{
    m_speed = speed;
    m_speedCopy = speed;
    m_speedChanged = true;
    m_wake.notify();
}

void qlocalfileplay::SeekTo(int second)
{
    if (m_file <= 0)
        return;
    m_seekRequest = second < 0 ? 0 : second;
    m_wake.notify();
}

void qlocalfileplay::StepFrame()
{
    if (m_pause) {
        ++m_stepRequests;
        m_wake.notify();
    }
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

void qlocalfileplay::waitForNextPicture(double *due, double interval)
{
    while (!interrupted()) {
        if (!m_clock->sleepUntilUs(std::llround(*due), &m_wake))
            return;
        // Woken early. A new speed moves the picture after the one on
        // screen: it is due one new interval after that one was.
        if (m_speedChanged.exchange(false)) {
            const double changed = varno::playback::localFrameIntervalUs(m_frameRate, m_speedCopy);
            *due += changed - interval;
            interval = changed;
        }
    }
}

void qlocalfileplay::playThread()
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[PLAYBACK]Start play thread!!!");
    // When the next picture is due, in microseconds of the clock; 0: the
    // schedule starts again with the next picture.
    double due = 0;
    while (!m_stop) {
        const int seek = m_seekRequest.exchange(-1);
        if (seek >= 0 && m_totalFrames > 0) {
            const uint32_t pos = m_frameRate * uint32_t(seek);
            m_position = pos;
            const int64_t offset = int64_t(double(uint32_t(m_length)) * double(pos) / double(m_totalFrames));
            Record_local_MediaFileSeek(m_file, offset, RECORD_LOCAL_SEEK_TIME);
            ++m_seeksDone;
            due = 0;
        }
        const bool stepping = m_pause && m_stepRequests > 0;
        if ((m_pause || m_suspend) && !stepping) {
            if (m_showLastFrame)
                AV_ShowLastFrame(m_decoder);
            m_clock->idleSleepMs(15, &m_wake);
            due = 0;
            continue;
        }
        uint32_t type = 0, size = 0;
        unsigned char *data = nullptr;
        if (Record_local_MediaFileGetNextFrame(m_file, &type, &data, &size) != 0) {
            m_stepRequests = 0;
            // The end of the file: the window shows it, once.
            if (!m_endNotified.exchange(true) && m_frameRate > 0)
                notify(int(m_totalFrames / m_frameRate), int(m_totalFrames / m_frameRate), kPlayEnded);
            if (m_showLastFrame)
                AV_ShowLastFrame(m_decoder);
            m_clock->idleSleepMs(15, &m_wake);
            due = 0;
            continue;
        }
        m_endNotified = false;
        const int64_t t0 = m_clock->nowUs();
        if (!handleFrame(type, data, size))
            continue;
        if (stepping) {
            --m_stepRequests;
            continue;
        }
        ++m_pacedFrames;
        // Each picture is due one interval after the previous one was due
        // (in fractions of a microsecond: 30 fps keeps its 33.3 ms), so
        // the sleeps' overshoot does not add up; after a hold-up the
        // schedule starts again from now.
        m_speedChanged = false;
        const double interval = varno::playback::localFrameIntervalUs(m_frameRate, m_speedCopy);
        due = due == 0 || due < double(t0) - interval ? double(t0) + interval : due + interval;
        waitForNextPicture(&due, interval);
    }
    WriteLog(0, "[PLAYBACK]Stop play thread!!!");
}
