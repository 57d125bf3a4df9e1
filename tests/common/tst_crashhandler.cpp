#include "common/crashhandler.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "tests/support/files.h"

#include <QtTest>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <cfenv>
#include <cfloat>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <map>
#include <thread>
#include <unistd.h>

// ---- what the child processes do ---------------------------------------------

volatile int g_stopDepth = -1;
volatile int g_intSink = 0;
volatile double g_doubleSink = 0;
int *volatile g_nullPointer = nullptr;

// Kept out of line and with external linkage, so the backtrace names them.
// The faults are meant: under the undefined-behaviour sanitizer they must
// still reach the handler as the signal, not as the sanitizer's report.
__attribute__((noinline, no_sanitize("undefined"))) void crashNullWrite()
{
    *g_nullPointer = 42;
}

__attribute__((noinline)) void crashIllegal()
{
    __builtin_trap(); // ud2 on x86-64
}

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == g_stopDepth)
        return frame[0];
    return recurse(depth + 1) + frame[0];
}

__attribute__((noinline, no_sanitize("undefined"))) void crashIntegerDivide()
{
    volatile int a = 1;
    volatile int b = 0;
    g_intSink = a / b;
}

__attribute__((noinline)) void crashFloat(int except)
{
    feenableexcept(except);
    volatile double one = 1.0, zero = 0.0, three = 3.0, big = DBL_MAX, small = DBL_MIN;
    switch (except) {
    case FE_DIVBYZERO: g_doubleSink = one / zero; break;
    case FE_OVERFLOW: g_doubleSink = big * 2.0; break;
    case FE_UNDERFLOW: g_doubleSink = small * small; break;
    case FE_INEXACT: g_doubleSink = one / three; break;
    case FE_INVALID: g_doubleSink = zero / zero; break;
    default: break;
    }
}

__attribute__((noinline)) void crashBusError()
{
    // A mapping past the end of an empty file.
    const int fd = ::open("empty.bin", O_RDWR | O_CREAT | O_TRUNC, 0600);
    void *p = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED)
        ::_exit(3);
    static_cast<volatile char *>(p)[0] = 1;
}

void limitMainStack()
{
    // The main thread's stack grows up to its limit; make sure there is one.
    struct rlimit rl {};
    ::getrlimit(RLIMIT_STACK, &rl);
    if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > 8 * 1024 * 1024) {
        rl.rlim_cur = 8 * 1024 * 1024;
        ::setrlimit(RLIMIT_STACK, &rl);
    }
}

void sleepUntil(qint64 epochMs)
{
    while (QDateTime::currentMSecsSinceEpoch() < epochMs)
        ::usleep(1000);
}

int runChild(int argc, char **argv)
{
    const QByteArray mode = argv[2];
    if (mode == "stack-main")
        limitMainStack();
    InstallCrashHandler();
    WriteLog(0, "[CLIENT]child %s started!!!", mode.constData());

    if (mode == "null-write") {
        crashNullWrite();
    } else if (mode == "null-write-at" && argc > 3) {
        sleepUntil(QByteArray(argv[3]).toLongLong());
        crashNullWrite();
    } else if (mode == "int-divide") {
        crashIntegerDivide();
    } else if (mode == "illegal") {
        crashIllegal();
    } else if (mode == "stack-main") {
        g_intSink = recurse(0);
    } else if (mode == "stack-thread") {
        std::thread t([] {
            InstallCrashHandlerOnThread();
            g_intSink = recurse(0);
        });
        t.join();
    } else if (mode == "null-write-thread") {
        // No per-thread set-up needed for anything but a stack overflow.
        std::thread t([] { crashNullWrite(); });
        t.join();
    } else if (mode == "breakpoint") {
        ::raise(SIGTRAP);
    } else if (mode == "bus") {
        crashBusError();
    } else if (mode.startsWith("float-")) {
        const std::map<QByteArray, int> excepts{{"divide", FE_DIVBYZERO}, {"overflow", FE_OVERFLOW},
                                                {"underflow", FE_UNDERFLOW}, {"inexact", FE_INEXACT},
                                                {"invalid", FE_INVALID}};
        const auto e = excepts.find(mode.mid(6));
        if (e == excepts.end())
            return 2;
        crashFloat(e->second);
    } else if (mode == "wait") {
        std::printf("ready\n");
        std::fflush(stdout);
        for (int i = 0; i < 600; ++i)
            ::usleep(100000);
        return 4;
    } else {
        return 2;
    }
    return 0; // no crash happened
}

// ---- the parent side ----------------------------------------------------------

namespace {

struct Result
{
    int signal = 0;    // the signal that ended the child, or 0
    int exitCode = -1; // its exit code when it exited normally
    bool timedOut = false;
    QByteArray out;
};

// Starts this test program as a child in the given working directory, its
// stdout read by the test, without core files.
std::unique_ptr<QProcess> spawn(const QStringList &args, const QString &cwd)
{
    auto child = std::make_unique<QProcess>();
    child->setWorkingDirectory(cwd);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->setChildProcessModifier([] {
        struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
    child->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    return child;
}

Result finish(QProcess &child, int timeoutMs = 60000)
{
    Result r;
    if (!child.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        child.kill();
        child.waitForFinished();
    }
    r.out = child.readAllStandardOutput();
    // A child ended by a signal: Qt gives the signal as its exit code.
    if (child.exitStatus() == QProcess::CrashExit)
        r.signal = child.exitCode();
    else
        r.exitCode = child.exitCode();
    return r;
}

Result run(const QStringList &args, const QString &cwd) { return finish(*spawn(args, cwd)); }

QString logFile() { return QString::fromStdString(varno::installDir()) + QStringLiteral("/log/Varno.log"); }

// Messages of the log file with their levels: "N|message".
QStringList logMessages()
{
    QFile f(logFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression line(
        QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\]\\[level:(\\d+)\\](.*)\\r$"));
    QStringList messages;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const auto m = line.match(QString::fromUtf8(raw));
        if (m.hasMatch())
            messages << m.captured(1) + QLatin1Char('|') + m.captured(2);
        else if (!raw.isEmpty() && !raw.startsWith("Log File Created On:"))
            messages << QStringLiteral("MALFORMED|") + QString::fromUtf8(raw);
    }
    return messages;
}

QStringList dumpFiles(const QString &cwd)
{
    return QDir(cwd + QStringLiteral("/log")).entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
}

const QRegularExpression &dumpName()
{
    static const QRegularExpression re(QStringLiteral("^(\\d{4}_\\d\\d_\\d\\d-\\d\\d_\\d\\d_\\d\\d)\\.dmp$"));
    return re;
}

using varno::test::readFile;

QString hexCode(unsigned code) { return QStringLiteral("0x") + QString::number(code, 16); }

} // namespace

class TestCrashHandler : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(logFile());
        QVERIFY(m_cwd.isValid());
        QDir(m_cwd.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_cwd.path() + QStringLiteral("/log")));
    }

    void crashes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<unsigned>("code");
        QTest::addColumn<QString>("inDump"); // also expected in the report

        QTest::newRow("null write") << "null-write" << SIGSEGV << 0xC0000005u << "crashNullWrite";
        QTest::newRow("null write, second thread") << "null-write-thread" << SIGSEGV << 0xC0000005u << "crashNullWrite";
        QTest::newRow("integer divide") << "int-divide" << SIGFPE << 0xC0000094u << "crashIntegerDivide";
        QTest::newRow("illegal instruction") << "illegal" << SIGILL << 0xC000001Du << "crashIllegal";
        QTest::newRow("stack overflow, main thread") << "stack-main" << SIGSEGV << 0xC00000FDu << "recurse";
        QTest::newRow("stack overflow, second thread") << "stack-thread" << SIGSEGV << 0xC00000FDu << "recurse";
        QTest::newRow("breakpoint") << "breakpoint" << SIGTRAP << 0x80000003u << "si_code: -6 (SI_TKILL)";
        QTest::newRow("bus error") << "bus" << SIGBUS << 0x80000002u << "crashBusError";
    #if defined(__x86_64__) || defined(__i386__)
        // Floating-point traps: the processor reports which exception it was.
        QTest::newRow("float divide") << "float-divide" << SIGFPE << 0xC000008Eu << "FPE_FLTDIV";
        QTest::newRow("float overflow") << "float-overflow" << SIGFPE << 0xC0000091u << "FPE_FLTOVF";
        QTest::newRow("float underflow") << "float-underflow" << SIGFPE << 0xC0000093u << "FPE_FLTUND";
        QTest::newRow("float inexact") << "float-inexact" << SIGFPE << 0xC000008Fu << "FPE_FLTRES";
        QTest::newRow("float invalid") << "float-invalid" << SIGFPE << 0xC0000090u << "FPE_FLTINV";
    #endif
    }

    void crashes()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(unsigned, code);
        QFETCH(QString, inDump);

        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const Result r = run({mode}, m_cwd.path());
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QVERIFY(!r.timedOut);
        QVERIFY2(r.signal == signal, qPrintable(QStringLiteral("ended by signal %1, exit code %2").arg(r.signal).arg(r.exitCode)));

        // The dump: one file named after the time, holding the whole report.
        const QStringList dumps = dumpFiles(m_cwd.path());
        QCOMPARE(dumps.size(), 1);
        const auto name = dumpName().match(dumps.first());
        QVERIFY2(name.hasMatch(), qPrintable(dumps.first()));
        const QDateTime stamp = QDateTime::fromString(name.captured(1), QStringLiteral("yyyy_MM_dd-hh_mm_ss"));
        QVERIFY2(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after, qPrintable(dumps.first()));

        const QByteArray dump = readFile(m_cwd.path() + QStringLiteral("/log/") + dumps.first());
        QVERIFY(dump.startsWith("Varno crash report\n"));
        // The dump names threads, addresses and memory: the user's only.
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_cwd.path() + QStringLiteral("/log/") + dumps.first()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        QVERIFY(dump.endsWith("end of report\n"));
        // The map lists the program itself.
        for (const QByteArray &part : {QStringLiteral("signal: %1 (").arg(signal).toLatin1(),
                                       "exception code: " + hexCode(code).toLatin1() + '\n',
                                       QByteArray("exception: ") + CrashExceptionText(code) + '\n',
                                       QByteArray("\nregisters:\n"), QByteArray("\nbacktrace:\n"),
                                       QByteArray("\nmemory map (/proc/self/maps):\n"),
                                       QFileInfo(QCoreApplication::applicationFilePath()).fileName().toLocal8Bit(),
                                       inDump.toLatin1()})
            QVERIFY2(dump.contains(part), (part + " not in:\n" + dump.left(3000)).constData());
    #if defined(__x86_64__)
        QVERIFY(dump.contains("  rip 0x"));
    #endif
        if (mode.startsWith(QLatin1String("null-write")))
            QVERIFY(dump.contains("fault address: 0x0000000000000000\n"));

        checkLogLines(r, code);
        QVERIFY(logMessages().contains(QStringLiteral("0|[CLIENT]child %1 started!!!").arg(mode)));
    }

    void killFromOutside()
    {
        const auto child = spawn({QStringLiteral("wait")}, m_cwd.path());
        QByteArray out;
        QVERIFY(QTest::qWaitFor([&] {
            out += child->readAllStandardOutput();
            return out.split('\n').contains("ready");
        }, 30000));
        QCOMPARE(::kill(pid_t(child->processId()), SIGSEGV), 0);
        Result r = finish(*child);
        QVERIFY(!r.timedOut);
        QCOMPARE(r.signal, SIGSEGV);
        r.out.prepend(out);

        const QStringList dumps = dumpFiles(m_cwd.path());
        QCOMPARE(dumps.size(), 1);
        const QByteArray dump = readFile(m_cwd.path() + QStringLiteral("/log/") + dumps.first());
        for (const QByteArray &part : {QByteArray("si_code: 0 (SI_USER)"), QByteArray("exception code: 0xc0000005\n"),
                                       "sent by: process " + QByteArray::number(::getpid()) + " (uid "})
            QVERIFY2(dump.contains(part), part.constData());
        QVERIFY(dump.endsWith("end of report\n"));
        checkLogLines(r, 0xC0000005);
    }

    void noLogFolder()
    {
        // No "log" folder under the working directory: the failure line, then the
        // exception lines as usual; nothing is created.
        QVERIFY(QDir(m_cwd.path() + QStringLiteral("/log")).removeRecursively());
        const Result r = run({QStringLiteral("null-write")}, m_cwd.path());
        QCOMPARE(r.signal, SIGSEGV);
        QVERIFY(!QFileInfo::exists(m_cwd.path() + QStringLiteral("/log")));
        checkLogLines(r, 0xC0000005);

        const QStringList messages = logMessages();
        const QString failure = messages.at(messages.size() - 3);
        static const QRegularExpression re(QStringLiteral(
            "^2\\|Creat minidump file\\(log/\\d{4}_\\d\\d_\\d\\d-\\d\\d_\\d\\d_\\d\\d\\.dmp\\) failed, ret\\(%1\\)!!!$").arg(ENOENT));
        QVERIFY2(re.match(failure).hasMatch(), qPrintable(failure));
    }

    void twoCrashesInOneSecond()
    {
        // Two processes crash 400 ms apart within one second: the second report
        // replaces the first (and a stale, longer file of that name) completely.
        for (int attempt = 0; attempt < 3; ++attempt) {
            init();
            const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000 + 2;
            const QString name = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("yyyy_MM_dd-hh_mm_ss"))
                                 + QStringLiteral(".dmp");
            const QString path = m_cwd.path() + QStringLiteral("/log/") + name;
            QVERIFY(varno::test::writeFile(path, QByteArray(1 << 20, 'S')));
            const auto first = spawn({QStringLiteral("null-write-at"), QString::number(second * 1000 + 100)}, m_cwd.path());
            const auto later = spawn({QStringLiteral("null-write-at"), QString::number(second * 1000 + 500)}, m_cwd.path());
            QVERIFY(later->waitForStarted());
            const qint64 secondPid = later->processId();
            const Result r1 = finish(*first);
            const Result r2 = finish(*later);
            QCOMPARE(r1.signal, SIGSEGV);
            QCOMPARE(r2.signal, SIGSEGV);

            const QStringList dumps = dumpFiles(m_cwd.path());
            if (dumps != QStringList{name}) {
                qWarning("the crashes missed their second (%s), again", qPrintable(dumps.join(QLatin1Char(' '))));
                continue;
            }
            const QByteArray dump = readFile(path);
            QVERIFY(dump.startsWith("Varno crash report\n"));
            QVERIFY(dump.endsWith("end of report\n"));
            QCOMPARE(dump.count("Varno crash report"), 1);
            QVERIFY(!dump.contains('S' + QByteArray("SSSSSSS")));
            QVERIFY(dump.contains("process: " + QByteArray::number(secondPid) + "  thread: "));

            const QStringList messages = logMessages();
            QCOMPARE(messages.count(QStringLiteral("1|[EXCEPTION]exceptionCode(0xc0000005)!!!")), 2);
            for (const QString &m : messages)
                QVERIFY2(!m.contains(QLatin1String("Creat minidump")), qPrintable(m));
            return;
        }
        QFAIL("the two crashes never fell into the same second");
    }

private:
    // Checks both exception lines at the end of the log and on the console.

    void checkLogLines(const Result &r, unsigned code)
    {
        const QString codeLine = QStringLiteral("[EXCEPTION]exceptionCode(%1)!!!").arg(hexCode(code));
        const QString textLine = QStringLiteral("[EXCEPTION]%1!!!").arg(QString::fromLatin1(CrashExceptionText(code)));
        QVERIFY(CrashExceptionText(code));

        const QStringList messages = logMessages();
        QVERIFY2(messages.size() >= 3, qPrintable(messages.join(QLatin1Char('\n'))));
        QCOMPARE(messages.at(messages.size() - 2), QStringLiteral("1|") + codeLine);
        QCOMPARE(messages.last(), QStringLiteral("1|") + textLine);
        for (const QString &m : messages)
            QVERIFY2(!m.startsWith(QLatin1String("MALFORMED")), qPrintable(m));

        const QStringList console = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(console.size() >= 2);
        QCOMPARE(console.at(console.size() - 2), codeLine);
        QCOMPARE(console.last(), textLine);
    }

    QTemporaryDir m_cwd;
};

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestCrashHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashhandler.moc"
