#pragma once

#include "playback/downloadfolder.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CFileDownload;

// Notification of a download worker: (total, received, code, worker, user).
// Codes: -1047 progress, -1025 the temporary file cannot be created, -1032
// the worker ended (always the last call; CFileDownload::outcome() says how).
typedef int (*DownloadNotify)(uint32_t total, uint32_t received, int code, CFileDownload *worker, void *user);

namespace varno::playback {
enum : int { kDownloadProgress = -1047, kDownloadCreateFailed = -1025, kDownloadFinished = -1032 };
// startDownload: a worker left to end by itself still owns the target's files.
inline constexpr int kDownloadTargetBusy = -1050;
}

// How a worker ended: the state, why it failed, and the bytes the
// temporary file keeps for a later start from that offset.
struct DownloadOutcome
{
    varno::playback::DownloadState state = varno::playback::DownloadState::Running;
    varno::playback::DownloadFault fault = varno::playback::DownloadFault::None;
    int error = 0;           // errno of the failed file operation
    std::string path;        // the file the fault names, or the camera file kept
    uint32_t kept = 0;       // bytes in "<target>.tmp" (0 once it is gone)
};

// Fetches one camera recording over the P2P library into "<target>.tmp"
// (from an offset when an earlier transfer kept the start of the file
// there), converts it into the ".mp4" target and deletes the temporary
// file. The library's callback queues each piece (bounded: a full queue
// holds the library's delivery, and with it the camera's flow control);
// the worker thread writes them.
// Only a transfer that delivered the whole file is converted. A stop, a
// silence of the time-out during the transfer, or a failed write leaves the
// temporary file for a later start; a failed conversion keeps the camera
// file beside the target under the camera's file type. The outcome says
// which; the -1032 notice comes after it is set.
class CFileDownload
{
    Q_DISABLE_COPY_MOVE(CFileDownload)

public:
    using Converter = std::function<int(const char *tmpPath, const char *targetPath)>;

    CFileDownload();
    virtual ~CFileDownload();

    int startDownload(const char *peerId, const char *peerPassword, const char *fileName, const char *targetPath);
    // Where the transfer starts: the bytes "<target>.tmp" keeps from an
    // earlier one (set before startDownload; 0 for the whole file).
    void setOffset(uint32_t offset);
    // Stops the transfer and waits for the worker, at most the given time:
    // a worker that does not end by then is left to end by itself (it owns
    // what it still needs). Returns true when the worker has ended.
    bool stopDownload(int waitMs = 5000);
    void setTotal(uint32_t total);
    void setCallback(DownloadNotify callback, void *user);

    uint32_t received() const;
    uint32_t total() const { return m_total; }
    bool finished() const;
    // How the worker ended (Running while it runs).
    DownloadOutcome outcome() const;
    // Bytes written to the temporary file so far (the offset included).
    uint32_t written() const;

    // The P2P library's data callback.
    static int dataCallback(int32_t type, const char *data, int32_t size, int32_t offset, void *user);

    // Time-out of the worker's waits (10 s), and the conversion it runs
    // (saveMp4 unless replaced; it returns 0 on success): for tests.
    static void setTimeoutMs(int ms);
    static void setConverter(Converter converter);

private:
    struct Shared;
    static void MyDownloadThread(std::shared_ptr<Shared> shared);
    static void convert(Shared &s, const std::string &tmpPath);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::atomic<uint32_t> m_total{0};
    char m_peerId[32] = {};
    char m_fileName[128] = {};
    uint32_t m_offset = 0;
    bool m_transferOpen = false;
};
