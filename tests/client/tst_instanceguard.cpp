// One client per data folder: a second start reaches the first, which
// raises its windows; a holder that does not answer refuses the start with
// the message; a lock left by a crashed process is taken over.
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

// Another process takes the folder's lock, holds it until the pipe closes
// and ends without releasing it, as a crash leaves it.
pid_t lockInChild(const QString &folder, int *hold)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[1]);
        QLockFile lock(folder + QStringLiteral("/varno.lock"));
        char c;
        const bool locked = lock.tryLock(0);
        while (::read(fds[0], &c, 1) > 0) {
        }
        ::_exit(locked ? 0 : 3);
    }
    ::close(fds[0]);
    *hold = fds[1];
    return pid;
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void secondStartRaisesTheFirst()
    {
        const QString folder = freshFolder();
        InstanceGuard first(folder);
        int raised = 0;
        first.setRaiseAction([&] { ++raised; });
        QCOMPARE(first.acquire(), Outcome::First);
        // The second start waits for the answer, which the first gives from the
        // event loop this thread runs meanwhile.
        std::atomic<int> second{-1};
        std::thread starter([&] { second = int(InstanceGuard(folder).acquire()); });
        QTRY_VERIFY_WITH_TIMEOUT(second.load() >= 0, 10000);
        starter.join();
        QCOMPARE(Outcome(second.load()), Outcome::OtherRaised);
        QCOMPARE(raised, 1);
        QCOMPARE(InstanceGuard(freshFolder()).acquire(), Outcome::First); // another folder
    }

    void holderThatDoesNotAnswerThenCrashes()
    {
        const QString folder = freshFolder();
        int hold = -1;
        const pid_t pid = lockInChild(folder, &hold);
        QVERIFY(pid > 0);
        QTRY_VERIFY(QFile::exists(folder + QStringLiteral("/varno.lock")));
        varno::ui::PromptScript prompts;
        {
            InstanceGuard second(folder);
            QVERIFY(!varno::client::claimDataFolder(second, nullptr));
        }
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests()[0].text,
                 QStringLiteral("Another Varno PC Client is running with these data (%1).").arg(folder));
        ::close(hold);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(QFile::exists(folder + QStringLiteral("/varno.lock"))); // left behind
        InstanceGuard next(folder);
        QVERIFY(varno::client::claimDataFolder(next, nullptr));
        QCOMPARE(prompts.count(), 1);
    }
};

QTEST_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
