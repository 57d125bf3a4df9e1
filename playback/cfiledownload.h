#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CFileDownload;

// Notification of a download worker: (total, received, code, worker, user).
// Codes: -1047 progress, -1025 the temporary file cannot be created, -1032
// finished (always the last call).
typedef int (*DownloadNotify)(uint32_t total, uint32_t received, int code, CFileDownload *worker, void *user);

namespace varno::playback {
enum : int { kDownloadProgress = -1047, kDownloadCreateFailed = -1025, kDownloadFinished = -1032 };
}

// Fetches one camera recording over the P2P library into "<target>.tmp",
// converts it into the ".mp4" target and deletes the temporary file. The
// library's callback queues each piece; the worker thread writes them.
// No data within the start time-out ends the worker without a file; a
// silence of the same length during the transfer ends it with what arrived.
class CFileDownload
{
    Q_DISABLE_COPY_MOVE(CFileDownload)

public:
    using Converter = std::function<int(const char *tmpPath, const char *targetPath)>;

    CFileDownload();
    virtual ~CFileDownload();

    int startDownload(const char *peerId, const char *peerPassword, const char *fileName, const char *targetPath);
    // Stops the transfer and waits for the worker, at most the given time:
    // a worker that does not end by then is left to end by itself (it owns
    // what it still needs). Returns true when the worker has ended.
    bool stopDownload(int waitMs = 5000);
    void setTotal(uint32_t total);
    void setCallback(DownloadNotify callback, void *user);

    uint32_t received() const;
    uint32_t total() const { return m_total; }
    bool finished() const;

    // The P2P library's data callback.
    static int dataCallback(int32_t type, const char *data, int32_t size, int32_t offset, void *user);

    // Time-out of the worker's waits (10 s), and the conversion it runs
    // (saveMp4 unless replaced): for tests.
    static void setTimeoutMs(int ms);
    static void setConverter(Converter converter);

private:
    struct Shared;
    static void MyDownloadThread(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::atomic<uint32_t> m_total{0};
    char m_peerId[32] = {};
    char m_fileName[128] = {};
    bool m_transferOpen = false;
};
