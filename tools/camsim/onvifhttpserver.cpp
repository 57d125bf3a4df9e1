#include "tools/camsim/onvifhttpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

COnvifHttpServer::COnvifHttpServer(Handler handler) : m_handler(std::move(handler)) {}

COnvifHttpServer::~COnvifHttpServer()
{
    stop();
}

bool COnvifHttpServer::start(uint16_t port)
{
    stop();
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return false;
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || ::listen(m_listen, 64) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    socklen_t len = sizeof(addr);
    ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_stop = false;
    m_acceptThread = std::thread(&COnvifHttpServer::acceptLoop, this);
    return true;
}

void COnvifHttpServer::stop()
{
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
    std::list<Conn> conns;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &c : m_conns)
            ::shutdown(c.fd, SHUT_RDWR);
        conns.swap(m_conns);
    }
    for (auto &c : conns) {
        if (c.thread.joinable())
            c.thread.join();
        ::close(c.fd);
    }
}

void COnvifHttpServer::reapFinished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_conns.begin(); it != m_conns.end();) {
        if (it->done) {
            it->thread.join();
            ::close(it->fd);
            it = m_conns.erase(it);
        } else {
            ++it;
        }
    }
}

void COnvifHttpServer::acceptLoop()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            reapFinished();
            continue;
        }
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        reapFinished();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (static_cast<int>(m_conns.size()) >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        m_conns.emplace_back();
        Conn &c = m_conns.back();
        c.fd = fd;
        c.thread = std::thread([this, &c] {
            serve(c.fd);
            c.done = true;
        });
    }
}

namespace {

bool sendAll(int fd, const std::string &data)
{
    size_t off = 0;
    while (off < data.size()) {
        const ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

const char *reasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

void COnvifHttpServer::serve(int fd)
{
    std::string data;
    size_t headerEnd = std::string::npos;
    size_t bodyLen = 0;
    char buf[8192];
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 50);
        if (r < 0)
            return;
        if (r == 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            return;
        data.append(buf, static_cast<size_t>(n));
        if (data.size() > kMaxRequestBytes)
            return;
        if (headerEnd == std::string::npos) {
            headerEnd = data.find("\r\n\r\n");
            if (headerEnd == std::string::npos)
                continue;
            std::string lower = data.substr(0, headerEnd);
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            const auto cl = lower.find("\r\ncontent-length:");
            if (cl != std::string::npos)
                bodyLen = std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
            if (bodyLen > kMaxRequestBytes)
                return;
        }
        if (data.size() >= headerEnd + 4 + bodyLen)
            break;
    }
    if (m_stop || headerEnd == std::string::npos)
        return;

    Request req;
    const std::string head = data.substr(0, headerEnd);
    size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const auto sp1 = first.find(' ');
    const auto sp2 = first.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos)
        return;
    req.method = first.substr(0, sp1);
    req.path = first.substr(sp1 + 1, sp2 - sp1 - 1);
    while (lineEnd != std::string::npos && lineEnd < head.size()) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        req.headers[name] = value;
    }
    req.body = data.substr(headerEnd + 4, bodyLen);

    const Response resp = m_handler(req, m_stop);
    if (resp.status == 0)
        return; // drop the connection without an answer
    std::string out = "HTTP/1.1 " + std::to_string(resp.status) + " " + reasonOf(resp.status) + "\r\n";
    out += "Content-Type: " + resp.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(resp.body.size()) + "\r\n";
    for (const auto &[k, v] : resp.headers)
        out += k + ": " + v + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += resp.body;
    sendAll(fd, out);
}
