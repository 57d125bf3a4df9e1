#include "playback/searchcontroller.h"

#include "common/crashhandler.h"
#include "common/p2phandle.h"
#include "common/uithread.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2psession.h"

#include <QMetaObject>

namespace varno::playback {

SearchController::SearchController(QObject *parent)
    : QObject(parent)
{
    m_thread = std::thread(&SearchController::jobThread, this);
}

SearchController::~SearchController()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_request.reset();
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool SearchController::send(const QByteArray &p2pId, const RECORD_SEARCH_REQ_S &request)
{
    VARNO_ASSERT_UI_THREAD();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_quit)
            return false;
        m_busy = true;
        m_request.emplace(p2pId, request);
    }
    m_cv.notify_all();
    return true;
}

bool SearchController::busy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_busy;
}

void SearchController::jobThread()
{
    InstallCrashHandlerOnThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || m_request; });
        if (m_quit)
            return;
        const auto [peer, request] = std::move(*m_request);
        m_request.reset();
        lock.unlock();
        const P2P_HANDLE handle = varno::p2pHandle();
        const int connected = varno::p2p::ensureSession(handle, peer.constData());
        int delivered = 0;
        if (connected == 0)
            delivered = P2P_Client_SDK_Deliver_Msg(handle, peer.constData(), P2P_MSG_RECORD_SEARCH,
                                                   reinterpret_cast<const char *>(&request), int32_t(sizeof(request)));
        lock.lock();
        m_busy = false;
        lock.unlock();
        QMetaObject::invokeMethod(
            this, [this, peer, connected, delivered] { emit sent(peer, connected, delivered); },
            Qt::QueuedConnection);
        lock.lock();
    }
}

} // namespace varno::playback
