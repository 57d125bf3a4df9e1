// Relay path benchmark: simulated cameras stream 720p25 H.264 (about
// 4 Mbit/s each) through an MQTT broker to one client library, on each
// broker asked for, side by side. Baseline: the same frames, same pacing,
// over one plain loopback TCP socket. Prints per broker the frames
// delivered and lost, the latency added between the camera's publish and
// the client's frame callback (p50, p99), and the broker's CPU time per
// delivered megabit.
//
//   bench_p2p_relay [seconds=10] [cameras=16] [kbps=4000] [options]
//     --broker HOST:PORT         a running broker (loopback) instead of the private Mosquitto;
//                                the client connects there
//     --camera-broker HOST:PORT  the cameras connect there (another node of a cluster)
//     --user NAME --password PW  credentials of both sides on that broker
//     --cafile FILE              TLS, the broker's certificate checked against FILE
//     --broker-pid PID[,PID...]  the broker's processes, for its CPU time
//     --with-rabbitmq            also a private RabbitMQ node and a two-node cluster
//                                (scripts/rabbitmq-cluster; cameras on node 1, client on node 2)

#include "platform/p2p/p2p_client.h"
#include "tests/platform/p2p/relaykit.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"
#include "tools/camsim/p2pcamera.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace varno;

namespace {

struct Stats
{
    std::mutex mutex;
    std::vector<double> latencyMs;
    std::map<int, std::set<int32_t>> stamps;   // camera -> frame time stamps seen
    std::atomic<bool> measuring{false};
    std::atomic<uint64_t> bytes{0};
};

struct CamSink
{
    Stats *stats;
    int camera;
};

int onFrame(P2P_HANDLE, const char *, const int32_t *info, int32_t type, const char *, int32_t size,
            void *user)
{
    auto *sink = static_cast<CamSink *>(user);
    if (type != 1 || !sink->stats->measuring.load())
        return 0;
    const int32_t nal = info[0];
    if (nal != 1 && nal != 5)
        return 0;   // count each picture once, at its slice
    const int64_t sent = p2p::currentFrameSentUs();
    const double ms = sent ? double(p2p::monotonicUs() - sent) / 1000.0 : -1;
    std::lock_guard<std::mutex> lock(sink->stats->mutex);
    if (ms >= 0)
        sink->stats->latencyMs.push_back(ms);
    sink->stats->stamps[sink->camera].insert(info[1]);
    sink->stats->bytes += uint64_t(size);
    return 0;
}

struct Result
{
    double fps = 0;
    uint64_t delivered = 0;
    uint64_t lost = 0;
    double p50 = 0;
    double p99 = 0;
    double mbits = 0;
    double cpuSeconds = -1;      // broker CPU time over the measurement (-1: unknown)
    uint64_t queueDrops = 0;
};

Result summarize(Stats &stats, double seconds, int fps)
{
    Result r;
    std::lock_guard<std::mutex> lock(stats.mutex);
    for (auto &[cam, stamps] : stats.stamps) {
        if (stamps.empty())
            continue;
        r.delivered += stamps.size();
        const int64_t span = (int64_t(*stamps.rbegin()) - int64_t(*stamps.begin())) * fps / 1000 + 1;
        r.lost += uint64_t(std::max<int64_t>(0, span - int64_t(stamps.size())));
    }
    r.fps = double(r.delivered) / seconds;
    r.p50 = test::percentile(stats.latencyMs, 0.50);
    r.p99 = test::percentile(stats.latencyMs, 0.99);
    r.mbits = double(stats.bytes.load()) * 8 / seconds / 1e6;
    return r;
}

// Baseline: one TCP connection on loopback carrying every camera's frames,
// each as {camera u32, stamp u32, sent us u64, size u32} + data.
Result runTcpBaseline(const std::vector<const camsim::VideoLoop *> &loops, double seconds, int fps)
{
    Stats stats;
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    ::listen(listener, 1);
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        int s = ::accept(listener, nullptr, nullptr);
        std::vector<uint8_t> buf;
        uint8_t head[20];
        auto readAll = [&](uint8_t *p, size_t n) {
            size_t got = 0;
            while (got < n) {
                const ssize_t k = ::recv(s, p + got, n - got, 0);
                if (k <= 0)
                    return false;
                got += size_t(k);
            }
            return true;
        };
        while (readAll(head, sizeof(head))) {
            const uint32_t cam = p2p::getU32(head);
            const int32_t stamp = int32_t(p2p::getU32(head + 4));
            const int64_t sent = int64_t(p2p::getU64(head + 8));
            const uint32_t size = p2p::getU32(head + 16);
            buf.resize(size);
            if (!readAll(buf.data(), size))
                break;
            if (!stats.measuring.load())
                continue;
            const double ms = double(p2p::monotonicUs() - sent) / 1000.0;
            std::lock_guard<std::mutex> lock(stats.mutex);
            stats.latencyMs.push_back(ms);
            stats.stamps[int(cam)].insert(stamp);
            stats.bytes += size;
        }
        ::close(s);
    });
    int out = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(out, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
    int one = 1;
    ::setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::thread sender([&] {
        const int64_t frameUs = 1000000 / fps;
        int64_t next = p2p::monotonicUs();
        uint32_t frame = 0;
        while (!stop.load()) {
            const int64_t now = p2p::monotonicUs();
            if (now < next) {
                std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(next - now, 2000)));
                continue;
            }
            for (size_t c = 0; c < loops.size(); ++c) {
                const auto &au = loops[c]->frames()[frame % loops[c]->frames().size()];
                uint8_t head[20];
                p2p::putU32(head, uint32_t(c));
                p2p::putU32(head + 4, frame * 1000 / uint32_t(fps));
                p2p::putU64(head + 8, uint64_t(p2p::monotonicUs()));
                p2p::putU32(head + 16, uint32_t(au.data.size()));
                ::send(out, head, sizeof(head), MSG_NOSIGNAL);
                ::send(out, au.data.data(), au.data.size(), MSG_NOSIGNAL);
            }
            ++frame;
            next += frameUs;
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stats.measuring.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(seconds * 1000)));
    stats.measuring.store(false);
    stop.store(true);
    sender.join();
    ::shutdown(out, SHUT_RDWR);
    ::close(out);
    receiver.join();
    ::close(listener);
    return summarize(stats, seconds, fps);
}

// User and system CPU time of a process so far, in seconds (-1: unknown).
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = f.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    // Fields after the command: state is field 3; utime and stime are 14, 15.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double cpuOf(const std::vector<qint64> &pids)
{
    if (pids.empty())
        return -1;
    double sum = 0;
    for (qint64 pid : pids) {
        const double s = processCpuSeconds(pid);
        if (s < 0)
            return -1;
        sum += s;
    }
    return sum;
}

// Where the cameras and the client connect, and how.
struct Target
{
    QString name;
    QString cameraHost = QStringLiteral("127.0.0.1");
    int cameraPort = 0;
    QString clientHost = QStringLiteral("127.0.0.1");
    int clientPort = 0;
    QString user;
    QString password;
    QString caFile;
    std::vector<qint64> pids;
};

struct Setup
{
    double seconds = 10;
    int cameras = 16;
    int kbps = 4000;
    int fps = 25;
    QString storage;
};

bool splitHostPort(const QString &text, QString &host, int &port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    host = text.left(colon);
    bool ok = false;
    port = text.mid(colon + 1).toInt(&ok);
    const QHostAddress addr(host);
    // Benchmarks talk to this machine only.
    return ok && port > 0 && port < 65536 && (host == QLatin1String("localhost") || addr.isLoopback());
}

// One run through a broker: cameras connect, the client opens every
// camera's main stream, frames are counted for setup.seconds. keep gets the
// stopped cameras when asked (their encoded video feeds the baseline).
bool runRelay(const Target &t, const Setup &setup, Result &out,
              std::vector<std::unique_ptr<camsim::P2pCamera>> *keep, double *encodedMbits)
{
    camsim::BrokerConfig bc;
    bc.host = t.cameraHost;
    bc.port = t.cameraPort;
    bc.user = t.user;
    bc.password = t.password;
    bc.caFile = t.caFile;
    std::vector<std::unique_ptr<camsim::P2pCamera>> cams;
    for (int i = 0; i < setup.cameras; ++i) {
        camsim::P2pCameraConfig c;
        c.deviceId = QStringLiteral("B%1").arg(700000 + i);
        c.p2pId = QString::fromStdString(p2p::cameraIdForDevice(c.deviceId.toStdString(), "BENCH"));
        c.password = QStringLiteral("bench1");
        c.hd.width = 1280;
        c.hd.height = 720;
        c.hd.fps = setup.fps;
        c.hd.kbps = setup.kbps;
        c.hd.noise = 10;
        c.hd.loopSeconds = 2;
        c.sd.width = 160;
        c.sd.height = 90;
        c.sd.loopSeconds = 2;
        auto cam = std::make_unique<camsim::P2pCamera>(c, bc, setup.storage);
        QString error;
        if (!cam->start(&error)) {
            std::fprintf(stderr, "%s: camera %d: %s\n", qPrintable(t.name), i, qPrintable(error));
            return false;
        }
        cams.push_back(std::move(cam));
    }
    if (encodedMbits) {
        uint64_t loopBytes = 0;
        for (auto &c : cams)
            loopBytes += c->video(0).totalBytes();
        *encodedMbits = double(loopBytes) * 8 / (2.0 * setup.cameras) / 1e6;
    }

    p2p::ClientConfig cc;
    cc.host = t.clientHost.toStdString();
    cc.port = t.clientPort;
    cc.user = t.user.toStdString();
    cc.password = t.password.toStdString();
    cc.tls = !t.caFile.isEmpty();
    cc.caFile = t.caFile.toStdString();
    cc.requestTimeoutMs = 10000;
    cc.lookupMs = 5000;
    p2p::Client client(cc, "bench", "5D0E2A91C47B38F6A1E09C7D2B64F853");
    if (client.registerRelay() != 0) {
        std::fprintf(stderr, "%s: register failed\n", qPrintable(t.name));
        return false;
    }
    Stats stats;
    std::vector<CamSink> sinks(static_cast<size_t>(setup.cameras), CamSink{&stats, 0});
    std::vector<std::vector<char>> descrs(static_cast<size_t>(setup.cameras),
                                          std::vector<char>(P2P_STREAM_DESCR_BUFFER, 0));
    for (int i = 0; i < setup.cameras; ++i) {
        const std::string cam = p2p::cameraIdForDevice(QStringLiteral("B%1").arg(700000 + i).toStdString(), "BENCH");
        int32_t count = 0;
        if (client.connectPeer(cam.c_str()) != 0
            || client.streamDescr(cam.c_str(), &count, descrs[size_t(i)].data()) != 0) {
            std::fprintf(stderr, "%s: camera %s: no session\n", qPrintable(t.name), cam.c_str());
            return false;
        }
        sinks[size_t(i)].camera = i;
        const int32_t params[3] = {1, 5, 0};
        if (client.openStream(cam.c_str(), descrs[size_t(i)].data(), onFrame, &sinks[size_t(i)], params, "bench1")
            <= 0) {
            std::fprintf(stderr, "%s: camera %s: open failed\n", qPrintable(t.name), cam.c_str());
            return false;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t droppedBefore = client.droppedFrames();
    const double cpuBefore = cpuOf(t.pids);
    stats.measuring.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(setup.seconds * 1000)));
    stats.measuring.store(false);
    const double cpuAfter = cpuOf(t.pids);
    out = summarize(stats, setup.seconds, setup.fps);
    out.queueDrops = client.droppedFrames() - droppedBefore;
    out.cpuSeconds = cpuBefore >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore : -1;
    client.unregisterRelay();
    for (auto &c : cams)
        c->stop();
    if (keep)
        *keep = std::move(cams);
    return true;
}

std::vector<qint64> rabbitPids(const QString &dir, int nodes)
{
    std::vector<qint64> pids;
    for (int n = 1; n <= nodes; ++n) {
        QFile f(QStringLiteral("%1/node%2/pid").arg(dir).arg(n));
        if (f.open(QIODevice::ReadOnly))
            pids.push_back(f.readAll().trimmed().toLongLong());
    }
    return pids;
}

void printRow(const QString &name, const Result &r, double target, double seconds)
{
    char cpu[32] = "-";
    char perMbit[32] = "-";
    if (r.cpuSeconds >= 0) {
        std::snprintf(cpu, sizeof(cpu), "%.2f", r.cpuSeconds);
        const double deliveredMbit = r.mbits * seconds;
        if (deliveredMbit > 0)
            std::snprintf(perMbit, sizeof(perMbit), "%.2f", r.cpuSeconds * 1000.0 / deliveredMbit);
    }
    std::printf("%-22s %8.1f %6.0f %9llu %7llu %8.2f %8.2f %8.1f %7s %10s %7llu\n", qPrintable(name), r.fps,
                target, static_cast<unsigned long long>(r.delivered), static_cast<unsigned long long>(r.lost),
                r.p50, r.p99, r.mbits, cpu, perMbit, static_cast<unsigned long long>(r.queueDrops));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Setup setup;
    std::vector<QString> positional;
    Target given;
    bool haveGiven = false;
    bool withRabbit = false;
    QString cameraBroker;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        auto next = [&]() { return i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString(); };
        if (a == QLatin1String("--broker")) {
            haveGiven = true;
            if (!splitHostPort(next(), given.clientHost, given.clientPort)) {
                std::fprintf(stderr, "--broker needs HOST:PORT on this machine (loopback)\n");
                return 2;
            }
        } else if (a == QLatin1String("--camera-broker")) {
            cameraBroker = next();
        } else if (a == QLatin1String("--user")) {
            given.user = next();
        } else if (a == QLatin1String("--password")) {
            given.password = next();
        } else if (a == QLatin1String("--cafile")) {
            given.caFile = next();
        } else if (a == QLatin1String("--broker-pid")) {
            for (const QString &p : next().split(QLatin1Char(','), Qt::SkipEmptyParts))
                given.pids.push_back(p.toLongLong());
        } else if (a == QLatin1String("--with-rabbitmq")) {
            withRabbit = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() > 0)
        setup.seconds = positional[0].toDouble();
    if (positional.size() > 1)
        setup.cameras = positional[1].toInt();
    if (positional.size() > 2)
        setup.kbps = positional[2].toInt();
    if (haveGiven) {
        given.name = QStringLiteral("broker %1:%2").arg(given.clientHost).arg(given.clientPort);
        given.cameraHost = given.clientHost;
        given.cameraPort = given.clientPort;
        if (!cameraBroker.isEmpty() && !splitHostPort(cameraBroker, given.cameraHost, given.cameraPort)) {
            std::fprintf(stderr, "--camera-broker needs HOST:PORT on this machine (loopback)\n");
            return 2;
        }
    }
    QTemporaryDir tmp;
    qputenv("VARNO_TEST_TMP", tmp.path().toUtf8());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());
    if (qEnvironmentVariableIsEmpty("VARNO_SOURCE_DIR"))
        qputenv("VARNO_SOURCE_DIR", VARNO_SOURCE_TREE);
    setup.storage = tmp.path();
    std::printf("%d cameras, 1280x720 @ %d fps, %d kbit/s, %.0f s per broker\n", setup.cameras, setup.fps,
                setup.kbps, setup.seconds);
    std::fflush(stdout);

    struct Row
    {
        QString name;
        Result result;
    };
    std::vector<Row> rows;
    const double target = double(setup.cameras) * setup.fps;
    // Each broker's row goes out as soon as it is measured, so that a later
    // broker that fails to start does not lose the earlier figures.
    auto addRow = [&](const QString &name, const Result &r) {
        rows.push_back({name, r});
        std::printf("measured: ");
        printRow(name, r, target, setup.seconds);
        std::fflush(stdout);
    };
    double encodedMbits = 0;
    std::vector<std::unique_ptr<camsim::P2pCamera>> cams;   // of the first run, for the baseline

    // The private Mosquitto, unless a broker was given.
    test::MqttBroker mosquitto;
    if (!haveGiven) {
        if (!mosquitto.start()) {
            std::fprintf(stderr, "cannot start mosquitto\n");
            return 1;
        }
        Target t;
        t.name = QStringLiteral("mosquitto");
        t.cameraPort = t.clientPort = mosquitto.port();
        t.pids = {mosquitto.processId()};
        Result r;
        if (!runRelay(t, setup, r, &cams, &encodedMbits))
            return 1;
        mosquitto.stop();
        addRow(t.name, r);
    } else {
        Result r;
        if (!runRelay(given, setup, r, &cams, &encodedMbits))
            return 1;
        addRow(given.name, r);
    }
    if (withRabbit) {
        for (int nodes : {1, 2}) {
            test::RabbitCluster cluster;
            std::printf("starting a RabbitMQ %s...\n", nodes == 1 ? "node" : "two-node cluster");
            std::fflush(stdout);
            if (!cluster.start(nodes) || !cluster.addUser(QStringLiteral("bench"), QStringLiteral("bench-pw"))) {
                std::fprintf(stderr, "RabbitMQ: %s\n", qPrintable(cluster.error()));
                return 1;
            }
            Target t;
            t.name = nodes == 1 ? QStringLiteral("rabbitmq, 1 node") : QStringLiteral("rabbitmq, 2 nodes");
            t.cameraPort = cluster.mqttPort(1);
            t.clientPort = cluster.mqttPort(nodes);
            t.user = QStringLiteral("bench");
            t.password = QStringLiteral("bench-pw");
            t.pids = rabbitPids(cluster.dir(), nodes);
            Result r;
            const bool ok = runRelay(t, setup, r, nullptr, nullptr);
            cluster.stop();
            if (!ok)
                return 1;
            addRow(t.name, r);
        }
    }

    std::vector<const camsim::VideoLoop *> loops;
    for (auto &c : cams)
        loops.push_back(&c->video(0));
    const Result tcp = runTcpBaseline(loops, setup.seconds, setup.fps);

    std::printf("\nbench_p2p_relay: %d cameras, 1280x720 @ %d fps, encoded %.2f Mbit/s per camera, %.0f s\n",
                setup.cameras, setup.fps, encodedMbits, setup.seconds);
    std::printf("%-22s %8s %6s %9s %7s %8s %8s %8s %7s %10s %7s\n", "path", "fps", "of", "delivered", "lost",
                "p50 ms", "p99 ms", "Mbit/s", "CPU s", "ms/Mbit", "q-drops");
    for (const Row &row : rows)
        printRow(row.name, row.result, target, setup.seconds);
    printRow(QStringLiteral("baseline (TCP socket)"), tcp, target, setup.seconds);
    std::printf("lost: frames missing between the first and last seen of each camera; CPU s: the broker's\n"
                "processes over the measurement; ms/Mbit: that CPU time per delivered megabit; q-drops:\n"
                "frames dropped by the client's full queues.\n");
    for (const Row &row : rows)
        std::printf("%s: added latency p50 %+.2f ms, p99 %+.2f ms against the socket; delivered %.3f of it\n",
                    qPrintable(row.name), row.result.p50 - tcp.p50, row.result.p99 - tcp.p99,
                    tcp.fps > 0 ? row.result.fps / tcp.fps : 0.0);
    return 0;
}
