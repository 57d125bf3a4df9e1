#pragma once

#include "common/reopenbackoff.h"

#include <QString>

#include <cstdint>
#include <functional>

// The pieces of the live view's stream watch that do not need a window:
// the stream keys, the clock, and one step of the per-stream state machine
// that the monitor thread runs every 80 ms.
namespace varno::live {

// Monitor states of one stream.
enum MonitorState : int32_t {
    kStateOpened = 0,
    kStateWaiting = 1,   // waiting for the first key frame
    kStatePlaying = 2,
    kStateReopening = 3,
    kStateTimedOut = 4,  // window closed
};

// A stream that shows no key frame for this long is closed.
inline constexpr uint32_t kFirstFrameTimeoutMs = 10000;
// Spacing of the reopen attempts (common/reopenbackoff.h, shared with the
// recorder's own stream).
using varno::kReopenFirstDelayMs;
using varno::kReopenLongestDelayMs;
// Pause between two monitor passes.
inline constexpr int kMonitorCycleMs = 80;
// A window whose stream is being reopened, or that showed no new picture
// for this long while playing, shows that it is reconnecting until its next
// picture (the stall flag alone fires between two pictures of a slow camera).
inline constexpr uint32_t kReconnectingAfterMs = 2000;

// Millisecond tick source of the monitor; tests drive their own.
class MonitorClock
{
public:
    virtual ~MonitorClock() = default;
    virtual uint32_t nowMs() const = 0;
};

// Monotonic clock (the default).
class SteadyMonitorClock final : public MonitorClock
{
public:
    uint32_t nowMs() const override;
};

// Stream key of a frame callback's description: the device ID text at its
// start (at most 64 bytes, read no further than its terminator), with a
// leading "urn:uuid:" or "urn:" removed.
QString streamKeyFromDescr(const char *descr);

// Stream key of a camera notice: the character before the first "-" of the
// camera ID followed by the six characters after it ("VRNB-100001-X" gives
// "B100001"). Empty when the text has no character before a dash.
QString streamKeyFromCameraId(const QString &cameraId);

// What one monitor pass decided for one stream (flags, applied in order).
struct MonitorStep
{
    enum : uint32_t {
        PaintOn = 1u << 0,       // window shows its idle look while waiting
        PaintOff = 1u << 1,      // pictures play
        StallSet = 1u << 2,
        StallClear = 1u << 3,
        RestartWait = 1u << 4,   // startTick = now
        CloseTimedOut = 1u << 5, // stop record, close the window
        CloseForReopen = 1u << 6,// close the stream, window reconnecting
        Reopen = 1u << 7,        // reopen the stream when its next attempt is due
        TakeCurrent = 1u << 8,   // last = current
    };
    int32_t state = kStateOpened;
    uint32_t actions = 0;
    bool has(uint32_t flag) const { return (actions & flag) != 0; }
};

struct MonitorInput
{
    int32_t state = kStateOpened;
    int current = 0;          // frame counter now
    int last = 0;             // frame counter at the previous pass
    uint32_t now = 0;
    uint32_t startTick = 0;
    bool winUsed = false;
    bool reconnectAllowed = false;
    // P2P: the camera announced an interruption; ONVIF: asked only when
    // stalled, true when the RTSP connection is broken.
    std::function<bool()> reopenWanted;
};

// One step of the state machine (both kinds of stream).
MonitorStep monitorStep(const MonitorInput &in);

using varno::ReopenBackoff;

} // namespace varno::live
