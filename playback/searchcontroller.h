#pragma once

#include "common/p2precords.h"

#include <QByteArray>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace varno::playback {

// Sends the camera's recording search requests (message 10) without a
// widget: the session with the camera, when it is not up, takes up to the
// P2P library's time-out (3 s), so the connect and the delivery run on a
// job thread of this controller, one request at a time. The answer comes
// back as a queued signal; the camera's replies (11, 155) come as camera
// messages. Called on the user-interface thread only.
class SearchController : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchController)

public:
    explicit SearchController(QObject *parent = nullptr);
    // Joins the job thread (a connect in progress ends within its time-out).
    ~SearchController() override;

    // Hands a request for the camera over; false while one is in flight.
    bool send(const QByteArray &p2pId, const RECORD_SEARCH_REQ_S &request);
    // A request is in flight (sent() has not come yet).
    bool busy() const;

signals:
    // connectResult: 0, or the failed connect's code (nothing was sent);
    // deliverResult: the delivery's (negative: it failed).
    void sent(QByteArray p2pId, int connectResult, int deliverResult);

private:
    void jobThread();

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<std::pair<QByteArray, RECORD_SEARCH_REQ_S>> m_request;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace varno::playback
