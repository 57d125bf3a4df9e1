// libFuzzer target: any bytes the relay could hand the P2P library, on any of
// the topics it listens to. The first byte picks the topic and whether the
// rest is taken raw or wrapped in a well-formed header (so that the body
// parsers of every kind are reached); a session with a live stream, a
// playback and a download is in place for data to land in.

#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_wire.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace varno::p2p;

namespace {

const char *const kCamera = "VRNB-765432-KXPQT";

Client &client()
{
    static Client *c = [] {
        // Keep the fuzz run's log out of any real home directory.
        setenv("XDG_DATA_HOME", "/tmp/varno-fuzz-data", 0);
        auto *cl = new Client(ClientConfig(), "", "");
        cl->addTestSession(kCamera, 42);
        return cl;
    }();
    return *c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Client &c = client();
    const uint8_t mode = data[0];
    ++data;
    --size;
    std::string topic;
    switch (mode & 3) {
    case 0:
    case 1:
        topic = clientInbox(c.clientId());
        break;
    case 2:
        topic = cameraPresence(kCamera);
        break;
    default:
        topic = licenseTopic("B765432");
        break;
    }
    if (mode & 4) {
        // Well-formed header, fuzzed kind, channel, status and body.
        if (size < 3)
            return 0;
        const Kind kind = Kind(data[0]);
        const uint32_t channel = data[1] % 5;
        const int32_t status = int8_t(data[2]);
        const auto bytes = encode(kind, (mode & 8) ? c.clientId() : std::string(kCamera),
                                  (mode & 16) ? 7 : 42, 1, channel, status, data + 3, size - 3);
        c.handleIncoming(topic.c_str(), bytes.data(), bytes.size());
    } else {
        // Raw bytes, in a heap block of their exact size.
        uint8_t *copy = static_cast<uint8_t *>(std::malloc(size ? size : 1));
        for (size_t i = 0; i < size; ++i)
            copy[i] = data[i];
        c.handleIncoming(topic.c_str(), copy, size);
        std::free(copy);
    }
    return 0;
}
