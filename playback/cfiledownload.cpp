#include "playback/cfiledownload.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2psession.h"
#include "playback/camerafileconverter.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace varno::playback;

namespace {

std::atomic<int> g_timeoutMs{10000};
std::mutex g_converterMutex;
CFileDownload::Converter g_converter;
// Targets whose worker has not ended: a worker left to end by itself (a
// long conversion) still reads, renames or deletes "<target>.tmp".
std::mutex g_busyMutex;
std::set<std::string> g_busyTargets;

bool claimTarget(const std::string &target)
{
    std::lock_guard<std::mutex> lock(g_busyMutex);
    return g_busyTargets.insert(target).second;
}

void releaseTarget(const std::string &target)
{
    std::lock_guard<std::mutex> lock(g_busyMutex);
    g_busyTargets.erase(target);
}

// Bytes the callback queues for the worker before it holds the library's
// delivery (and so the camera) until the worker has written some.
constexpr size_t kMaxQueuedBytes = size_t(4) << 20;
constexpr uint32_t kCameraHeaderSize = 512;
constexpr long kChunkEndAt = 64;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool exists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The camera file's type for the copy kept beside the target ("h264" of
// "190225_08.00.00.h264"), "dat" when its name has none.
std::string cameraSuffix(const char *fileName)
{
    const char *dot = std::strrchr(fileName, '.');
    std::string suffix;
    if (dot)
        for (const char *p = dot + 1; *p && suffix.size() < 8; ++p)
            if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9'))
                suffix += *p;
    return suffix.empty() ? std::string("dat") : suffix;
}

// "<target without .mp4>.<suffix>", or "-2", "-3", ... before the suffix
// when that name is taken.
std::string keptName(const std::string &target, const std::string &suffix)
{
    std::string base = target;
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".mp4") == 0)
        base.resize(base.size() - 4);
    std::string name = base + "." + suffix;
    for (int n = 2; exists(name) && n < 1000; ++n)
        name = base + "-" + std::to_string(n) + "." + suffix;
    return name;
}

// The end of the chunk data the camera file's header names (0: none).
uint32_t headerChunkEnd(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    unsigned char b[4] = {};
    uint32_t end = 0;
    if (std::fseek(f, kChunkEndAt, SEEK_SET) == 0 && std::fread(b, 1, 4, f) == 4)
        end = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    std::fclose(f);
    return end;
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
    std::condition_variable roomCv;    // room in the queue, or the stop
    std::deque<Piece> queue;
    size_t queuedBytes = 0;            // under queueMutex
    uint32_t nextOffset = 0;           // under queueMutex: where the next piece must start
    bool outOfOrder = false;           // under queueMutex: a piece left a gap
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> received{0}; // file offset reached by the pieces queued
    std::atomic<uint32_t> written{0};  // bytes in the temporary file
    uint32_t offset = 0;               // where the transfer starts
    char fileName[128] = {};
    std::string targetPath;
    std::mutex notifyMutex;
    DownloadNotify callback = nullptr;
    void *user = nullptr;
    CFileDownload *owner = nullptr;
    std::atomic<uint32_t> totalCopy{0};
    mutable std::mutex outcomeMutex;
    DownloadOutcome outcome;
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;

    void notify(int code)
    {
        std::lock_guard<std::mutex> lock(notifyMutex);
        if (callback && owner)
            callback(totalCopy, received, code, owner, user);
    }
    void setOutcome(const DownloadOutcome &o)
    {
        std::lock_guard<std::mutex> lock(outcomeMutex);
        outcome = o;
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

void CFileDownload::setOffset(uint32_t offset)
{
    m_offset = offset;
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

uint32_t CFileDownload::written() const
{
    return m_shared->written;
}

bool CFileDownload::finished() const
{
    std::lock_guard<std::mutex> lock(m_shared->doneMutex);
    return m_shared->done;
}

DownloadOutcome CFileDownload::outcome() const
{
    std::lock_guard<std::mutex> lock(m_shared->outcomeMutex);
    return m_shared->outcome;
}

int CFileDownload::startDownload(const char *peerId, const char *peerPassword, const char *fileName,
                                 const char *targetPath)
{
    varno::setText(m_peerId, peerId ? peerId : "");
    varno::setText(m_fileName, fileName ? fileName : "");
    varno::setText(m_shared->fileName, fileName ? fileName : "");
    m_shared->targetPath = targetPath ? targetPath : "";
    m_shared->offset = m_offset;
    m_shared->received = m_offset;
    m_shared->written = m_offset;
    {
        std::lock_guard<std::mutex> lock(m_shared->queueMutex);
        m_shared->nextOffset = m_offset;
    }
    if (!claimTarget(m_shared->targetPath)) {
        WriteLog(3, "%s(%d):File(%s) is still in the hands of an earlier download!!!", "CFileDownload::startDownload",
                 __LINE__, m_shared->targetPath.c_str());
        return kDownloadTargetBusy;
    }
    // An earlier transfer kept the whole file: only the conversion is left.
    const bool fetched = m_total != 0 && m_offset >= m_total;
    if (!fetched) {
        const P2P_HANDLE handle = varno::p2pHandle();
        if (const int ret = varno::p2p::ensureSession(handle, m_peerId); ret != 0) {
            WriteLog(2, "%s(%d):Connect device failed, ret(%d)!!!", "CFileDownload::startDownload", __LINE__, ret);
            releaseTarget(m_shared->targetPath);
            return ret;
        }
        const int ret = P2P_Client_SDK_Start_Download(handle, m_peerId, m_fileName, &CFileDownload::dataCallback,
                                                      m_shared.get(), int32_t(m_offset),
                                                      peerPassword ? peerPassword : "");
        if (ret < 0) {
            WriteLog(2, "%s(%d):Start_Download failed, ret(%d)!!!", "CFileDownload::startDownload", __LINE__, ret);
            releaseTarget(m_shared->targetPath);
            return ret;
        }
        m_transferOpen = true;
    }
    if (m_offset != 0)
        WriteLog(0, "[DOWNLOAD]Resume file(%s) from offset(%u)!!!", m_fileName, m_offset);
    try {
        m_thread = std::thread(&CFileDownload::MyDownloadThread, m_shared);
    } catch (...) {
        WriteLog(2, "%s(%d):Create download thread failed!!!", "CFileDownload::startDownload", __LINE__);
        if (m_transferOpen)
            P2P_Client_SDK_Stop_Download(varno::p2pHandle(), m_peerId, m_fileName);
        m_transferOpen = false;
        releaseTarget(m_shared->targetPath);
        return -1;
    }
    return 0;
}

bool CFileDownload::stopDownload(int waitMs)
{
    // First the flag: a callback held by a full queue lets go, so that the
    // library's stop does not wait for it.
    {
        std::lock_guard<std::mutex> lock(m_shared->queueMutex);
        m_shared->stop = true;
    }
    m_shared->roomCv.notify_all();
    if (m_transferOpen) {
        const int ret = P2P_Client_SDK_Stop_Download(varno::p2pHandle(), m_peerId, m_fileName);
        if (ret < 0)
            WriteLog(2, "%s(%d):Stop_Download failed, ret(%d)!!!", "CFileDownload::stopDownload", __LINE__, ret);
        m_transferOpen = false;
    }
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

int CFileDownload::dataCallback(int32_t type, const char *data, int32_t size, int32_t offset, void *user)
{
    auto *shared = static_cast<Shared *>(user);
    if (!shared || !data || size <= 0)
        return 0;
    std::unique_lock<std::mutex> lock(shared->queueMutex);
    shared->roomCv.wait(lock, [&] { return shared->stop || shared->queuedBytes < kMaxQueuedBytes; });
    if (shared->stop || shared->outOfOrder)
        return 0;
    // The pieces must follow one another from the start offset: a repeat
    // is trimmed, a gap ends the transfer.
    const uint32_t at = uint32_t(offset);
    const uint64_t end = uint64_t(at) + uint32_t(size);
    if (end <= shared->nextOffset)
        return 0;
    if (at > shared->nextOffset || end > 0xffffffffull) {
        WriteLog(3, "%s(%d):Download file(%s) piece at offset(%u) where offset(%u) was due!!!",
                 "CFileDownload::dataCallback", __LINE__, shared->fileName, at, shared->nextOffset);
        shared->outOfOrder = true;
        return 0;
    }
    const uint32_t skip = shared->nextOffset - at;
    Shared::Piece piece{uint32_t(type), std::vector<char>(data + skip, data + size)};
    shared->queuedBytes += piece.data.size();
    shared->nextOffset = uint32_t(end);
    shared->received = uint32_t(end);
    shared->queue.push_back(std::move(piece));
    return 0;
}

void CFileDownload::MyDownloadThread(std::shared_ptr<Shared> s)
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[DOWNLOAD]Start file(%s) download!!!", s->fileName);
    const int timeout = g_timeoutMs;
    const int64_t start = nowMs();
    const std::string tmpPath = s->targetPath + ".tmp";
    const uint32_t total = s->totalCopy;
    DownloadOutcome out;
    out.kept = s->offset;
    auto fail = [&](DownloadFault fault, int error, const std::string &path) {
        out.state = DownloadState::Failed;
        out.fault = fault;
        out.error = error;
        out.path = path;
    };
    auto takePiece = [&](Shared::Piece *piece) {
        {
            std::lock_guard<std::mutex> lock(s->queueMutex);
            if (s->queue.empty())
                return false;
            *piece = std::move(s->queue.front());
            s->queue.pop_front();
            s->queuedBytes -= piece->data.size();
        }
        s->roomCv.notify_all();
        return true;
    };
    auto queueState = [&](bool *empty, bool *gap) {
        std::lock_guard<std::mutex> lock(s->queueMutex);
        *empty = s->queue.empty();
        *gap = s->outOfOrder;
    };
    bool complete = total != 0 && s->offset >= total;
    // State 0: waiting for the first piece.
    bool haveData = complete;
    while (!haveData && out.state == DownloadState::Running) {
        bool empty = true, gap = false;
        queueState(&empty, &gap);
        if (!empty) {
            haveData = true;
        } else if (s->stop) {
            out.state = DownloadState::Stopped;
        } else if (gap) {
            fail(DownloadFault::BadData, 0, {});
        } else if (nowMs() - start > timeout) {
            WriteLog(3, "%s(%d):Download file(%s) timeout!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     s->fileName);
            fail(DownloadFault::NoData, 0, {});
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // State 1: the temporary file, new or continued at the offset.
    std::FILE *file = nullptr;
    if (haveData && !complete) {
        WriteLog(0, "[DOWNLOAD]Begin to download file(%s)!!!", s->fileName);
        if (s->offset == 0) {
            file = std::fopen(tmpPath.c_str(), "wb+");
        } else {
            // The kept start must still be there: bytes beyond it go, a
            // file that became shorter is not filled up.
            file = std::fopen(tmpPath.c_str(), "r+b");
            if (file) {
                errno = 0;
                const bool held = std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) >= long(s->offset)
                    && ::ftruncate(::fileno(file), off_t(s->offset)) == 0 && std::fseek(file, 0, SEEK_END) == 0
                    && std::ftell(file) == long(s->offset);
                if (!held) {
                    const int err = errno ? errno : ENODATA;
                    std::fclose(file);
                    file = nullptr;
                    errno = err;
                }
            }
        }
        if (!file) {
            const int err = errno;
            s->notify(kDownloadCreateFailed);
            WriteLog(2, "%s(%d):Create file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     tmpPath.c_str(), err);
            fail(DownloadFault::CreateFailed, err, tmpPath);
        } else {
            s->notify(kDownloadProgress);
        }
    }
    // State 2: the pieces into the file until the file is whole, the stop
    // (what was queued is still written), a silence, a gap or a failed write.
    bool silent = false;
    while (file && !complete && out.state == DownloadState::Running) {
        const int64_t noted = nowMs();
        Shared::Piece piece;
        bool have = false;
        while (!have && out.state == DownloadState::Running) {
            if (takePiece(&piece)) {
                have = true;
                break;
            }
            bool empty = true, gap = false;
            queueState(&empty, &gap);
            if (!empty)
                continue;
            if (total != 0 && s->received >= total) {
                complete = true;
                break;
            }
            if (s->stop) {
                out.state = DownloadState::Stopped;
            } else if (gap) {
                fail(DownloadFault::BadData, 0, {});
            } else if (nowMs() - noted > timeout) {
                WriteLog(3, "%s(%d):Download file(%s) timeout!!!", "CFileDownload::MyDownloadThread", __LINE__,
                         s->fileName);
                silent = true;
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!have)
            break;
        s->notify(kDownloadProgress);
        const size_t n = std::fwrite(piece.data.data(), 1, piece.data.size(), file);
        s->written += uint32_t(n);
        if (n < piece.data.size()) {
            const int err = errno;
            WriteLog(2, "%s(%d):Write file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     tmpPath.c_str(), err);
            fail(DownloadFault::WriteFailed, err, tmpPath);
        }
    }
    if (file) {
        // Buffered bytes fail here when the disk is full.
        const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
        const int err = errno;
        if (std::fclose(file) != 0 || !flushed) {
            const int closeErr = flushed ? errno : err;
            WriteLog(2, "%s(%d):Close file(%s) failed, ret(%d)!!!", "CFileDownload::MyDownloadThread", __LINE__,
                     tmpPath.c_str(), closeErr);
            if (out.state != DownloadState::Failed)
                fail(DownloadFault::WriteFailed, closeErr, tmpPath);
            complete = false;
        }
        out.kept = s->written;
    }
    if (silent && out.state == DownloadState::Running) {
        // Without a size from the camera the file's own header may say
        // where it ends; with neither, the conversion is the test.
        const uint32_t end = total != 0 ? total : headerChunkEnd(tmpPath);
        if (end > kCameraHeaderSize && s->written < end)
            fail(DownloadFault::CameraSilent, 0, {});
        else
            complete = true;
    }
    if (complete && out.state == DownloadState::Running) {
        convert(*s, tmpPath);
    } else {
        if (out.state == DownloadState::Running)
            out.state = DownloadState::Stopped;
        // A temporary file that holds nothing is not worth keeping.
        if (out.kept == 0 && s->offset == 0 && exists(tmpPath))
            std::remove(tmpPath.c_str());
        WriteLog(3, "%s(%d):Download file(%s) not finished, %u of %u bytes kept in (%s)!!!",
                 "CFileDownload::MyDownloadThread", __LINE__, s->fileName, out.kept, total, tmpPath.c_str());
        s->setOutcome(out);
    }
    releaseTarget(s->targetPath);
    s->notify(kDownloadFinished);
    WriteLog(0, "[DOWNLOAD]Start file(%s) download finished!!!", s->fileName);
    {
        std::lock_guard<std::mutex> lock(s->doneMutex);
        s->done = true;
    }
    s->doneCv.notify_all();
}

// The whole camera file into "<target>.part", renamed to the target once the
// converter reports success (an MP4 of an earlier download stays until
// then); the temporary file goes only then. On failure the camera file is
// kept beside the target.
void CFileDownload::convert(Shared &s, const std::string &tmpPath)
{
    const std::string part = s.targetPath + ".part";
    Converter converter;
    {
        std::lock_guard<std::mutex> lock(g_converterMutex);
        converter = g_converter;
    }
    const int ret = converter ? converter(tmpPath.c_str(), part.c_str()) : saveMp4(tmpPath.c_str(), part.c_str());
    DownloadOutcome out;
    if (ret == 0) {
        if (std::rename(part.c_str(), s.targetPath.c_str()) == 0) {
            if (std::remove(tmpPath.c_str()) != 0)
                WriteLog(3, "%s(%d):Remove file(%s) failed, ret(%d)!!!", "CFileDownload::convert", __LINE__,
                         tmpPath.c_str(), errno);
            out.state = DownloadState::Finished;
            s.setOutcome(out);
            return;
        }
        WriteLog(2, "%s(%d):Rename file(%s) failed, ret(%d)!!!", "CFileDownload::convert", __LINE__, part.c_str(),
                 errno);
    } else {
        WriteLog(2, "%s(%d):Convert file(%s) failed, ret(%d)!!!", "CFileDownload::convert", __LINE__,
                 tmpPath.c_str(), ret);
    }
    std::remove(part.c_str());
    out.state = DownloadState::Failed;
    out.fault = DownloadFault::ConvertFailed;
    const std::string kept = keptName(s.targetPath, cameraSuffix(s.fileName));
    if (std::rename(tmpPath.c_str(), kept.c_str()) == 0) {
        out.path = kept;
    } else {
        out.path = tmpPath;
        out.kept = s.written;
    }
    WriteLog(3, "%s(%d):Camera file(%s) kept as (%s)!!!", "CFileDownload::convert", __LINE__, s.fileName,
             out.path.c_str());
    s.setOutcome(out);
}
