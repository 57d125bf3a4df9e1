// libFuzzer target: the camera's answers to the client's blocking calls
// (session accept, stream description, stream open, playback and download
// start) and the data and messages that follow them, as the P2P library
// reads them. Each input runs one call on a fresh client while a second
// thread hands the library the fuzzed answer; on success the rest of the
// input is fed as data on the new channel and as camera messages.
//
// Input: mode (1 byte), status (1 byte), answer length (2 bytes), answer,
// then chunks of: channel pick (1 byte), kind pick (1 byte), length (1
// byte), body.

#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_wire.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace varno::p2p;

namespace {

const char *const kCamera = "VRNB-765432-KXPQT";
constexpr uint32_t kSession = 42;

// Data the callbacks saw, read back so that nothing is optimised away and
// every byte the library hands over is touched.
std::atomic<uint64_t> g_sum{0};

void touch(const char *data, int32_t size)
{
    if (size < 0)
        __builtin_trap();
    uint64_t s = 0;
    for (int32_t i = 0; i < size; ++i)
        s += uint8_t(data[i]);
    g_sum.fetch_add(s, std::memory_order_relaxed);
}

int onFrame(P2P_HANDLE, const char *descr, const int32_t *info, int32_t, const char *data, int32_t size, void *)
{
    touch(descr, P2P_STREAM_DESCR_SIZE);
    g_sum.fetch_add(uint32_t(info[0]), std::memory_order_relaxed);
    touch(data, size);
    return 0;
}

int onPlayback(int32_t, const char *data, int32_t size, int32_t, void *)
{
    touch(data, size);
    return 0;
}

int onDownload(int32_t, const char *data, int32_t size, int32_t, void *)
{
    touch(data, size);
    return 0;
}

int onMessage(int32_t, const char *payload, int32_t length, const char *cameraId, void *)
{
    if (payload || length)
        touch(payload, length);
    if (!cameraId || std::strlen(cameraId) >= 64)
        __builtin_trap();
    return 0;
}

const Kind kReplyKinds[] = {Kind::SessionAccept, Kind::DescrRsp, Kind::StreamOpenRsp, Kind::PlayStartRsp,
                            Kind::DownloadStartRsp};
const Kind kDataKinds[] = {Kind::StreamFrame, Kind::PlayData, Kind::DownloadData, Kind::PlayEnd,
                           Kind::DownloadEnd, Kind::Message, Kind::SessionClose, Kind::Error};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool once = [] {
        // Keep the fuzz run's log out of any real home directory.
        setenv("XDG_DATA_HOME", "/tmp/varno-fuzz-data", 0);
        return true;
    }();
    (void)once;
    if (size < 4)
        return 0;
    const unsigned mode = data[0] % 5;
    const int32_t status = data[1] & 0x80 ? int8_t(data[1]) : 0;
    const size_t answerSize = std::min<size_t>(data[2] | size_t(data[3]) << 8, size - 4);
    const std::vector<uint8_t> answer(data + 4, data + 4 + answerSize);
    data += 4 + answerSize;
    size -= 4 + answerSize;

    ClientConfig config;
    config.requestTimeoutMs = 5000;
    Client client(config, "", "");
    client.setMessageCallback(&onMessage, nullptr);
    client.addTestSession(kCamera, kSession);
    const std::string inbox = clientInbox(client.clientId());
    if (mode == 0) {
        // A session that went away and whose camera is back: the call opens
        // it again under the same session number.
        uint8_t presence[body::kPresence] = {};
        putField(presence, kCameraIdSize, kCamera);
        for (const int32_t online : {0, 1}) {
            const auto p = encode(Kind::Presence, kCamera, kSession, 0, 0, online, presence, sizeof presence);
            client.handleIncoming(cameraPresence(kCamera).c_str(), p.data(), p.size());
        }
    }

    // The answer, for each request number the call may have taken, until
    // the call has returned.
    std::atomic<bool> returned{false};
    std::thread answerer([&] {
        while (!returned.load()) {
            for (uint32_t request = 1; request <= 3; ++request) {
                const auto bytes = encode(kReplyKinds[mode], kCamera, kSession, request, 0, status,
                                          answer.data(), answer.size());
                client.handleIncoming(inbox.c_str(), bytes.data(), bytes.size());
            }
            std::this_thread::yield();
        }
    });
    int ret = -1;
    char descr[P2P_STREAM_DESCR_BUFFER] = {};
    const int32_t params[3] = {1, 5, 0};
    switch (mode) {
    case 0:
        ret = client.connectPeer(kCamera);
        break;
    case 1: {
        int32_t count = -1;
        ret = client.streamDescr(kCamera, &count, descr);
        if (ret == 0 && (count < 0 || count > P2P_STREAM_DESCR_COUNT))
            __builtin_trap();
        break;
    }
    case 2:
        putField(reinterpret_cast<uint8_t *>(descr), 64, kCamera);
        descr[P2P_STREAM_DESCR_SIZE - 1] = 1;
        ret = client.openStream(kCamera, descr, &onFrame, nullptr, params, "admin");
        break;
    case 3:
        ret = client.startPlayback(kCamera, "20190225/ch0_120000.rec", &onPlayback, nullptr, 0, "admin");
        break;
    default:
        ret = client.startDownload(kCamera, "20190225/ch0_120000.rec", &onDownload, nullptr, 0, "admin");
        break;
    }
    returned.store(true);
    answerer.join();

    // What follows the answer: data on the channels (the test session's
    // three and the one just opened) and camera messages.
    while (size >= 3) {
        const uint32_t channel = data[0] % 6;
        const Kind kind = kDataKinds[data[1] % (sizeof kDataKinds / sizeof kDataKinds[0])];
        const size_t n = std::min<size_t>(data[2], size - 3);
        const int32_t chunkStatus = data[1] >= 0x80 ? int32_t(data[1]) : 0;
        const auto bytes = encode(kind, kCamera, kSession, 0, channel, chunkStatus, data + 3, n);
        client.handleIncoming(inbox.c_str(), bytes.data(), bytes.size());
        data += 3 + n;
        size -= 3 + n;
    }
    if (ret == 0 && mode == 2)
        client.closeStream(kCamera, descr);
    return 0;
}
