#include "tools/camsim/discoveryresponder.h"

#include "common/logfile.h"
#include "platform/onvif/onvifprobe.h"
#include "platform/onvif/onvifxml.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

CDiscoveryResponder::CDiscoveryResponder() = default;

CDiscoveryResponder::~CDiscoveryResponder()
{
    stop();
}

bool CDiscoveryResponder::start(const std::string &ip, uint16_t port)
{
    stop();
    m_sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_sock < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1 ||
        ::bind(m_sock, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        ::close(m_sock);
        m_sock = -1;
        return false;
    }
    socklen_t len = sizeof(addr);
    ::getsockname(m_sock, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_stop = false;
    m_thread = std::thread(&CDiscoveryResponder::run, this);
    return true;
}

void CDiscoveryResponder::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_sock >= 0)
        ::close(m_sock);
    m_sock = -1;
}

int CDiscoveryResponder::addEntry(const Entry &e)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(e);
    return static_cast<int>(m_entries.size()) - 1;
}

void CDiscoveryResponder::setVisible(int index, bool visible)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= 0 && index < static_cast<int>(m_entries.size()))
        m_entries[static_cast<size_t>(index)].visible = visible;
}

void CDiscoveryResponder::setExtraReplies(std::vector<std::string> replies)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_extra = std::move(replies);
}

std::string CDiscoveryResponder::probeMatch(const Entry &e, const std::string &relatesTo)
{
    using onvif::xmlEscape;
    auto scopeValue = [](const std::string &text) {
        std::string out;
        for (const unsigned char c : text) {
            if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
                out += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof(hex), "%%%02X", c);
                out += hex;
            }
        }
        return out;
    };
    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
         " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
         " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""
         " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
         "<SOAP-ENV:Header><wsa:MessageID>";
    s += onvif::newMessageId();
    s += "</wsa:MessageID><wsa:RelatesTo>";
    s += xmlEscape(relatesTo);
    s += "</wsa:RelatesTo><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
         "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
         "</SOAP-ENV:Header><SOAP-ENV:Body><d:ProbeMatches><d:ProbeMatch>"
         "<wsa:EndpointReference><wsa:Address>";
    s += xmlEscape(e.endpoint);
    s += "</wsa:Address></wsa:EndpointReference>"
         "<d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types><d:Scopes>"
         "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/Streaming";
    if (!e.hardware.empty())
        s += " onvif://www.onvif.org/hardware/" + xmlEscape(scopeValue(e.hardware));
    if (!e.name.empty())
        s += " onvif://www.onvif.org/name/" + xmlEscape(scopeValue(e.name));
    s += "</d:Scopes><d:XAddrs>";
    s += xmlEscape(e.serviceAddr);
    s += "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches>"
         "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return s;
}

void CDiscoveryResponder::answer(const std::string &messageId, const void *to, unsigned toLen)
{
    std::vector<std::string> out;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &e : m_entries) {
            if (e.visible)
                out.push_back(probeMatch(e, messageId));
        }
        for (std::string x : m_extra) {
            const auto pos = x.find("{RELATES}");
            if (pos != std::string::npos)
                x.replace(pos, 9, messageId);
            out.push_back(std::move(x));
        }
    }
    const int rounds = m_repeat ? 2 : 1;
    for (int r = 0; r < rounds; ++r) {
        int sent = 0;
        for (const auto &d : out) {
            if (m_stop)
                return;
            ::sendto(m_sock, d.data(), d.size(), 0, static_cast<const sockaddr *>(to), toLen);
            // A crowd of cameras answers spread over time, not in one burst.
            if (++sent % 8 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

void CDiscoveryResponder::run()
{
    std::vector<char> buf(65536);
    while (!m_stop) {
        pollfd p{m_sock, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof(from);
        const ssize_t n = ::recvfrom(m_sock, buf.data(), buf.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n <= 0)
            continue;
        pugi::xml_document doc;
        if (!onvif::parseSafely(doc, buf.data(), static_cast<size_t>(n), 65536, "camsim Probe"))
            continue;
        const pugi::xml_node env = doc.document_element();
        const pugi::xml_node probe = onvif::path(env, {"Body", "Probe"});
        if (!probe)
            continue;
        const std::string types = onvif::text(onvif::child(probe, "Types"));
        if (!types.empty() && types.find("NetworkVideoTransmitter") == std::string::npos &&
            types.find("Device") == std::string::npos)
            continue;
        const std::string messageId = onvif::text(onvif::path(env, {"Header", "MessageID"}));
        ++m_probes;
        answer(messageId, &from, fromLen);
    }
}
