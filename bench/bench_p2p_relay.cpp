// Relay path benchmark: 16 simulated cameras stream 720p25 H.264 (about
// 4 Mbit/s each) through a private Mosquitto broker to one client library.
// Baseline: the same frames, same pacing, over one plain loopback TCP socket.
// Prints frames per second delivered, frames lost and the latency added
// between the camera's publish and the client's frame callback (p50, p99).
//
//   bench_p2p_relay [seconds=10] [cameras=16] [kbps=4000]

#include "platform/p2p/p2p_client.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"
#include "tools/camsim/p2pcamera.h"

#include <QCoreApplication>
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int cameras = argc > 2 ? std::atoi(argv[2]) : 16;
    const int kbps = argc > 3 ? std::atoi(argv[3]) : 4000;
    const int fps = 25;
    QTemporaryDir tmp;
    qputenv("VARNO_TEST_TMP", tmp.path().toUtf8());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());

    test::MqttBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }
    std::printf("encoding %d camera loops (1280x720, %d fps, %d kbit/s)...\n", cameras, fps, kbps);
    std::fflush(stdout);
    camsim::BrokerConfig bc;
    bc.port = broker.port();
    std::vector<std::unique_ptr<camsim::P2pCamera>> cams;
    for (int i = 0; i < cameras; ++i) {
        camsim::P2pCameraConfig c;
        c.deviceId = QStringLiteral("B%1").arg(700000 + i);
        c.p2pId = QString::fromStdString(p2p::cameraIdForDevice(c.deviceId.toStdString(), "BENCH"));
        c.password = QStringLiteral("bench1");
        c.hd.width = 1280;
        c.hd.height = 720;
        c.hd.fps = fps;
        c.hd.kbps = kbps;
        c.hd.noise = 10;
        c.hd.loopSeconds = 2;
        c.sd.width = 160;
        c.sd.height = 90;
        c.sd.loopSeconds = 2;
        auto cam = std::make_unique<camsim::P2pCamera>(c, bc, tmp.path());
        QString error;
        if (!cam->start(&error)) {
            std::fprintf(stderr, "camera %d: %s\n", i, qPrintable(error));
            return 1;
        }
        cams.push_back(std::move(cam));
    }
    uint64_t loopBytes = 0;
    for (auto &c : cams)
        loopBytes += c->video(0).totalBytes();
    const double encodedMbits = double(loopBytes) * 8 / (2.0 * cameras) / 1e6;

    p2p::ClientConfig cc;
    cc.port = broker.port();
    p2p::Client client(cc, "bench", "5D0E2A91C47B38F6A1E09C7D2B64F853");
    if (client.registerRelay() != 0) {
        std::fprintf(stderr, "register failed\n");
        return 1;
    }
    Stats stats;
    std::vector<CamSink> sinks(static_cast<size_t>(cameras), CamSink{&stats, 0});
    std::vector<std::vector<char>> descrs(static_cast<size_t>(cameras), std::vector<char>(P2P_STREAM_DESCR_BUFFER, 0));
    for (int i = 0; i < cameras; ++i) {
        const std::string cam = p2p::cameraIdForDevice(QStringLiteral("B%1").arg(700000 + i).toStdString(), "BENCH");
        int32_t count = 0;
        if (client.connectPeer(cam.c_str()) != 0
            || client.streamDescr(cam.c_str(), &count, descrs[size_t(i)].data()) != 0) {
            std::fprintf(stderr, "camera %s: no session\n", cam.c_str());
            return 1;
        }
        sinks[size_t(i)].camera = i;
        const int32_t params[3] = {1, 5, 0};
        if (client.openStream(cam.c_str(), descrs[size_t(i)].data(), onFrame, &sinks[size_t(i)], params,
                              "bench1")
            <= 0) {
            std::fprintf(stderr, "camera %s: open failed\n", cam.c_str());
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t droppedBefore = client.droppedFrames();
    stats.measuring.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(seconds * 1000)));
    stats.measuring.store(false);
    const Result relay = summarize(stats, seconds, fps);
    const uint64_t queueDrops = client.droppedFrames() - droppedBefore;
    client.unregisterRelay();
    for (auto &c : cams)
        c->stop();

    std::vector<const camsim::VideoLoop *> loops;
    for (auto &c : cams)
        loops.push_back(&c->video(0));
    const Result tcp = runTcpBaseline(loops, seconds, fps);
    broker.stop();

    const double target = double(cameras) * fps;
    std::printf("\nbench_p2p_relay: %d cameras, 1280x720 @ %d fps, encoded %.2f Mbit/s per camera, %.0f s\n",
                cameras, fps, encodedMbits, seconds);
    std::printf("%-22s %10s %10s %10s %10s %10s %10s\n", "path", "fps", "of", "lost", "p50 ms", "p99 ms",
                "Mbit/s");
    std::printf("%-22s %10.1f %10.0f %10llu %10.2f %10.2f %10.1f\n", "relay (MQTT broker)", relay.fps,
                target, static_cast<unsigned long long>(relay.lost), relay.p50, relay.p99, relay.mbits);
    std::printf("%-22s %10.1f %10.0f %10llu %10.2f %10.2f %10.1f\n", "baseline (TCP socket)", tcp.fps,
                target, static_cast<unsigned long long>(tcp.lost), tcp.p50, tcp.p99, tcp.mbits);
    std::printf("client queue drops: %llu\n", static_cast<unsigned long long>(queueDrops));
    std::printf("added latency of the relay path: p50 %+.2f ms, p99 %+.2f ms (ratio p99 %.2fx)\n",
                relay.p50 - tcp.p50, relay.p99 - tcp.p99, tcp.p99 > 0 ? relay.p99 / tcp.p99 : 0.0);
    std::printf("delivered fps ratio relay/baseline: %.3f\n", tcp.fps > 0 ? relay.fps / tcp.fps : 0.0);
    return 0;
}
