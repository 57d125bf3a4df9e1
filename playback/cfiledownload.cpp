#include "playback/cfiledownload.h"

#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "playback/camerafileconverter.h"

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace varno::playback;

namespace {

std::atomic<int> g_timeoutMs{10000};
std::mutex g_converterMutex;
CFileDownload::Converter g_converter;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// What the worker thread and the library's callback share with the object:
// it outlives the object when a worker is left to end by itself.
struct CFileDownload::Shared
{
    struct Piece
    {
        uint32_t type;
        std::vector<char> data;
    };

    std::mutex queueMutex;
    std::deque<Piece> queue;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> received{0};
    char fileName[128] = {};
    char targetPath[256] = {};
    std::mutex notifyMutex;
    DownloadNotify callback = nullptr;
    void *user = nullptr;
    CFileDownload *owner = nullptr;
    std::atomic<uint32_t> totalCopy{0};
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;

    void notify(int code)
    {
        std::lock_guard<std::mutex> lock(notifyMutex);
        if (callback && owner)
            callback(totalCopy, received, code, owner, user);
    }
};

void CFileDownload::setTimeoutMs(int ms)
{
    g_timeoutMs = ms;
}

void CFileDownload::setConverter(Converter converter)
{
    std::lock_guard<std::mutex> lock(g_converterMutex);
    g_converter = std::move(converter);
}

CFileDownload::CFileDownload()
    : m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

CFileDownload::~CFileDownload()
{
    stopDownload();
}

void CFileDownload::setTotal(uint32_t total)
{
    m_total = total;
    m_shared->totalCopy = total;
}

void CFileDownload::setCallback(DownloadNotify callback, void *user)
{
    std::lock_guard<std::mutex> lock(m_shared->notifyMutex);
    m_shared->callback = callback;
    m_shared->user = user;
}

uint32_t CFileDownload::received() const
{
    return m_shared->received;
}

bool CFileDownload::finished() const
{
    std::lock_guard<std::mutex> lock(m_shared->doneMutex);
    return m_shared->done;
}

int CFileDownload::startDownload(const char *peerId, const char *peerPassword, const char *fileName,
                                 const char *targetPath)
{
    varno::setText(m_peerId, peerId ? peerId : "");
    varno::setText(m_fileName, fileName ? fileName : "");
    varno::setText(m_shared->fileName, fileName ? fileName : "");
    varno::setText(m_shared->targetPath, targetPath ? targetPath : "");
    const P2P_HANDLE handle = varno::p2pHandle();
    int32_t status = 0;
    P2P_Client_SDK_Get_Session_Status(handle, m_peerId, &status);
    if (status != P2P_SESSION_CONNECTED) {
        const int ret = P2P_Client_SDK_Connect_Peer(handle, m_peerId);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Connect device failed, ret(%d)!!!", "CFileDownload::startDownload", __LINE__, ret);
            return ret;
        }
    }
    const int ret = P2P_Client_SDK_Start_Download(handle, m_peerId, m_fileName, &CFileDownload::dataCallback,
                                                  m_shared.get(), 0, peerPassword ? peerPassword : "");
    if (ret < 0) {
        WriteLog(2, "%s(%d):Start_Download failed, ret(%d)!!!", "CFileDownload::startDownload", __LINE__, ret);
        return ret;
    }
    m_transferOpen = true;
    try {
        m_thread = std::thread(&CFileDownload::MyDownloadThread, m_shared);
    } catch (...) {
        WriteLog(2, "%s(%d):Create download thread failed!!!", "CFileDownload::startDownload", __LINE__);
        P2P_Client_SDK_Stop_Download(handle, m_peerId, m_fileName);
        m_transferOpen = false;
        return -1;
    }
    return 0;
}

bool CFileDownload::stopDownload(int waitMs)
{
    if (m_transferOpen) {
        const int ret = P2P_Client_SDK_Stop_Download(varno::p2pHandle(), m_peerId, m_fileName);
        if (ret < 0)
            WriteLog(2, "%s(%d):Stop_Download failed, ret(%d)!!!", "CFileDownload::stopDownload", __LINE__, ret);
        m_transferOpen = false;
    }
    m_shared->stop = true;
    if (!m_thread.joinable())
        return true;
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(m_shared->doneMutex);
        ended = m_shared->doneCv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_shared->done; });
    }
    {
        // No notification reaches this object any more.
        std::lock_guard<std::mutex> lock(m_shared->notifyMutex);
        m_shared->callback = nullptr;
        m_shared->owner = nullptr;
    }
    if (ended) {
        m_thread.join();
        return true;
    }
    WriteLog(3, "%s(%d):Download thread of file(%s) still busy, left to end by itself!!!",
             "CFileDownload::stopDownload", __LINE__, m_fileName);
    m_thread.detach();
    return false;
}

int CFileDownload::dataCallback(int32_t type, const char *data, int32_t size, int32_t, void *user)
{
    auto *shared = static_cast<Shared *>(user);
    if (!shared || !data || size <= 0)
        return 0;
    Shared::Piece piece{uint32_t(type), std::vector<char>(data, data + size)};
    std::lock_guard<std::mutex> lock(shared->queueMutex);
    shared->received += uint32_t(size);
    shared->queue.push_back(std::move(piece));
    return 0;
}

void CFileDownload::MyDownloadThread(std::shared_ptr<Shared> s)
{
    WriteLog(0, "[DOWNLOAD]Start file(%s) download!!!", s->fileName);
    const int timeout = g_timeoutMs;
    const int64_t start = nowMs();
    const QByteArray tmpPath = QByteArray(s->targetPath) + ".tmp";
    std::FILE *file = nullptr;
    int state = 0;
    auto queueEmpty = [&] {
        std::lock_guard<std::mutex> lock(s->queueMutex);
        return s->queue.empty();
    };
    while (state == 0) {
        if (s->stop) {
            state = 4;
            break;
        }
        if (queueEmpty()) {
            if (nowMs() - start > timeout) {
                WriteLog(3, "%s(%d):Download file(%s) timeout!!!", "CFileDownload::MyDownloadThread", __LINE__,
                         s->fileName);
                state = 4;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        state = 1;
    }
    if (state == 1) {
        WriteLog(0, "[DOWNLOAD]Begin to download file(%s)!!!", s->fileName);
        if (s->stop) {
            state = 4;
        } else {
            file = std::fopen(tmpPath.constData(), "wb+");
            if (!file) {
                s->notify(kDownloadCreateFailed);
                WriteLog(2, "%s(%d):Create file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                         tmpPath.constData(), errno);
                state = 4;
            } else {
                s->notify(kDownloadProgress);
                state = 2;
            }
        }
    }
    while (state == 2) {
        const int64_t noted = nowMs();
        Shared::Piece piece;
        bool have = false;
        while (!have) {
            {
                std::lock_guard<std::mutex> lock(s->queueMutex);
                if (!s->queue.empty()) {
                    piece = std::move(s->queue.front());
                    s->queue.pop_front();
                    have = true;
                    break;
                }
            }
            if (s->stop || (s->totalCopy != 0 && s->received >= s->totalCopy)) {
                state = 3;
                break;
            }
            if (nowMs() - noted > timeout) {
                WriteLog(3, "%s(%d):Download file(%s) timeout!!!", "CFileDownload::MyDownloadThread", __LINE__,
                         s->fileName);
                state = 3;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!have)
            break;
        s->notify(kDownloadProgress);
        const size_t written = std::fwrite(piece.data.data(), 1, piece.data.size(), file);
        if (written < piece.data.size()) {
            WriteLog(2, "%s(%d):Write file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     tmpPath.constData(), errno);
            state = 3;
        }
    }
    if (state == 3) {
        if (std::fclose(file) != 0)
            WriteLog(2, "%s(%d):Close file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     tmpPath.constData(), errno);
        file = nullptr;
        Converter converter;
        {
            std::lock_guard<std::mutex> lock(g_converterMutex);
            converter = g_converter;
        }
        if (converter)
            converter(tmpPath.constData(), s->targetPath);
        else
            saveMp4(tmpPath.constData(), s->targetPath);
        std::remove(tmpPath.constData());
    }
    s->notify(kDownloadFinished);
    WriteLog(0, "[DOWNLOAD]Start file(%s) download finished!!!", s->fileName);
    {
        std::lock_guard<std::mutex> lock(s->doneMutex);
        s->done = true;
    }
    s->doneCv.notify_all();
}
