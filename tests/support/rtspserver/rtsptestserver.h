#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/media/testmedia.h"

namespace varno::test {

// gst-rtsp-server on 127.0.0.1 serving one shared live stream at
// rtsp://127.0.0.1:<port>/live: a loop of pre-encoded H.264 frames pushed in
// real time (and G.711 A-law tone frames of 40 ms when audio is on).
class RtspTestServer
{
public:
    struct Options
    {
        EncodeOptions video;
        bool audio = false;
        int port = 0;   // 0: a free one
    };

    RtspTestServer() = default;
    ~RtspTestServer();
    RtspTestServer(const RtspTestServer &) = delete;
    RtspTestServer &operator=(const RtspTestServer &) = delete;

    // Starts the server (its own GLib main loop thread). Returns false when
    // the port cannot be used.
    bool start(const Options &options);
    // Ends the stream and closes every connection, as the server's death would.
    void stop();
    // Stops sending and answering while the connections stay open, as a
    // server that hangs.
    void freeze();
    std::string url() const;

    // The pre-encoded frames that are sent in a loop.
    const std::vector<EncodedFrame> &frames() const { return m_frames; }
    // Push time (steady clock, µs) of the latest send of frame k of the loop.
    int64_t lastPushUs(size_t k) const;
    uint64_t pushedFrames() const { return m_pushed.load(); }

    // Internal: called from the GStreamer thread.
    void mediaConfigured(void *media);

private:
    void feed(void *videoSrc, void *audioSrc);
    void stopFeeding();

    Options m_options;
    std::vector<EncodedFrame> m_frames;
    void *m_loop = nullptr;
    void *m_context = nullptr;
    void *m_server = nullptr;
    std::thread m_loopThread;
    std::mutex m_feedMutex;
    std::vector<std::thread> m_feeders;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_timesMutex;
    std::vector<int64_t> m_pushTimes;
    std::atomic<uint64_t> m_pushed{0};
};

} // namespace varno::test
