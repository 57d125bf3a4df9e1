#pragma once

#include "common/reopenbackoff.h"

#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class qmediarealrecord;

namespace varno::record {

// A stream a recorder opened for itself (an ONVIF camera's RTSP stream).
// Its frames go to the recorder from open() until close().
class RecordSource
{
public:
    virtual ~RecordSource() = default;
    // Opens the stream and lets its frames flow: 0, or the failing call's result.
    virtual int open() = 0;
    // The open stream broke (connection lost, no data within the read time-out).
    virtual bool broken() = 0;
    // Frames that arrived since the last open.
    virtual uint64_t frames() const = 0;
    // Closes the open stream; no frame arrives after it returns.
    virtual void close() = 0;
    // No frame reaches the recorder any more, also from a stream that an
    // open still running makes (any thread; the recorder may go after it).
    virtual void detach() = 0;
};

// Keeps a recorder's own stream open: a pass every kCycleMs finds a broken
// stream, closes it, tells the recorder (qmediarealrecord::noteStreamLost)
// and reopens it with the recording's back-off (common/reopenbackoff.h:
// every 250 ms for 30 s, then as the live view's); the back-off starts
// afresh once frames arrive.
//
// Threads: the keeper owns its thread, started by start(); stop() (also
// run by the destructor) detaches the source, sets the stop flag and joins
// the thread. A thread still in an open (a camera that does not answer)
// ends with the open's connect time-out and closes what it opened; nothing
// reaches the recorder after stop() returned. stop() may thus wait on the
// network: owners call it off the window's thread. Tests and benchmarks call
// pass() instead of starting the thread.
class StreamKeeper
{
    Q_DISABLE_COPY_MOVE(StreamKeeper)

public:
    static constexpr int kCycleMs = 80;

    // source: opened already; clock: milliseconds (the recorder's clock).
    StreamKeeper(std::string deviceId, std::unique_ptr<RecordSource> source, qmediarealrecord *recorder,
                 std::function<uint64_t()> clock, ReopenBackoff backoff = ReopenBackoff::forRecording());
    ~StreamKeeper();

    void start();
    void stop();
    // One pass (without the thread).
    void pass();

    // Observation: reopen attempts that failed in a row, the wait before
    // the next, and the stream opens since the first.
    int reopenFailures() const;
    uint32_t reopenDelay() const;
    int reopens() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::thread m_thread;
    bool m_started = false;
    bool m_stopped = false;
};

} // namespace varno::record
