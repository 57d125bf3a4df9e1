#pragma once

#include "platform/recfile/nalunits.h"
#include "playback/qmediaplay.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

// Camera block of a camera file's engine (97 bytes).
#pragma pack(push, 1)
struct PlayCamera_S
{
    uint8_t connected;
    char p2pId[32];
    char password[64];
};
#pragma pack(pop)
static_assert(sizeof(PlayCamera_S) == 97);

// One frame waiting for decoding: this 12-byte head and size bytes of data
// in one block.
struct FrameInfo_S
{
    uint32_t reserved;
    uint32_t size;
    uint32_t type;             // 0 video, 1 audio

    uint8_t *data() { return reinterpret_cast<uint8_t *>(this + 1); }
};
static_assert(sizeof(FrameInfo_S) == 12);

// Plays a recording from a camera's storage: the camera streams it over the
// P2P library (frame callback on the library's thread), the frames wait in
// a bounded queue and the decode thread decodes and paces them. Position
// and length are seconds. Stopping and restarting the camera's stream
// (pause, suspend, slider drag) is done by the decode thread, so the
// user-interface thread never waits for the camera.
class qdevicefileplay : public qmediaplay
{
public:
    // The queue's bound: when it holds this many frames (or bytes) the
    // camera is ahead of the decoder; new frames are dropped up to the next
    // key frame.
    static constexpr size_t kMaxQueuedFrames = 400;
    static constexpr size_t kMaxQueuedBytes = 32u << 20;
    // Silence at the file's last second after which the end is reported
    // (kPlayEnded, once until frames come again).
    static constexpr int64_t kEndSilenceUs = 1500000;

    explicit qdevicefileplay(const PlayCamera_S &camera);
    ~qdevicefileplay() override;

    int StartPlay(const char *fileName, int videoCodec, const AV_DECODER_PARAM_S *params, uint32_t frameRate,
                  int32_t window) override;
    void SetPause(bool pause) override;
    void SetSuspend(bool suspend) override;
    void StopPlay(bool wait) override;
    void SeekTo(int second) override;
    void UpdatePosition(int second) override;
    int GetFrameCount() const override { return int(m_receivedFrames.load()); }
    void SetSeekHold(bool hold) override;

    // The P2P library's frame callback (public for tests that feed frames).
    static int frameCallback(int32_t type, const char *data, int32_t size, int32_t second, void *user);

    bool restartPending() const { return m_restartPending; }
    uint32_t receivedFrames() const { return m_receivedFrames; }
    size_t queuedFrames() const;
    uint64_t droppedFrames() const { return m_droppedFrames; }
    // Camera stream starts after the first (restarts), and the second of the last one.
    uint32_t restarts() const { return m_restarts; }
    int lastStartSecond() const { return m_lastStartSecond; }

private:
    enum StreamRequest { kNone = 0, kStopStream = 1, kRestartStream = 2 };

    void decodeThread();
    void clearQueue();
    void requestStream(int request);
    void serveStreamRequest();
    void enqueue(int32_t type, const char *data, int32_t size);
    bool streamAtEnd() const;

    std::mutex m_queueMutex;
    std::deque<FrameInfo_S *> m_queue;
    size_t m_queuedBytes = 0;
    bool m_dropToKey = false;
    std::atomic<bool> m_firstFrame{false};
    PlayCamera_S m_camera;
    char m_fileName[256] = {};
    std::atomic<bool> m_restartPending{false};
    std::atomic<uint32_t> m_receivedFrames{0};
    std::atomic<bool> m_countFrames{false};
    std::atomic<bool> m_h265{false}; // the file's video is H.265
    varno::recfile::VideoCodec codec() const
    {
        return m_h265 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;
    }
    std::atomic<uint64_t> m_droppedFrames{0};
    std::atomic<int> m_streamRequest{kNone};
    // Requests made and requests whose stop has been carried out: while
    // they differ, the stream still running is one the user has left
    // (its seconds and frames are ignored).
    std::atomic<uint32_t> m_requestsMade{0};
    std::atomic<uint32_t> m_requestsStopped{0};
    bool streamLeft() const { return m_requestsMade.load() != m_requestsStopped.load(); }
    std::atomic<bool> m_streamRunning{false};
    std::atomic<bool> m_endReported{false};
    std::atomic<uint32_t> m_restarts{0};
    std::atomic<int> m_lastStartSecond{0};
};
