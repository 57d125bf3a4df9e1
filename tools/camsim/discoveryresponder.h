#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// WS-Discovery side of the simulated ONVIF cameras: answers each Probe for
// network video transmitters, received on a loopback UDP port, with one
// ProbeMatches datagram per visible camera. One responder may stand for
// many cameras (a crowded network behind one port).
class CDiscoveryResponder
{
public:
    struct Entry
    {
        std::string endpoint;      // "urn:uuid:..."
        std::string serviceAddr;   // device service address (XAddr)
        std::string name;          // put into the name scope; empty: no name scope
        std::string hardware = "VarnoSim"; // the hardware scope; empty: none
        bool visible = true;
    };

    CDiscoveryResponder();
    ~CDiscoveryResponder();
    Q_DISABLE_COPY_MOVE(CDiscoveryResponder)

    // Binds ip:port (port 0: a free one) and starts answering.
    bool start(const std::string &ip = "127.0.0.1", uint16_t port = 0);
    void stop();
    uint16_t port() const { return m_port; }

    // Returns the entry's index.
    int addEntry(const Entry &e);
    // A camera that vanishes from discovery stops answering probes.
    void setVisible(int index, bool visible);
    // Extra raw datagrams sent after the matches of every probe, with
    // "{RELATES}" replaced by the probe's message ID (hostile answers).
    void setExtraReplies(std::vector<std::string> replies);
    // Answers to the same probe twice (duplicates must be merged).
    void setRepeat(bool repeat) { m_repeat = repeat; }

    int probesSeen() const { return m_probes; }

    // The ProbeMatches datagram for one entry.
    static std::string probeMatch(const Entry &e, const std::string &relatesTo);

private:
    void run();
    void answer(const std::string &messageId, const void *to, unsigned toLen);

    int m_sock = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_probes{0};
    std::atomic<bool> m_repeat{false};
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::vector<std::string> m_extra;
};
