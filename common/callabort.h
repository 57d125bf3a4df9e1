#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace varno {

// The stop of a thread whose owner must not wait for a camera: raise()
// ends the blocking library calls the thread makes under a CallAbortScope
// (a SOAP request closes its connection, a P2P connect stops waiting for
// the camera). Such a call returns its ordinary failure code, as if the
// camera had not answered. Raised once, for good.
//
// Threads: raise() on any thread (typically the owner's, before the join);
// the waits on the thread that does the calls.
class CallAbort
{
    Q_DISABLE_COPY_MOVE(CallAbort)

public:
    CallAbort() = default;

    void raise();
    bool raised() const { return m_raised.load(); }
    // For libraries that poll a flag (libcurl's progress callback).
    const std::atomic<bool> *flag() const { return &m_raised; }

    // A wait that sleeps on a condition of its own registers how to wake
    // it; the waker runs on the raising thread, under this object's lock
    // (it may take the waiter's lock, the waiter must not hold that lock
    // while it removes its waker). Returns a key for removeWaker.
    int addWaker(std::function<void()> wake);
    void removeWaker(int key);

private:
    std::atomic<bool> m_raised{false};
    std::mutex m_mutex;
    std::map<int, std::function<void()>> m_wakers;   // guarded by m_mutex
    int m_nextKey = 0;
};

// While it lives, the blocking library calls of this thread watch abort
// (scopes nest; a null abort watches nothing).
class CallAbortScope
{
    Q_DISABLE_COPY_MOVE(CallAbortScope)

public:
    explicit CallAbortScope(CallAbort *abort);
    ~CallAbortScope();

private:
    CallAbort *m_previous;
};

// The abort the calling thread's library calls watch, or null.
CallAbort *currentCallAbort();

// A waiter's registration with the current thread's abort, for the time of
// one wait; abort() is null when the thread watches none.
class CallAbortWaker
{
    Q_DISABLE_COPY_MOVE(CallAbortWaker)

public:
    explicit CallAbortWaker(std::function<void()> wake);
    ~CallAbortWaker();
    bool raised() const { return m_abort && m_abort->raised(); }

private:
    CallAbort *m_abort;
    int m_key = -1;
};

} // namespace varno
