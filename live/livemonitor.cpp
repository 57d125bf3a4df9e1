#include "live/livemonitor.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace varno::live {

uint32_t SteadyMonitorClock::nowMs() const
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString streamKeyFromDescr(const char *descr)
{
    if (!descr)
        return QString();
    const void *end = std::memchr(descr, '\0', 64);
    const size_t len = end ? static_cast<size_t>(static_cast<const char *>(end) - descr) : 64;
    QByteArray id(descr, static_cast<qsizetype>(len));
    if (id.startsWith("urn:uuid:"))
        id = id.mid(9, 55);
    else if (id.startsWith("urn:"))
        id = id.mid(4, 60);
    return QString::fromUtf8(id);
}

QString streamKeyFromCameraId(const QString &cameraId)
{
    const qsizetype dash = cameraId.indexOf(QLatin1Char('-'));
    if (dash < 1)
        return QString();
    return cameraId.mid(dash - 1, 1) + cameraId.mid(dash + 1, 6);
}

MonitorStep monitorStep(const MonitorInput &in)
{
    MonitorStep out;
    out.state = in.state;
    switch (in.state) {
    case kStateOpened:
        if (in.current == 0) {
            out.actions = MonitorStep::PaintOn | MonitorStep::RestartWait;
            out.state = kStateWaiting;
        } else {
            out.actions = MonitorStep::PaintOff;
            out.state = kStatePlaying;
        }
        break;
    case kStateWaiting:
        if (in.current != 0) {
            out.actions = MonitorStep::PaintOff | MonitorStep::StallClear;
            out.state = kStatePlaying;
        } else if (static_cast<uint32_t>(in.now - in.startTick) >= kFirstFrameTimeoutMs) {
            // Unsigned difference: right across the wrap of the tick count.
            out.actions = MonitorStep::CloseTimedOut;
            out.state = kStateTimedOut;
        }
        break;
    case kStatePlaying:
        if (in.current != in.last) {
            out.actions = MonitorStep::TakeCurrent | MonitorStep::PaintOff | MonitorStep::StallClear;
        } else {
            out.actions = MonitorStep::StallSet;
            if (in.winUsed && in.reopenWanted && in.reopenWanted()) {
                out.actions |= MonitorStep::CloseForReopen | MonitorStep::RestartWait;
                out.state = kStateReopening;
            }
        }
        break;
    case kStateReopening:
        if (in.winUsed && in.reconnectAllowed)
            out.actions = MonitorStep::Reopen;
        break;
    default:
        break;
    }
    return out;
}

} // namespace varno::live
