#include "playback/qdevicefileplay.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2psession.h"
#include "platform/recfile/nalunits.h"
#include "playback/recordsearch.h"

#include <cstdlib>
#include <cstring>
#include <new>

using varno::playback::kPlayDecodeError;
using varno::playback::kPlayProgress;

namespace {

// Makes sure a session with the camera is up (the search or the live page
// usually opened it; it may have been lost since).
int ensureSession(const char *p2pId)
{
    const int ret = varno::p2p::ensureSession(varno::p2pHandle(), p2pId);
    return ret == 0 ? 0 : (ret < 0 ? ret : -1);
}

} // namespace

qdevicefileplay::qdevicefileplay(const PlayCamera_S &camera)
    : m_camera(camera)
{
    m_camera.p2pId[sizeof(m_camera.p2pId) - 1] = 0;
    m_camera.password[sizeof(m_camera.password) - 1] = 0;
}

qdevicefileplay::~qdevicefileplay()
{
    m_stop = true;
    m_wake.notify();
    joinWorker();
    // The thread has stopped the camera's stream on its way out; without a
    // thread the stream may still run.
    if (m_streamRunning && m_camera.connected)
        P2P_Client_SDK_Stop_Playback(varno::p2pHandle(), m_camera.p2pId, m_fileName);
    clearQueue();
    if (m_decoder)
        AV_CloseDecoder(m_decoder);
}

int qdevicefileplay::StartPlay(const char *fileName, int videoCodec, const AV_DECODER_PARAM_S *params,
                               uint32_t frameRate, int32_t window)
{
    if (window == 0) {
        WriteLog(2, "%s(%d):Handle is error!!!", "qdevicefileplay::StartPlay", __LINE__);
        return -1;
    }
    m_window = window;
    varno::setText(m_fileName, fileName ? fileName : "");
    if (params)
        m_params = *params;
    // Before the stream starts: its frames are read by this codec's rules.
    m_h265 = videoCodec == AV_VIDEO_H265;
    if (!m_camera.connected) {
        WriteLog(2, "%s(%d):PlayBackByFile Failed, ret(%d)!!!", "qdevicefileplay::StartPlay", __LINE__, -1);
        return -1;
    }
    int ret = ensureSession(m_camera.p2pId);
    if (ret == 0)
        ret = P2P_Client_SDK_Start_Playback(varno::p2pHandle(), m_camera.p2pId, m_fileName,
                                            &qdevicefileplay::frameCallback, this, 0, m_camera.password);
    if (ret < 0) {
        WriteLog(2, "%s(%d):Playback file(%s) failed, ret(%d)!!!", "qdevicefileplay::StartPlay", __LINE__,
                 m_fileName, ret);
        return ret;
    }
    m_streamRunning = true;
    if (AV_CreateDecoder(window, videoCodec, &m_params, &m_decoder) == 0) {
        WriteLog(2, "%s(%d):Create decoder failed!!!", "qdevicefileplay::StartPlay", __LINE__);
        m_decoder = nullptr;
        return -1;
    }
    m_frameRate = frameRate;
    try {
        m_thread = std::thread(&qdevicefileplay::decodeThread, this);
    } catch (...) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "qdevicefileplay::StartPlay", __LINE__);
        return varno::playback::kPlayThreadFailed;
    }
    return 0;
}

void qdevicefileplay::requestStream(int request)
{
    if (!m_camera.connected)
        return;
    ++m_requestsMade;
    m_streamRequest = request;
}

void qdevicefileplay::SetPause(bool pause)
{
    if (pause == m_pause)
        return;
    if (pause) {
        m_restartPending = true;
        m_pause = true;
        requestStream(kStopStream);
    } else {
        m_pause = false;
        // While suspended the end of the suspension restarts the stream.
        if (!m_suspend)
            requestStream(kRestartStream);
    }
}

void qdevicefileplay::SetSuspend(bool suspend)
{
    if (m_stop || suspend == m_suspend)
        return;
    m_suspend = suspend;
    // A paused stream (an ended file too) is stopped already and stays so
    // when the suspension ends: only play starts it again.
    if (m_pause)
        return;
    if (suspend) {
        m_restartPending = true;
        requestStream(kStopStream);
    } else {
        requestStream(kRestartStream);
    }
}

bool qdevicefileplay::streamAtEnd() const
{
    // The camera's last second reached and nothing asked of the stream since.
    const uint32_t length = m_length.load();
    return m_streamRunning && !m_pause && !m_suspend && !m_seekHold && !m_restartPending && !streamLeft()
        && m_streamRequest.load() == kNone && length > 0 && m_position.load() + 1 >= length;
}

void qdevicefileplay::SetSeekHold(bool hold)
{
    m_seekHold = hold;
    requestStream(hold ? kStopStream : kRestartStream);
}

void qdevicefileplay::StopPlay(bool wait)
{
    m_stop = true;
    m_wake.notify();
    if (wait)
        joinWorker();
}

void qdevicefileplay::SeekTo(int second)
{
    if (second >= 0 && uint32_t(second) != m_position)
        m_position = uint32_t(second);
}

void qdevicefileplay::UpdatePosition(int second)
{
    if (m_pause || m_seekHold || second < 0 || streamLeft())
        return;
    if (m_restartPending) {
        if (uint32_t(second) >= m_position)
            m_restartPending = false;
        return;
    }
    m_position = uint32_t(second);
}

int qdevicefileplay::frameCallback(int32_t type, const char *data, int32_t size, int32_t second, void *user)
{
    auto *self = static_cast<qdevicefileplay *>(user);
    if (!self)
        return 0;
    self->UpdatePosition(second);
    self->enqueue(type, data, size);
    return 0;
}

void qdevicefileplay::enqueue(int32_t type, const char *data, int32_t size)
{
    if (m_stop || m_pause || m_restartPending || streamLeft() || !data || size <= 0)
        return;
    if (type != 1 && type != 2) {
        // Neither video nor audio: nothing the decoder could use.
        ++m_droppedFrames;
        return;
    }
    const bool video = type == 1;
    if (video) {
        // The count starts with the stream's parameter sets (SPS, or the
        // H.265 VPS that leads them), behind AUD or SEI units or not.
        if (!m_countFrames
            && varno::recfile::startsWithParameterSets(codec(), reinterpret_cast<const uint8_t *>(data), size_t(size)))
            m_countFrames = true;
        if (m_countFrames) {
            uint32_t n = m_receivedFrames.load();
            m_receivedFrames = n >= 2147483647u ? 1 : n + 1;
        }
    }
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_dropToKey) {
        if (!video || !varno::recfile::startsDecodable(codec(), reinterpret_cast<const uint8_t *>(data), size_t(size))) {
            ++m_droppedFrames;
            return;
        }
        m_dropToKey = false;
        WriteLog(3, "%s(%d):Frame queue of file(%s) takes frames again at a key frame!!!",
                 "qdevicefileplay::frameCallback", __LINE__, m_fileName);
    }
    if (m_queue.size() >= kMaxQueuedFrames || m_queuedBytes + size_t(size) > kMaxQueuedBytes) {
        m_dropToKey = true;
        ++m_droppedFrames;
        WriteLog(3, "%s(%d):Frame queue of file(%s) is full (%d frames), frames dropped up to the next key frame!!!",
                 "qdevicefileplay::frameCallback", __LINE__, m_fileName, int(m_queue.size()));
        return;
    }
    void *block = std::malloc(sizeof(FrameInfo_S) + size_t(size));
    if (!block) {
        WriteLog(2, "[PLAYBACK]new FrameInfo_S failed!!!");
        return;
    }
    auto *frame = static_cast<FrameInfo_S *>(block);
    frame->reserved = 0;
    frame->size = uint32_t(size);
    frame->type = uint32_t(type - 1);
    std::memcpy(frame->data(), data, size_t(size));
    m_queue.push_back(frame);
    m_queuedBytes += size_t(size);
    m_firstFrame = true;
}

size_t qdevicefileplay::queuedFrames() const
{
    std::lock_guard<std::mutex> lock(const_cast<std::mutex &>(m_queueMutex));
    return m_queue.size();
}

void qdevicefileplay::clearQueue()
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    for (FrameInfo_S *f : m_queue)
        std::free(f);
    m_queue.clear();
    m_queuedBytes = 0;
    m_dropToKey = false;
}

void qdevicefileplay::serveStreamRequest()
{
    const int request = m_streamRequest.exchange(kNone);
    // A request made from here on is still waiting in m_streamRequest.
    const uint32_t made = m_requestsMade.load();
    if (request == kNone || !m_camera.connected)
        return;
    if (m_streamRunning) {
        // Returns once the stream's callback has returned: nothing of it
        // arrives after this.
        P2P_Client_SDK_Stop_Playback(varno::p2pHandle(), m_camera.p2pId, m_fileName);
        m_streamRunning = false;
    }
    m_requestsStopped = made;
    if (request != kRestartStream || m_stop)
        return;
    clearQueue();
    const int start = int(m_position.load());
    m_lastStartSecond = start;
    int ret = ensureSession(m_camera.p2pId);
    if (ret == 0)
        ret = P2P_Client_SDK_Start_Playback(varno::p2pHandle(), m_camera.p2pId, m_fileName,
                                            &qdevicefileplay::frameCallback, this, start, m_camera.password);
    if (ret < 0) {
        WriteLog(2, "%s(%d):Playback file(%s) failed, ret(%d)!!!", "qdevicefileplay::SetPause", __LINE__, m_fileName,
                 ret);
        return;
    }
    m_streamRunning = true;
    ++m_restarts;
}

void qdevicefileplay::decodeThread()
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[PLAYBACK]Start decode thread!!!");
    int lastReported = -1;
    int64_t deadline = 0;
    // When the last frame was decoded (0: none since the stream started).
    int64_t lastFrameUs = 0;
    std::vector<uint8_t> frameData;
    while (!m_stop) {
        const uint32_t restarts = m_restarts.load();
        serveStreamRequest();
        if (m_restarts.load() != restarts)
            lastFrameUs = 0;
        if (m_pause || m_restartPending || m_suspend) {
            clearQueue();
            lastFrameUs = 0;
        }
        if (m_seekHold)
            notify(int(m_length), int(m_position), kPlayProgress);
        FrameInfo_S *frame = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (!m_queue.empty()) {
                frame = m_queue.front();
                m_queue.pop_front();
                m_queuedBytes -= frame->size;
            }
        }
        if (!frame) {
            if (m_showLastFrame)
                AV_ShowLastFrame(m_decoder);
            // The camera sends in real time: a silence at the last second
            // is the end of the file (its end message is not passed on).
            if (!m_endReported && lastFrameUs != 0 && streamAtEnd()
                && m_clock->nowUs() - lastFrameUs >= kEndSilenceUs) {
                m_endReported = true;
                WriteLog(0, "[PLAYBACK]Camera file(%s) played to its end!!!", m_fileName);
                notify(int(m_length), int(m_position), varno::playback::kPlayEnded);
            }
            m_clock->idleSleepMs(10, &m_wake);
            deadline = 0;
            continue;
        }
        if (int(m_position) != lastReported) {
            lastReported = int(m_position);
            notify(int(m_length), lastReported, kPlayProgress);
        }
        const bool video = frame->type == 0;
        const int64_t t0 = m_clock->nowUs();
        const int ret = video ? AV_FrameDecoder(m_decoder, frame->data(), int32_t(frame->size), AV_FRAME_VIDEO, &m_params)
                              : decodeAudio(frame->data(), frame->size);
        std::free(frame);
        lastFrameUs = m_clock->nowUs();
        m_endReported = false;
        if (ret != AV_OK && ret != AV_ERR_NEED_DATA)
            notify(int(m_length), int(m_position), kPlayDecodeError);
        if (!video)
            continue;
        ++m_pacedFrames;
        const int64_t interval = varno::playback::cameraFrameIntervalUs(m_frameRate);
        deadline = deadline == 0 || deadline < t0 - interval ? t0 + interval : deadline + interval;
        m_clock->sleepUntilUs(deadline, &m_wake);
    }
    if (m_streamRunning && m_camera.connected) {
        P2P_Client_SDK_Stop_Playback(varno::p2pHandle(), m_camera.p2pId, m_fileName);
        m_streamRunning = false;
    }
    WriteLog(0, "[PLAYBACK]Stop decode thread!!!");
}
