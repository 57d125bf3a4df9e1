#pragma once

#include "platform/av/av_decoder.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class qmediaplay;

// Progress callback of a playback engine: (length, position, code, engine,
// user), called on the engine's worker thread. Code -1042 is a progress
// notice in seconds, -1539 a frame the decoder refused, -1050 the end of
// the file reached (once, until frames come again).
typedef int (*MediaPlayCallback)(int length, int position, int code, qmediaplay *engine, void *user);

namespace varno::playback {

enum : int {
    kPlayProgress = -1042,
    kPlayDecodeError = -1539,
    kPlayThreadFailed = -1046,
    kPlayEnded = -1050,
    kCapNoPath = -260,
};

// Wakes a worker from its pacing or idle sleep. The engine's operations
// (seek, pause, stop, speed, step) notify it, so the worker takes a request
// at once instead of after the rest of a frame interval. A notice that
// comes while the worker is awake is kept for its next sleep, which then
// returns at once: none is lost.
class PlaybackWake
{
public:
    // Any thread.
    void notify();
    // Waits until notified or until the steady clock reaches the deadline;
    // true when notified. Takes the notice.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

    // A clock of another kind (a test's) waits on these itself: pending is
    // set under mutex, then cv is notified; the sleeper clears it.
    std::mutex mutex;
    std::condition_variable cv;
    bool pending = false;   // under mutex
};

// The clock the workers pace by: steady time in microseconds and sleeps
// that a wake ends early. Tests install a virtual clock to see the pacing
// without waiting for it.
class PlaybackClock
{
public:
    virtual ~PlaybackClock() = default;
    virtual int64_t nowUs() = 0;
    // Sleeps until the deadline; true when the wake ended the sleep first.
    virtual bool sleepUntilUs(int64_t deadlineUs, PlaybackWake *wake) = 0;
    // The idle step's sleep; true when the wake ended it first.
    virtual bool idleSleepMs(int ms, PlaybackWake *wake) = 0;
    // The process clock.
    static PlaybackClock *system();
};

// An audio frame as the decoder takes it: PCM (code 103) unchanged, other
// codes behind the 4-byte header {0, 1, size / 2, 0}. The whole frame is
// kept, whatever its length.
void packAudioFrame(uint32_t audioCode, const uint8_t *data, uint32_t size, std::vector<uint8_t> *out);

} // namespace varno::playback

// A playback engine: plays one recording into one video window on a worker
// thread of its own, with a decoder that draws into the window. The grid
// creates one per playing window and drives it through these operations
// (user-interface thread); progress comes back through the callback.
class qmediaplay
{
    Q_DISABLE_COPY_MOVE(qmediaplay)

public:
    qmediaplay() = default;
    virtual ~qmediaplay();

    virtual int StartPlay(const char *fileName, int videoCodec, const AV_DECODER_PARAM_S *params, uint32_t frameRate,
                          int32_t window) = 0;
    virtual void SetPause(bool pause) = 0;
    virtual void SetSuspend(bool suspend) = 0;
    virtual void StopPlay(bool wait) = 0;
    virtual void SetSpeed(float speed);
    void SetCallback(MediaPlayCallback callback, void *user);
    virtual void SeekTo(int second) = 0;
    virtual void UpdatePosition(int second);
    void SetLength(int length) { m_length = uint32_t(length); }
    virtual int GetFrameCount() const = 0;
    void SetShowLastFrame(bool show) { m_showLastFrame = show; }
    virtual void SetSeekHold(bool hold) { m_seekHold = hold; }
    int CapPicture(const char *path);
    // One picture forward while paused (local files).
    virtual void StepFrame() {}
    // Whether the speed factor changes the pacing (local files).
    virtual bool speedSupported() const { return false; }

    bool paused() const { return m_pause; }
    bool suspended() const { return m_suspend; }
    bool stopped() const { return m_stop; }
    bool seekHold() const { return m_seekHold; }
    float speed() const { return m_speed; }
    uint32_t position() const { return m_position; }
    uint32_t length() const { return m_length; }
    uint32_t frameRate() const { return m_frameRate; }
    bool showLastFrame() const { return m_showLastFrame; }
    // Video frames paced so far (a measure for tests and benchmarks).
    uint64_t pacedFrames() const { return m_pacedFrames; }
    // The clock the worker paces by (the process clock unless set before
    // StartPlay).
    void setClock(varno::playback::PlaybackClock *clock) { m_clock = clock; }

protected:
    int notify(int length, int position, int code);
    void joinWorker();
    // Decodes one audio frame (any length).
    int decodeAudio(const uint8_t *data, uint32_t size);

    std::thread m_thread;
    std::atomic<bool> m_pause{false};
    std::atomic<bool> m_stop{false};
    std::atomic<float> m_speed{1.0f};
    int32_t m_window = 0;
    std::atomic<void *> m_user{nullptr};
    std::atomic<uint32_t> m_frameRate{0};
    std::atomic<uint32_t> m_position{0};
    AV_HANDLE m_decoder = nullptr;
    std::atomic<MediaPlayCallback> m_callback{nullptr};
    std::atomic<uint32_t> m_length{0};
    std::atomic<bool> m_showLastFrame{false};
    std::atomic<bool> m_seekHold{false};
    std::atomic<bool> m_suspend{false};
    std::atomic<uint64_t> m_pacedFrames{0};
    AV_DECODER_PARAM_S m_params{};
    varno::playback::PlaybackClock *m_clock = varno::playback::PlaybackClock::system();
    // Notified by the operations above that the worker must see at once.
    varno::playback::PlaybackWake m_wake;
    std::vector<uint8_t> m_audioBuffer;
};
