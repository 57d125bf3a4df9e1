#pragma once

#include "live/cddrawdisplay.h"
#include "platform/av/av_decoder.h"
#include "platform/av/decodedpicture.h"
#include "platform/recfile/nalunits.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QMutex>
#include <QString>

namespace varno::av {
class YuvToBgrTables;
}

class CLiveStream;

// Failure callback: code -1539 when the window's display failed.
typedef int (*LiveStreamFailCallback)(int code, CLiveStream *stream, void *user);

// One frame waiting for the decode thread: a 16-byte header, then the data.
struct LiveFrameHeader
{
    int32_t size;
    int32_t info0;
    int32_t type; // 0 video, 1 audio
    int32_t info1;
};
static_assert(sizeof(LiveFrameHeader) == 16);

// The decoder of one live video window: queues the frames of the stream
// libraries, decodes them on a thread of its own into the window's display
// surface, keeps the last picture for redisplay and snapshots, and counts
// the video frames for the stall watch of the live view.
class CLiveStream
{
public:
    // About 2 s of a 25 fps stream: when the decoder falls this far behind,
    // frames are dropped until the next key frame.
    static constexpr int kMaxQueuedVideoFrames = 50;
    static constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;
    static constexpr int kDisplayFailed = -1539;

    // window: native window handle (0: decode without display); decoderType:
    // 1 H.264, 2 H.265; audioParams: audio decoder code, channels, bits per
    // sample, sample rate.
    CLiveStream(int32_t window, int decoderType, const int audioParams[4]);
    virtual ~CLiveStream();
    Q_DISABLE_COPY_MOVE(CLiveStream)

    // Stream library thread: queue a copy of a frame (type 0 video, 1 audio).
    void SetCurrentFrame(const char *data, int size, int type, int info0, int info1);
    void ClearQueue();
    // The stream's video codec (AV_VIDEO_H264 or AV_VIDEO_H265) as the
    // stream itself names it: a different one replaces the decoder before
    // the next picture.
    void SetVideoCodec(int decoderType);

    void SetSoundOn(bool on) { m_soundOn = on; }
    void SetPaused(bool paused) { m_paused = paused; }
    void SetStalled(bool stalled) { m_stalled = stalled; }
    // Idle: the window is not shown; video and sound frames are dropped as
    // they come (the frame counter still counts them) and nothing is
    // decoded. Back from idle, decoding starts again at the next key frame
    // and the window keeps its last picture until then.
    void SetIdle(bool idle) { m_idle = idle; }
    bool idle() const { return m_idle.load(); }
    // The decode thread saw the idle state: frames queued before it are
    // dropped unread, and nothing more is decoded until idle ends.
    bool idleSettled() const { return m_idleSettled.load(); }
    // The decoder that replaces another in the same window: called on the
    // decode thread right before its first picture is shown (once). What it
    // does must not wait for this decoder's own thread.
    using FirstPictureHook = std::function<void(CLiveStream *stream)>;
    void SetFirstPictureHook(FirstPictureHook hook);
    // Off: no picture of this decoder reaches the window any more. Returns
    // once a picture being shown at the time of the call is done, so that
    // nothing of this decoder lands after a picture of its successor.
    void SetDisplayOff();
    // A switch was cancelled after the successor's first picture: this
    // decoder shows its pictures again.
    void SetDisplayOn() { m_displayOff = false; }
    bool displayOff() const { return m_displayOff.load(); }
    int GetFrameCounter() const { return m_frameCounter.load(); }
    bool soundOn() const { return m_soundOn.load(); }
    bool paused() const { return m_paused.load(); }
    void SetFailCallback(LiveStreamFailCallback callback, void *user);

    // Snapshot of the last picture into folder (user-interface thread).
    // Returns 0, or -1 when no picture came within waitMs or the file could
    // not be written.
    int CapturePicture(const QString &folder, const QString &deviceId, int channel, int waitMs = 1000);
    // A picture was decoded (a snapshot would find one).
    bool hasPicture() const;
    static int SaveBitmapFile(int bits, int width, int height, const uint8_t *data,
                              const QString &fileName);

    // Where the snapshot result goes (the pop-up of the live page): title and
    // text, called on the user-interface thread.
    using SnapshotHook = std::function<void(const QString &title, const QString &text)>;
    void SetSnapshotHook(SnapshotHook hook) { m_snapshotHook = std::move(hook); }

    // Observation for the live view and tests.
    int32_t windowHandle() const { return m_winHandle; }
    size_t queuedFrames() const;
    size_t queuedBytes() const;
    uint64_t droppedFrames() const { return m_dropped.load(); }
    uint64_t decodedPictures() const { return m_decodedPictures.load(); }
    // Pictures decoded before the stream's first key picture (not shown).
    uint64_t skippedPictures() const { return m_skippedPictures.load(); }
    bool threadRunning() const { return m_thread.joinable(); }
    QString lastSnapshotFile() const { return m_lastSnapshotFile; }
    // Tests: start the frame counter at a given value (the wrap).
    void SetFrameCounterForTest(int value) { m_frameCounter = value; }

private:
    struct Frame
    {
        LiveFrameHeader header;
        int64_t arrivalUs = 0;            // when SetCurrentFrame took it (latency probe)
        bool afterGap = false;            // the first frame after frames were dropped
        std::unique_ptr<uint8_t[]> block; // header copy + data, as one heap block
        const uint8_t *data() const { return block.get() + sizeof(LiveFrameHeader); }
    };
    void StreamDecodeThread();
    varno::recfile::VideoCodec codec() const;
    std::unique_ptr<Frame> takeFrame(int waitMs);
    void restWhileIdle();
    void showPicture(const varno::av::DecodedPicture &picture);
    void displayFailed();

    std::atomic<int> m_decoderType; // AV_VIDEO_*; an RTSP stream may name another
    AV_DECODER_PARAM_S m_audioParams{};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_paused{false};
    std::thread m_thread;
    AV_HANDLE m_decoder = nullptr;
    int32_t m_winHandle;
    std::atomic<bool> m_soundOn{false};
    std::atomic<int> m_frameCounter{0};
    std::atomic<bool> m_stalled{false};
    std::atomic<bool> m_idle{false};
    std::atomic<bool> m_idleSettled{false};
    bool m_resumeAtKey = false;          // queue lock: idle dropped frames, start at a key frame
    bool m_gap = false;                  // queue lock: frames were dropped; the next one queued says so
    std::mutex m_showLock;               // held while a picture goes to the window
    std::atomic<bool> m_displayOff{false};
    FirstPictureHook m_firstPictureHook; // set before the first frame, called once
    bool m_firstShown = false;           // decode thread
    std::unique_ptr<varno::av::YuvToBgrTables> m_tables; // built with the first snapshot
    SnapshotHook m_snapshotHook;
    QString m_lastSnapshotFile;
    mutable QMutex m_pictureLock;
    varno::av::DecodedPicture m_lastPicture; // held by reference: the decoder draws the next one elsewhere
    CDDrawDisplay m_display;
    bool m_displayInitialised = false;
    bool m_displayFailed = false;
    bool m_failReported = false;
    bool m_audioOff = false;
    int64_t m_lastRedrawMs = 0;

    mutable std::mutex m_queueLock;
    std::condition_variable m_queueSignal;
    std::deque<std::unique_ptr<Frame>> m_queue;
    int m_queuedVideo = 0;
    size_t m_queuedBytes = 0;
    bool m_dropping = false;
    std::atomic<uint64_t> m_dropped{0};
    uint64_t m_droppedThisSpell = 0;
    std::atomic<uint64_t> m_decodedPictures{0};
    std::atomic<uint64_t> m_skippedPictures{0};
    std::atomic<bool> m_awaitKey{false}; // set by ClearQueue: a new stream follows
    bool m_keySeen = false;              // decode thread: a key picture was fed

    std::mutex m_callbackLock;
    LiveStreamFailCallback m_failCallback = nullptr;
    void *m_failUser = nullptr;
};
