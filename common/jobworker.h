#pragma once

#include "common/callabort.h"

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace varno {

// What a job sees of its cancellation. Cheap to copy; a job keeps it for as
// long as it runs. The job's blocking library calls (a SOAP request, a P2P
// connect) watch it too: the cancel ends one in progress at once, with its
// failure code.
class JobToken
{
public:
    JobToken();
    // A token cancelled from the start.
    static JobToken cancelledToken();

    bool cancelled() const;
    // Waits ms milliseconds, or less when the job is cancelled meanwhile:
    // true when the whole time passed, false when cancelled.
    bool pause(int ms) const;

private:
    friend class JobWorker;
    struct State
    {
        std::mutex mutex;
        std::condition_variable wake;
        bool cancelled = false;
        CallAbort calls;   // raised with cancelled
    };
    // The flag (and pause()) only; cancel() also ends the library calls.
    void markCancelled() const;
    void cancel() const;

    std::shared_ptr<State> m_state;
};

// One thread that runs a controller's long jobs (network, disk) one after
// the other, in the order they were posted. The thread starts with the
// first job and belongs to the worker: the destructor cancels the running
// job, drops the queued ones and joins the thread, so no job outlives its
// owner. A job runs under its token's CallAbortScope: a cancel ends the
// library call it waits in (a connect, a SOAP request), and pause()
// between tries, at once.
//
// Threads: post(), cancel(), finish() and the destructor on the owner's
// thread; jobs on the worker thread.
class JobWorker
{
    Q_DISABLE_COPY_MOVE(JobWorker)

public:
    using Job = std::function<void(const JobToken &)>;

    JobWorker();
    ~JobWorker();

    // Queues a job; false (job not run) when no thread could be made.
    bool post(Job job);
    // Every job posted so far is told (its token): the running one and the
    // queued ones, which still run, each to see it at once and report back.
    void cancel();
    // Runs every queued job to its end, then joins the thread (jobs that
    // must not be lost: stored entries). Later posts start a new thread.
    void finish();
    // No job queued or running.
    bool idle() const;

private:
    void run();
    void stopAndJoin(bool dropQueued);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<Job, JobToken>> m_queue;
    JobToken m_current; // token of the jobs posted since the last cancel
    bool m_running = false; // a job runs now
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace varno
