// One client per data folder: a second start on the same folder reaches the
// first one, which raises its windows; a folder held by a process that does
// not answer is refused with the message; a lock left by a crashed process
// is taken over; other folders are not affected.
#include "client/instanceguard.h"

#include "common/ui/promptscript.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QLockFile>
#include <QUuid>
#include <QtTest>

#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using varno::client::InstanceGuard;
using Outcome = InstanceGuard::Outcome;

namespace {

QString freshFolder()
{
    const QString dir = varno::test::tempRoot() + QStringLiteral("/data-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    QDir().mkpath(dir);
    return dir;
}

// A process of its own that takes the folder's lock and then either ends
// at once without releasing it (a crash) or holds it until its pipe closes.
pid_t lockInChild(const QString &folder, bool crash, int *holdPipe)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[1]);
        QLockFile lock(folder + QStringLiteral("/varno.lock"));
        if (!lock.tryLock(0))
            ::_exit(3);
        if (!crash) {
            char c;
            while (::read(fds[0], &c, 1) > 0) {
            }
        }
        ::_exit(0); // no destructor: the lock file stays as a crash leaves it
    }
    ::close(fds[0]);
    *holdPipe = fds[1];
    return pid;
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void secondStartRaisesTheFirst();
    void holderThatDoesNotAnswer();
    void staleLockIsTakenOver();
};

void TestInstanceGuard::secondStartRaisesTheFirst()
{
    const QString folder = freshFolder();
    InstanceGuard first(folder);
    int raised = 0;
    first.setRaiseAction([&] { ++raised; });
    QCOMPARE(first.acquire(), Outcome::First);

    // The second start waits for the answer; the first answers from its
    // event loop, which this thread keeps running meanwhile.
    std::atomic<int> second{-1};
    std::thread starter([&] {
        InstanceGuard other(folder);
        second = int(other.acquire());
    });
    QTRY_VERIFY_WITH_TIMEOUT(second.load() >= 0, 10000);
    starter.join();
    QCOMPARE(Outcome(second.load()), Outcome::OtherRaised);
    QCOMPARE(raised, 1);

    // Another folder is another client's business.
    InstanceGuard elsewhere(freshFolder());
    QCOMPARE(elsewhere.acquire(), Outcome::First);
}

void TestInstanceGuard::holderThatDoesNotAnswer()
{
    const QString folder = freshFolder();
    int hold = -1;
    const pid_t pid = lockInChild(folder, false, &hold);
    QVERIFY(pid > 0);
    QTRY_VERIFY(QFile::exists(folder + QStringLiteral("/varno.lock")));

    varno::ui::PromptScript prompts;
    InstanceGuard second(folder);
    QVERIFY(!varno::client::claimDataFolder(second, nullptr));
    QCOMPARE(prompts.count(), 1);
    QCOMPARE(prompts.requests()[0].text,
             QStringLiteral("Another Varno PC Client is running with these data (%1).").arg(folder));

    ::close(hold);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QCOMPARE(WEXITSTATUS(status), 0);
}

void TestInstanceGuard::staleLockIsTakenOver()
{
    const QString folder = freshFolder();
    int hold = -1;
    const pid_t pid = lockInChild(folder, true, &hold);
    QVERIFY(pid > 0);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    ::close(hold);
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY(QFile::exists(folder + QStringLiteral("/varno.lock")));

    varno::ui::PromptScript prompts;
    InstanceGuard next(folder);
    QVERIFY(varno::client::claimDataFolder(next, nullptr));
    QCOMPARE(prompts.count(), 0);
}

QTEST_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
