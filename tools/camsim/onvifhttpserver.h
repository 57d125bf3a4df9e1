#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// A small HTTP/1.1 server on loopback for the simulated cameras' SOAP
// services: one thread accepts, one thread per connection (at most
// kMaxConnections) reads one request and answers it, then closes.
class COnvifHttpServer
{
public:
    struct Request
    {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;   // names in lower case
        std::string body;
    };
    struct Response
    {
        int status = 200;
        std::string contentType = "application/soap+xml; charset=utf-8";
        std::string body;
        std::map<std::string, std::string> headers;
    };
    // Runs on a connection thread. stop is raised when the server stops;
    // a handler that waits (long pulls, slow replies) must watch it.
    using Handler = std::function<Response(const Request &, const std::atomic<bool> &stop)>;

    static constexpr int kMaxConnections = 64;
    static constexpr size_t kMaxRequestBytes = 1 << 20;

    explicit COnvifHttpServer(Handler handler);
    ~COnvifHttpServer();
    Q_DISABLE_COPY_MOVE(COnvifHttpServer)

    // Listens on 127.0.0.1:port (0: a free port).
    bool start(uint16_t port = 0);
    // Stops accepting, breaks open connections and joins every thread.
    void stop();
    uint16_t port() const { return m_port; }
    bool running() const { return m_listen >= 0; }

private:
    void acceptLoop();
    void serve(int fd);
    void reapFinished();

    Handler m_handler;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    struct Conn
    {
        int fd;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<Conn> m_conns;
};
