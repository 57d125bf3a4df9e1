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
//             the slow camera's (the subscription's SOAP waits 5 s);
//   Late    - a P2P camera of the simulator (in this process, over a private
//             Mosquitto broker) whose every answer leaves 3 s late: session,
//             stream descriptions, stream, playback and download starts,
//             camera messages (the client waits up to 10 s for an answer);
//             it has recordings and alarms;
//   Spare   - a second P2P camera as late, not listed: the manual add asks it;
//   Silent  - an ONVIF camera whose stream address is a loopback TCP
//             listener of this program that accepts and never answers;
//   and a recording on the PC cut short (no duration tag: its open reads the
//   whole file).
// Each action is driven through the window's slots and widgets as the user's
// clicks reach them; a 5 ms timer on the user-interface thread measures the
// longest gap between its ticks from the action until the window has
// settled (or, for an action with an end to wait for, until that end),
// split into the thread's own CPU time in that gap and the rest (waiting),
// and of the waiting the part the thread was ready but had no core (the run
// queue: a busy machine, not the program).
// Ends with one line "longest stall: <N> ms (<action>)".
//
// Usage: bench_uistall [--delay-ms N=5000] [--p2p-delay-ms N=3000] [--settle-ms N=1500]
#include "client/client.h"
#include "common/devicerecords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/passwordcipher.h"
#include "alarm/qalarmsearch.h"
#include "device/qadddevice.h"
#include "device/qmanualdial.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "live/videosurface.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "playback/downloadcontroller.h"
#include "playback/fileplay.h"
#include "playback/qdownload.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoonlypb.h"
#include "playback/storageaccess.h"
#include "playback/videosearch.h"
#include "record/disksource.h"
#include "tests/playback/playbackfixture.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"
#include "tools/camsim/onvifsimulation.h"
#include "tools/camsim/simulator.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <functional>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Time this thread was ready but waited for a core (the scheduler's run
// queue), from /proc/thread-self/schedstat; 0 where the kernel keeps none.
class RunQueueClock
{
public:
    RunQueueClock() : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~RunQueueClock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RunQueueClock(const RunQueueClock &) = delete;
    RunQueueClock &operator=(const RunQueueClock &) = delete;
    double ms() const
    {
        char text[128] = {};
        if (m_fd < 0 || ::pread(m_fd, text, sizeof(text) - 1, 0) <= 0)
            return 0;
        unsigned long long onCpu = 0, queued = 0;
        return std::sscanf(text, "%llu %llu", &onCpu, &queued) == 2 ? double(queued) / 1e6 : 0;
    }

private:
    int m_fd;
};

struct Stall
{
    double wallMs = 0;
    double cpuMs = 0;
    double queueMs = 0;   // of the waiting: ready, but no core free
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
        m_lastQueue = m_queue.ms();
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
        const double queue = m_queue.ms();
        if (now - m_lastMs > m_worst.wallMs)
            m_worst = Stall{now - m_lastMs, cpu - m_lastCpu, queue - m_lastQueue};
        m_lastMs = now;
        m_lastCpu = cpu;
        m_lastQueue = queue;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_lastMs = 0;
    double m_lastCpu = 0;
    double m_lastQueue = 0;
    RunQueueClock m_queue;
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

// A P2P camera record, its password enciphered as the store holds it.
DeviceInfo_s p2pCamera(const QByteArray &id, const QByteArray &p2pId, const QByteArray &name,
                       const QByteArray &password)
{
    DeviceInfo_s d = onvifCamera(id, name, "http://127.0.0.1:1/onvif/device_service", false);
    d.p2pFlag = 1;
    varno::setText(d.p2pId, p2pId);
    char cipher[64] = {};
    std::memset(d.password, 0, sizeof(d.password));
    if (encode(password.constData(), cipher) == 0)
        std::memcpy(d.password, cipher, sizeof(cipher));
    return d;
}

// A loopback RTSP server that accepts every connection and never answers.
class SilentServer
{
public:
    bool listen()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                m_sockets.push_back(s);   // kept open, never read or answered
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    quint16 port() const { return m_server.serverPort(); }
    int accepted() const { return int(m_sockets.size()); }

private:
    QTcpServer m_server;
    std::vector<QTcpSocket *> m_sockets;   // children of the server
};

// Runs inside(dialog) once a modal dialog of type T is the active one.
template <typename T>
void whenModal(QTimer &timer, std::function<void(T *)> inside)
{
    timer.disconnect();
    QObject::connect(&timer, &QTimer::timeout, [&timer, inside] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer.stop();
            inside(dialog);
        }
    });
    timer.start(10);
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
    int p2pDelayMs = 3000;
    int settleMs = 1500;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--delay-ms") == 0)
            delayMs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--p2p-delay-ms") == 0)
            p2pDelayMs = std::atoi(argv[i + 1]);
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
    COnvifSimulation::CameraSetup quiet = slow;
    quiet.uuid = "5105105a-0000-4000-8000-000000000003";
    quiet.name = "Silent";
    if (!sim.start({slow, found, quiet})) {
        std::fprintf(stderr, "cannot start the ONVIF simulation\n");
        return 1;
    }
    COnvifCamera *slowCam = sim.camera(0);
    slowCam->setReplyDelayMs(delayMs);
    sim.camera(1)->setReplyDelayMs(delayMs);
    SilentServer silent;
    if (!silent.listen()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    sim.camera(2)->setRtspPort(silent.port());

    // The relay and the late P2P cameras (the client waits up to 10 s for
    // an answer, so that the late ones arrive).
    varno::test::MqttBroker broker;
    if (!broker.start() || !broker.writeClientConfig(QStringLiteral("timeout_ms = 10000\n"))) {
        std::fprintf(stderr, "cannot start the MQTT broker (mosquitto)\n");
        return 1;
    }
    const QString lateCam = varno::test::simP2pCamera(
        QStringLiteral("B765432"), QStringLiteral("VRNB-765432-KXPQT"), QStringLiteral("Late"),
        QStringLiteral("abc123"), QSize(128, 72), QSize(64, 48), 25, 100, 60, 2);
    const QString spareCam = varno::test::simP2pCamera(
        QStringLiteral("C100200"), QStringLiteral("VRNC-100200-ABCDE"), QStringLiteral("Spare"),
        QStringLiteral("pw9999"), QSize(128, 72), QSize(64, 48), 25, 100, 60, 2);
    const QString late = QStringLiteral(R"(, "answerDelayMs": %1,
      "recordings": { "count": 6, "seconds": 4, "first": "2019-02-25 08:00:00", "intervalSeconds": 600 },
      "alarms": { "count": 5, "first": "-7200", "intervalSeconds": 300 } })")
                             .arg(p2pDelayMs);
    varno::camsim::SimConfig simConfig;
    QString simError;
    varno::camsim::Simulator p2pSim;
    if (!varno::camsim::parseSimConfig(
            varno::test::simConfig(broker.port(), tmp.path() + QStringLiteral("/camera-storage"),
                                   {lateCam.left(lateCam.lastIndexOf(QLatin1Char('}'))) + late,
                                    spareCam.left(spareCam.lastIndexOf(QLatin1Char('}'))) + late}),
            simConfig, &simError)
        || !p2pSim.start(simConfig, &simError)) {
        std::fprintf(stderr, "cannot start the P2P cameras: %s\n", qPrintable(simError));
        return 1;
    }
    // Record folders on a disk inside the temporary home only.
    auto disks = std::make_shared<varno::record::FakeDiskSource>();
    disks->addDisk(QStringLiteral("~/"), tmp.path(), 500ull << 30);
    varno::record::setDiskSource(disks);
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
        || SDK_DVRMGR_AddDevice(p2pCamera("B765432", "VRNB-765432-KXPQT", "Late", "abc123")) != 0
        || SDK_DVRMGR_AddDevice(onvifCamera(QByteArray::fromStdString(quiet.uuid), "Silent",
                                            QByteArray::fromStdString(sim.camera(2)->serviceAddr())))
               != 0
        || SDK_DVRMGR_CommitRewrite() != 0 || SDK_DVRMGR_UnInit() != 0) {
        std::fprintf(stderr, "cannot seed the camera store\n");
        return 1;
    }

    varno::ui::PromptScript prompts;
    Client::setProbeIntervalMs(200);
    auto client = std::make_unique<Client>("127.0.0.1");
    client->userLogin("admin");
    client->resize(1024, 700);
    client->show();
    client->startP2PRegistration();
    auto *tree = client->findChild<QTreeWidget *>(QStringLiteral("treeDevice"));
    const QString slowId = QString::fromStdString(slow.uuid);

    StallProbe probe;
    QList<Figure> figures;
    auto record = [&](const QString &action, const Stall &s) {
        figures.append({action, s});
        std::printf("%-52s longest stall %7.1f ms (cpu %6.1f ms, waiting %7.1f ms, of it run queue %7.1f ms)\n",
                    qPrintable(action), s.wallMs, s.cpuMs, s.wallMs - s.cpuMs, s.queueMs);
        std::fflush(stdout);
    };
    // Measured until done() (at most boundMs) or, without done, settleMs.
    auto measure = [&](const QString &action, const std::function<void()> &act,
                       const std::function<bool()> &done = {}, int boundMs = 0) {
        probe.start();
        QTimer::singleShot(0, client.get(), act);
        QElapsedTimer clock;
        clock.start();
        runLoop(boundMs > 0 ? boundMs : settleMs, done);
        const bool ended = !done || done();
        record(action, probe.stop());
        if (!ended)
            std::printf("  (not ended after %lld ms)\n", clock.elapsed());
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

    // The late P2P camera. Online once the relay has it.
    const QString lateId = QStringLiteral("B765432");
    auto stateOf = [&](const QString &id) {
        for (const DevTreeEntry &e : client->treeEntries())
            if (QString::fromLatin1(e.devId) == id)
                return int(e.state);
        return -1;
    };
    runLoop(60000, [&] { return stateOf(lateId) == STATE_ONLINE; });
    const QString lateText = QStringLiteral(" (P2P answers %1 s late)").arg(p2pDelayMs / 1000.0);
    if (stateOf(lateId) != STATE_ONLINE)
        std::printf("  (the late P2P camera is not online: %d)\n", stateOf(lateId));

    // Manual add of the second late camera, to its end, then closed.
    QTimer inDialog2;
    QManualDial *manual = client->addDeviceDialog()->manualDialog();
    bool manualClicked = false;
    whenModal<QAddDevice>(inDialog2, [&](QAddDevice *dialog) {
        dialog->findChild<QPushButton *>(QStringLiteral("manualButton"))->click();
        manual->findChild<QLineEdit *>(QStringLiteral("idLineEdit"))->setText(QStringLiteral("C100200"));
        manual->findChild<QLineEdit *>(QStringLiteral("nameLineEdit"))->setText(QStringLiteral("Spare"));
        manual->findChild<QLineEdit *>(QStringLiteral("passwdLineEdit"))->setText(QStringLiteral("pw9999"));
        manual->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
        manualClicked = true;
    });
    bool manualClosed = false;
    auto manualDone = [&] {
        // Done when the check was sent and its reply has come.
        if (manualClosed || !manualClicked || manual->isBusy() || !manual->pending().isEmpty())
            return manualClosed;
        manualClosed = true;
        manual->close();
        client->addDeviceDialog()->close();
        return true;
    };
    measure(QStringLiteral("manual add") + lateText + QStringLiteral(", then close"),
            [&] { client->findChild<QPushButton *>(QStringLiteral("btnAddDevice"))->click(); }, manualDone, 30000);
    // The store job of the add dialog may wait behind its earlier add (the
    // slow camera's configuration request).
    runLoop(40000, [&] { return stateOf(QStringLiteral("C100200")) >= 0; });
    std::printf("  (Spare listed: %s)\n", stateOf(QStringLiteral("C100200")) >= 0 ? "yes" : "no");

    // The alarm log: the late camera's alarms of the last day (the dialog's
    // range), to the end of the search, then closed.
    QAlarmSearch *alarm = client->alarmDialog();
    auto *alarmButton = alarm->findChild<QPushButton *>(QStringLiteral("searchButton"));
    bool alarmClicked = false;
    whenModal<QAlarmSearch>(inDialog2, [&](QAlarmSearch *dialog) {
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("deviceComboBox"));
        combo->setCurrentIndex(combo->findText(QStringLiteral("Late")));
        alarmButton->click();
        alarmClicked = true;
    });
    bool alarmClosed = false;
    auto alarmDone = [&] {
        if (alarmClosed || !alarmClicked || !alarmButton->isEnabled())
            return alarmClosed;
        alarmClosed = true;
        alarm->close();
        return true;
    };
    measure(QStringLiteral("alarm log search") + lateText + QStringLiteral(", then close"),
            [&] { client->on_btnAlarmVideo_clicked(); }, alarmDone, 30000);
    std::printf("  (alarms listed: %d)\n", alarm->findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount());

    // The playback page: the late camera's recordings.
    client->on_btnVideoSearch_clicked();
    fileplay *panel = client->playbackView()->panel();
    qvideoonlypb *grid = client->playbackView()->grid();
    panel->sourceCombo()->setCurrentIndex(0);
    panel->deviceCombo()->setCurrentIndex(panel->deviceCombo()->findText(QStringLiteral("Late")));
    panel->startEdit()->setDateTime(QDateTime(QDate(2019, 2, 25), QTime(0, 0)));
    panel->endEdit()->setDateTime(QDateTime(QDate(2019, 2, 25), QTime(23, 59, 59)));
    measure(QStringLiteral("playback search on the camera") + lateText, [&] { panel->searchButton()->click(); },
            [&] { return !panel->searching() && panel->table()->rowCount() > 0; }, 30000);
    uint64_t paintedBefore = 0;
    auto playRow = [&](int row) {
        paintedBefore = grid->window(0)->video()->newPicturesPainted();
        emit panel->table()->doubleClicked(panel->table()->model()->index(row, fileplay::ColName));
    };
    auto playing = [&] {
        return grid->entry(0).inUse && !grid->entry(0).opening && grid->window(0)->video()->newPicturesPainted() > paintedBefore + 3;
    };
    if (panel->table()->rowCount() > 0) {
        measure(QStringLiteral("play a camera file") + lateText, [&] { playRow(0); }, playing, 30000);
        measure(QStringLiteral("close a playback window (camera file)"),
                [&] { grid->window(0)->hand()->button("btnClose")->click(); });

        // The download dialog: a file started, stopped while its start
        // waits for the camera, the dialog closed once idle.
        QDownload *download = panel->downloadDialog();
        download->setDownloadFolder(tmp.path() + QStringLiteral("/downloads"));
        QTimer step;
        int phase = 0;
        QElapsedTimer phaseClock;
        whenModal<QDownload>(inDialog2, [&](QDownload *dialog) {
            for (int r = 0; r < dialog->table()->rowCount(); ++r)
                dialog->table()->item(r, QDownload::ColCheck)->setCheckState(r == 0 ? Qt::Checked : Qt::Unchecked);
            probe.start();
            dialog->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
            phaseClock.start();
            phase = 1;
            step.start(10);
        });
        QObject::connect(&step, &QTimer::timeout, [&] {
            if (phase == 1 && phaseClock.elapsed() >= 1000) {
                record(QStringLiteral("download start") + lateText, probe.stop());
                probe.start();
                download->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
                phase = 2;
            } else if (phase == 2 && download->isIdle()) {
                record(QStringLiteral("download stop while its start waits"), probe.stop());
                probe.start();
                download->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
                phase = 3;
                step.stop();
            }
        });
        measure(QStringLiteral("download dialog: close"), [&] { panel->downloadButton()->click(); },
                [&] { return phase == 3 && !download->isVisible(); }, 30000);
    }

    // A recording on the PC cut short: no duration tag.
    QStringList folders;
    varno::playback::storageAccess()->recordFolders(&folders);
    pbtest::RecordingOptions cut;
    cut.seconds = 120;
    cut.sampleRate = 0;
    const QString cutPath = folders.isEmpty() ? QString() : pbtest::writeRecording(folders.first(), cut);
    QFile cutFile(cutPath);
    if (cutPath.isEmpty() || !cutFile.resize(cutFile.size() * 2 / 3)) {
        std::fprintf(stderr, "cannot write the cut recording\n");
        return 1;
    }
    panel->sourceCombo()->setCurrentIndex(1);
    panel->deviceCombo()->setCurrentIndex(panel->deviceCombo()->findText(QStringLiteral("All Devices")));
    panel->startEdit()->setDateTime(QDateTime::currentDateTime().addDays(-1));
    panel->endEdit()->setDateTime(QDateTime::currentDateTime().addDays(1));
    measure(QStringLiteral("playback search on the PC"), [&] { panel->searchButton()->click(); },
            [&] { return panel->table()->rowCount() > 0; }, 10000);
    const int cutRow = [&] {
        for (int r = 0; r < panel->table()->rowCount(); ++r)
            if (panel->table()->item(r, fileplay::ColName)->text() == QFileInfo(cutPath).fileName())
                return r;
        return -1;
    }();
    if (cutRow >= 0) {
        measure(QStringLiteral("open a local recording without a duration tag"), [&] { playRow(cutRow); }, playing,
                30000);
        measure(QStringLiteral("close a playback window (local file)"),
                [&] { grid->window(0)->hand()->button("btnClose")->click(); });
    } else {
        std::printf("  (the cut recording was not found by the search)\n");
    }

    // The live page: the late camera's window, its recording, its close.
    client->on_btnRealVideo_clicked();
    realvideo *live = client->liveView();
    auto handOf = [&](const QString &key) -> QVideoHand * {
        LiveWinInfo w{};
        if (!live->windowInfo(key, &w))
            return nullptr;
        return live->videoOnly()->videoWin(w.winIndex)->hand();
    };
    auto treeItemOf = [&](const QString &id) -> QTreeWidgetItem * {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->data(0, Client::kIdRole).toString() == id)
                return tree->topLevelItem(i);
        return nullptr;
    };
    measure(QStringLiteral("open a live window") + lateText, [&] { client->doubleClickedEvent(treeItemOf(lateId)); },
            [&] { return live->streamStats(lateId).presentedPictures > 0; }, 40000);
    if (QVideoHand *hand = handOf(lateId)) {
        measure(QStringLiteral("record start") + lateText, [&] { hand->recordButton()->click(); },
                [&] { return hand->recordLook() == QVideoHand::RecordLook::Normal; }, 30000);
        measure(QStringLiteral("record stop"), [&] { hand->recordButton()->click(); },
                [&] { return !live->videoOnly()->isRecording(lateId); }, 30000);
        measure(QStringLiteral("close a live window") + lateText, [&] { hand->closeButton()->click(); });
    } else {
        std::printf("  (the late camera's live window did not open)\n");
    }

    // The camera whose RTSP server accepts and stays silent: its window
    // opens, a recording is asked for, the window is closed meanwhile.
    const QString quietId = QString::fromStdString(quiet.uuid);
    const int acceptedBefore = silent.accepted();
    measure(QStringLiteral("open a live window (RTSP server silent)"),
            [&] { client->doubleClickedEvent(treeItemOf(quietId)); },
            [&] { return silent.accepted() > acceptedBefore; }, 30000);
    if (QVideoHand *hand = handOf(quietId)) {
        measure(QStringLiteral("record start (RTSP server silent)"), [&] { hand->recordButton()->click(); },
                [&] { return silent.accepted() > acceptedBefore + 1; }, 10000);
        prompts.answer(QMessageBox::Yes);   // a recording that starts is stopped
        measure(QStringLiteral("close a live window (RTSP silent, recording starts)"),
                [&] { hand->closeButton()->click(); });
    } else {
        std::printf("  (the silent camera's live window did not open)\n");
    }

    // The boxes the actions showed (answered by the script): failures say
    // so here.
    for (const varno::ui::PromptRequest &r : prompts.requests())
        std::printf("  (box: %s)\n", qPrintable(r.text.simplified()));

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
    p2pSim.stop();
    sim.stop();
    broker.stop();
    return 0;
}
