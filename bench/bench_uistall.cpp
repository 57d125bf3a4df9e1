// How long the main window's event loop stalls while the user acts against
// cameras that answer slowly or not at all. The real main window (offscreen)
// with its stored cameras:
//   Slow    - an ONVIF camera of the simulator whose SOAP answers leave 5 s
//             late; discovery finds it, so every probing pass asks it
//             (offline: its configuration) while the window is used;
//   Gone    - an ONVIF camera at a loopback port where nobody listens (the
//             connect is refused at once);
//   Found   - a camera discovery finds that is not listed yet, as slow as
//             Slow (the add dialog asks it);
//   Events  - a camera handed over by the add dialog whose event service is
//             the slow camera's (the subscription's SOAP waits 5 s).
// Each action is driven through the window's slots and widgets as the user's
// clicks reach them; a 5 ms timer on the user-interface thread measures the
// longest gap between its ticks from the action until the window has
// settled, split into the thread's own CPU time in that gap and the rest
// (waiting). Ends with one line "longest stall: <N> ms (<action>)".
//
// Usage: bench_uistall [--delay-ms N=5000] [--settle-ms N=1500]
#include "client/client.h"
#include "common/devicerecords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/passwordcipher.h"
#include "device/qadddevice.h"
#include "live/realvideo.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"
#include "tools/camsim/onvifsimulation.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Stall
{
    double wallMs = 0;
    double cpuMs = 0;
};

// The longest gap between two ticks of a 5 ms timer, with the thread's CPU
// time spent in it.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_worst = Stall{};
        m_clock.start();
        m_lastMs = 0;
        m_lastCpu = threadCpuMs();
        m_timer.start();
    }
    Stall stop()
    {
        tick();
        m_timer.stop();
        return m_worst;
    }

private:
    void tick()
    {
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        const double cpu = threadCpuMs();
        if (now - m_lastMs > m_worst.wallMs)
            m_worst = Stall{now - m_lastMs, cpu - m_lastCpu};
        m_lastMs = now;
        m_lastCpu = cpu;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_lastMs = 0;
    double m_lastCpu = 0;
    Stall m_worst;
};

// Runs the loop until done() or ms passed.
void runLoop(int ms, const std::function<bool()> &done = {})
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if ((done && done()) || clock.elapsed() >= ms)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
}

// A camera record; stored: its password enciphered as the store holds it.
DeviceInfo_s onvifCamera(const QByteArray &id, const QByteArray &name, const QByteArray &service, bool stored = true)
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof(d));
    varno::setText(d.devId, id);
    varno::setText(d.devName, name);
    varno::setText(d.ipAddr, "127.0.0.1");
    varno::setText(d.serviceAddr, service);
    char cipher[64] = {};
    if (!stored)
        varno::setText(d.password, "583");
    else if (encode("583", cipher) == 0)
        std::memcpy(d.password, cipher, sizeof(cipher));
    return d;
}

struct Figure
{
    QString action;
    Stall stall;
};

} // namespace

int main(int argc, char **argv)
{
    int delayMs = 5000;
    int settleMs = 1500;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--delay-ms") == 0)
            delayMs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--settle-ms") == 0)
            settleMs = std::atoi(argv[i + 1]);
    }
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    qputenv("VARNO_TEST_TMP", tmp.path().toUtf8());
    qputenv("HOME", tmp.path().toUtf8());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (tmp.path() + QStringLiteral("/config")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    COnvifSimulation sim;
    COnvifSimulation::CameraSetup slow;
    slow.uuid = "5105105a-0000-4000-8000-000000000001";
    slow.name = "Slow";
    slow.password = "583";
    COnvifSimulation::CameraSetup found = slow;
    found.uuid = "5105105a-0000-4000-8000-000000000002";
    found.name = "Found";
    if (!sim.start({slow, found})) {
        std::fprintf(stderr, "cannot start the ONVIF simulation\n");
        return 1;
    }
    COnvifCamera *slowCam = sim.camera(0);
    slowCam->setReplyDelayMs(delayMs);
    sim.camera(1)->setReplyDelayMs(delayMs);
    if (!varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 300"),
                                      QString::fromStdString(sim.probeTargetLine()),
                                      QStringLiteral("connect_timeout_ms = 1000"),
                                      QStringLiteral("request_timeout_ms = %1").arg(delayMs * 3)})) {
        std::fprintf(stderr, "cannot write the ONVIF configuration\n");
        return 1;
    }
    const QByteArray slowService = QByteArray::fromStdString(slowCam->serviceAddr());
    const QByteArray goneService =
        "http://127.0.0.1:" + QByteArray::number(varno::test::freeLoopbackPort()) + "/onvif/device_service";
    const std::string installDir = varno::test::installDir().toStdString();
    if (SDK_DVRMGR_Init(installDir.c_str()) != 0 || SDK_DVRMGR_BeginRewrite() != 0 || SDK_DVRMGR_DelDevAll() != 0
        || SDK_DVRMGR_AddDevice(onvifCamera(QByteArray::fromStdString(slow.uuid), "Slow", slowService)) != 0
        || SDK_DVRMGR_AddDevice(onvifCamera("60000000-0000-4000-8000-00000000dead", "Gone", goneService)) != 0
        || SDK_DVRMGR_CommitRewrite() != 0 || SDK_DVRMGR_UnInit() != 0) {
        std::fprintf(stderr, "cannot seed the camera store\n");
        return 1;
    }

    varno::ui::PromptScript prompts;
    Client::setProbeIntervalMs(200);
    auto client = std::make_unique<Client>("127.0.0.1");
    client->userLogin("admin");
    client->show();
    auto *tree = client->findChild<QTreeWidget *>(QStringLiteral("treeDevice"));
    const QString slowId = QString::fromStdString(slow.uuid);

    StallProbe probe;
    QList<Figure> figures;
    auto measure = [&](const QString &action, const std::function<void()> &act,
                       const std::function<bool()> &done = {}) {
        probe.start();
        QTimer::singleShot(0, client.get(), act);
        runLoop(settleMs, done);
        const Stall s = probe.stop();
        figures.append({action, s});
        std::printf("%-44s longest stall %7.1f ms (cpu %6.1f ms, waiting %7.1f ms)\n", qPrintable(action), s.wallMs,
                    s.cpuMs, s.wallMs - s.cpuMs);
        std::fflush(stdout);
    };
    // Until the probing thread is inside a request to the slow camera.
    auto whileProbingAsksSlow = [&] {
        const int before = slowCam->requestCount();
        runLoop(delayMs * 4, [&] { return slowCam->requestCount() > before; });
    };

    std::printf("SOAP answers %d ms late; probing every 200 ms; measured until settled or %d ms\n", delayMs,
                settleMs);
    whileProbingAsksSlow();
    measure(QStringLiteral("context menu during a probing pass"), [&] {
        QTimer::singleShot(50, [] {
            if (QWidget *menu = QApplication::activePopupWidget())
                menu->close();
        });
        QTreeWidgetItem *item = tree->topLevelItem(0);
        emit tree->customContextMenuRequested(tree->visualItemRect(item).center());
    });

    whileProbingAsksSlow();
    prompts.answer(QMessageBox::Ok);
    measure(QStringLiteral("settings during a probing pass"), [&] {
        client->selectDevice(slowId);
        client->propertyAction();
    });

    whileProbingAsksSlow();
    DvrListInfo_s events;
    std::memset(&events, 0, sizeof(events));
    events.dev = onvifCamera("e0000000-0000-4000-8000-0000000000e1", "Events", slowService, false);
    varno::setText(events.config.eventAddr, QByteArray::fromStdString(slowCam->eventAddr()));
    measure(QStringLiteral("event subscription (SOAP 5 s late)"), [&] { client->recvDevListSlot({events}); });

    measure(QStringLiteral("rename a camera (store write)"), [&] {
        DeviceInfo_s renamed = client->deviceList().at(0).dev;
        varno::setText(renamed.devName, "Slow east");
        client->recvDevProperty(renamed);
    });

    // The add dialog: the slow camera found by discovery is ticked and
    // added (asked for its configuration); the dialog is closed while the
    // camera has not answered.
    runLoop(delayMs * 4, [&] { return client->searchSnapshot().size() >= 2; });
    QTimer inDialog;
    QObject::connect(&inDialog, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QAddDevice *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        inDialog.stop();
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("devTableWidget"));
        for (int row = 0; table && row < table->rowCount(); ++row)
            if (table->item(row, 0))
                table->item(row, 0)->setCheckState(Qt::Checked);
        dialog->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
        QTimer::singleShot(300, dialog, [dialog] { dialog->close(); });
    });
    const int foundAsked = sim.camera(1)->requestCount();
    measure(QStringLiteral("add device (SOAP 5 s late), then close"), [&] {
        inDialog.start(10);
        client->findChild<QPushButton *>(QStringLiteral("btnAddDevice"))->click();
    });
    // The add was made: the found camera got its request.
    std::printf("  (the found camera was asked %d time(s) meanwhile)\n", sim.camera(1)->requestCount() - foundAsked);

    measure(QStringLiteral("delete a camera (store write)"), [&] {
        client->recvDelDevInfo(QStringLiteral("e0000000-0000-4000-8000-0000000000e1"));
    });

    whileProbingAsksSlow();
    prompts.answer(QMessageBox::Yes);
    measure(QStringLiteral("close the window during a probing pass"),
            [&] { client->findChild<QPushButton *>(QStringLiteral("btnWinClose"))->click(); },
            [&] { return client->stopRequested(); });

    // After the loop: the destructor joins the probing thread (its camera's
    // answer) and the workers; the window is gone by then.
    QElapsedTimer clock;
    clock.start();
    client.reset();
    std::printf("%-44s %7.1f ms (after the window closed, not a stall)\n", "destructor (joins the threads)",
                double(clock.nsecsElapsed()) / 1e6);

    Figure worst;
    for (const Figure &f : figures)
        if (f.stall.wallMs >= worst.stall.wallMs)
            worst = f;
    std::printf("longest stall: %.0f ms (%s)\n", worst.stall.wallMs, qPrintable(worst.action));
    sim.stop();
    return 0;
}
