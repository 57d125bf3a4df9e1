// The controllers' job thread: jobs in order, a cancel that reaches the
// running job (its pause ends) and the queued ones, finish() running what is
// queued, and a destructor that cancels and joins.
#include "common/jobworker.h"

#include <QtTest>

#include <atomic>
#include <mutex>
#include <vector>

class TestJobWorker : public QObject
{
    Q_OBJECT

private slots:
    void jobsRunInOrderAndFinishRunsTheQueue()
    {
        varno::JobWorker worker;
        std::mutex mutex;
        std::vector<int> order;
        for (int i = 1; i <= 3; ++i)
            QVERIFY(worker.post([&, i](const varno::JobToken &token) {
                QVERIFY(!token.cancelled());
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(i);
            }));
        worker.finish();
        QVERIFY(worker.idle());
        QCOMPARE(order, (std::vector<int>{1, 2, 3}));
        // A post after finish() starts the thread again.
        QVERIFY(worker.post([&](const varno::JobToken &) { order.push_back(4); }));
        worker.finish();
        QCOMPARE(order.back(), 4);
    }

    void cancelReachesRunningAndQueuedJobs()
    {
        varno::JobWorker worker;
        std::atomic<int> running{0}, pauseResult{-1}, queuedSaw{-1}, laterSaw{-1};
        worker.post([&](const varno::JobToken &token) {
            running = 1;
            pauseResult = token.pause(600000) ? 1 : 0; // ended by the cancel only
        });
        worker.post([&](const varno::JobToken &token) { queuedSaw = token.cancelled() ? 1 : 0; });
        QTRY_COMPARE(running.load(), 1);
        QVERIFY(!worker.idle());
        worker.cancel();
        worker.post([&](const varno::JobToken &token) { laterSaw = token.cancelled() ? 1 : 0; });
        worker.finish();
        QCOMPARE(pauseResult.load(), 0);
        QCOMPARE(queuedSaw.load(), 1);
        QCOMPARE(laterSaw.load(), 0);
        QVERIFY(varno::JobToken::cancelledToken().cancelled());
        QVERIFY(!varno::JobToken::cancelledToken().pause(600000));
    }

    void destructorCancelsAndDropsTheQueue()
    {
        std::atomic<int> running{0}, pauseResult{-1}, queuedRan{0};
        {
            varno::JobWorker worker;
            worker.post([&](const varno::JobToken &token) {
                running = 1;
                pauseResult = token.pause(600000) ? 1 : 0;
            });
            worker.post([&](const varno::JobToken &) { queuedRan = 1; });
            QTRY_COMPARE(running.load(), 1);
        }
        QCOMPARE(pauseResult.load(), 0);
        QCOMPARE(queuedRan.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestJobWorker)
#include "tst_jobworker.moc"
