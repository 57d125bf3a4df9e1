#include "record/qmediarealrecord.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "platform/recfile/nalunits.h"
#include "platform/recfile/record_local.h"
#include "record/cstorage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kSplitMs = 1800 * 1000;
constexpr uint64_t kSilenceMs = 10 * 1000;
constexpr uint64_t kAlarmLimitMs = 6000 * 1000;
constexpr uint64_t kMaxFillerMs = 600 * 1000; // longest gap filled with filler frames
constexpr auto kPoll = std::chrono::milliseconds(10);
// Queued by noteStreamLost: not a frame of the stream.
constexpr uint32_t kLostMarker = 0xffffffffu;
// A video time stamp this far behind the last one starts a new stream.
constexpr uint64_t kStepBackMs = 1000;

struct FreeDeleter
{
    void operator()(MEDIA_FRAME_INFO_S *p) const { std::free(p); }
};
using FramePtr = std::unique_ptr<MEDIA_FRAME_INFO_S, FreeDeleter>;

class LibrarySink : public RecorderEnv::Sink
{
public:
    int create(const RECORD_INFO_S &info, char path[256], int32_t *file) override
    {
        return Record_local_MediaFileCreat(&info, path, file, nullptr);
    }
    int write(int32_t file, uint32_t type, const unsigned char *data, uint32_t size) override
    {
        return Record_local_MediaFileWrite(file, type, data, size);
    }
    int close(int32_t file) override { return Record_local_MediaFileClose(file); }
    int setAlarmType(int32_t file, int type) override { return Record_local_setMediaFileAlarmType(file, type); }
};

uint64_t steadyMs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

int16_t alawSample(uint8_t a)
{
    a ^= 0x55;
    int t = (a & 0x0f) << 4;
    const int seg = (a & 0x70) >> 4;
    switch (seg) {
    case 0:
        t += 8;
        break;
    case 1:
        t += 0x108;
        break;
    default:
        t += 0x108;
        t <<= seg - 1;
        break;
    }
    return int16_t((a & 0x80) ? t : -t);
}

int16_t mulawSample(uint8_t u)
{
    u = uint8_t(~u);
    int t = ((u & 0x0f) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return int16_t((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

bool startsWithStartCode(const MEDIA_FRAME_INFO_S &f)
{
    const unsigned char *d = f.data();
    return f.size > 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1;
}

} // namespace

void g711Expand(const unsigned char *in, size_t size, bool muLaw, int16_t *out)
{
    for (size_t i = 0; i < size; ++i)
        out[i] = muLaw ? mulawSample(in[i]) : alawSample(in[i]);
}

struct qmediarealrecord::State
{
    RecorderEnv env;
    RECORD_INFO_S info{};
    RECORD_PARAM_SETS_S params{};
    std::string deviceId;
    std::atomic<bool> h265{false}; // the video's NAL units follow H.265 (set by startRecord)

    // Frame queue.
    mutable std::mutex queueMutex;
    std::condition_variable queueCv;
    std::deque<FramePtr> queue;
    size_t queueBytes = 0;
    bool dropUntilKey = false;
    uint64_t dropped = 0;
    bool waiting = false; // the thread waits for frames (queue lock)

    // File: handle, alarm type and alarm start (the file lock).
    std::mutex fileMutex;
    int32_t file = 0;
    int alarmType = 0;
    uint64_t alarmStart = 0;
    char path[256] = {};
    int fullRetries = 0; // files in a row that failed for lack of space

    // Callback, cleared by stop() (never called after stop() returned).
    std::mutex callbackMutex;
    qmediarealrecord::Callback callback;
    qmediarealrecord *owner = nullptr;

    std::atomic<bool> stop{false};

    // Frame interval for the gap filling (ms); measured when the stream's
    // rate is not usable.
    int interval = 0;
    bool measuring = false;
    uint64_t lastMeasureTs = 0;
    bool haveMeasureTs = false;
    std::vector<uint64_t> deltas;

    // Stream watch (record thread; lost is read by observers).
    enum class Arrival { Use, Drop, Marker };
    std::atomic<bool> lost{false};
    uint64_t lastArrival = 0; // clock when the last frame was taken
    bool resumed = false;     // the next frame's time stamp goes on from the clock
    bool needKey = false;     // frames of an open file wait for a key frame
    int64_t tsOffset = 0;     // added to the stream's time stamps
    bool haveOutTs = false;
    uint64_t lastOutTs = 0;   // last video time stamp after the offset

    uint64_t now() const { return env.clock(); }
    FramePtr takeFrame(std::unique_lock<std::mutex> &lock);
    Arrival arrive(MEDIA_FRAME_INFO_S &f);
    void markLost();
    void watchSilence();
    bool alarmLimitReached();
    bool isKey(const MEDIA_FRAME_INFO_S &f) const;
    bool isParamStart(const MEDIA_FRAME_INFO_S &f) const;
    varno::recfile::VideoCodec codec() const
    {
        return h265 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;
    }
    void report(int code);
    void measure(const MEDIA_FRAME_INFO_S &f);
    void run();
    bool startFile(FramePtr first, const std::vector<unsigned char> &header);
    void closeFile();
    bool writeFailed(const char *folder, dev_t device, bool wrote);
    int writeFrame(const MEDIA_FRAME_INFO_S &f, uint64_t &lastTs);
};

bool qmediarealrecord::State::isParamStart(const MEDIA_FRAME_INFO_S &f) const
{
    return startsWithStartCode(f) && varno::recfile::startsWithParameterSets(codec(), f.data(), f.size);
}

// A key picture begins here. A later slice of a key picture is none: the
// picture began before it (a stream joined or resumed in its middle).
bool qmediarealrecord::State::isKey(const MEDIA_FRAME_INFO_S &f) const
{
    if (!startsWithStartCode(f))
        return f.type == MEDIA_FRAME_IDR;
    const varno::recfile::NalUnit first = varno::recfile::firstNalUnit(f.data(), f.size);
    if (varno::recfile::isSlice(codec(), first) && !varno::recfile::isFirstSliceOfPicture(codec(), first))
        return false;
    return f.type == MEDIA_FRAME_IDR || varno::recfile::isKeySlice(codec(), first);
}

void qmediarealrecord::State::report(int code)
{
    std::lock_guard lock(callbackMutex);
    if (callback && !stop)
        callback(deviceId.c_str(), path, code, owner);
}

void qmediarealrecord::State::measure(const MEDIA_FRAME_INFO_S &f)
{
    if (!measuring || f.type == MEDIA_FRAME_AUDIO || f.type < 100 || f.type > 105)
        return;
    if (haveMeasureTs && f.timeStamp > lastMeasureTs) {
        deltas.push_back(f.timeStamp - lastMeasureTs);
        if (deltas.size() > 32)
            deltas.erase(deltas.begin());
        std::vector<uint64_t> sorted = deltas;
        std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
        const uint64_t median = sorted[sorted.size() / 2];
        if (deltas.size() >= 4 && median > 0 && median < 10000)
            interval = int(median);
    }
    if (!haveMeasureTs || f.timeStamp > lastMeasureTs) {
        lastMeasureTs = f.timeStamp;
        haveMeasureTs = true;
    }
}

// Waits at most kPoll for a frame (queue lock held by the caller).
FramePtr qmediarealrecord::State::takeFrame(std::unique_lock<std::mutex> &lock)
{
    waiting = true;
    queueCv.wait_for(lock, kPoll, [&] { return stop || !queue.empty(); });
    waiting = false;
    if (stop || queue.empty())
        return nullptr;
    FramePtr frame = std::move(queue.front());
    queue.pop_front();
    queueBytes -= frame->size;
    return frame;
}

void qmediarealrecord::State::markLost()
{
    if (lost)
        return;
    lost = true;
    WriteLog(2, "%s(%d):Stream of device(%s) lost, recording waits for it!!!", "qmediarealrecord::MyRecordThread",
             __LINE__, deviceId.c_str());
    report(qmediarealrecord::kStreamLost);
}

void qmediarealrecord::State::watchSilence()
{
    if (!lost && now() - lastArrival >= qmediarealrecord::kStreamLostMs)
        markLost();
}

bool qmediarealrecord::State::alarmLimitReached()
{
    std::lock_guard lock(fileMutex);
    return alarmType != 0 && now() - alarmStart >= kAlarmLimitMs;
}

// A frame taken from the queue. After a lost stream (or when the stream's
// time stamps step back: it started again) the time stamps go on from the
// recorder's clock, and an open file takes nothing before the next key
// frame: the frames in between refer to pictures it never got.
qmediarealrecord::State::Arrival qmediarealrecord::State::arrive(MEDIA_FRAME_INFO_S &f)
{
    if (f.type == kLostMarker) {
        markLost();
        return Arrival::Marker;
    }
    const uint64_t t = now();
    if (lost) {
        lost = false;
        resumed = true;
        WriteLog(0, "[RECORD]Stream of device(%s) is back, recording goes on!!!", deviceId.c_str());
        report(qmediarealrecord::kStreamBack);
    }
    const bool video = f.type >= 100 && f.type <= 105;
    if (video && haveOutTs && !resumed && int64_t(f.timeStamp) + tsOffset + int64_t(kStepBackMs) < int64_t(lastOutTs)) {
        WriteLog(3, "%s(%d):Stream of device(%s) started again!!!", "qmediarealrecord::MyRecordThread", __LINE__,
                 deviceId.c_str());
        resumed = true;
    }
    if (resumed) {
        resumed = false;
        needKey = true;
        if (haveOutTs)
            tsOffset = int64_t(lastOutTs + (t - lastArrival)) - int64_t(f.timeStamp);
    }
    const int64_t ts = int64_t(f.timeStamp) + tsOffset;
    f.timeStamp = ts > 0 ? uint64_t(ts) : 0;
    lastArrival = t;
    if (video) {
        lastOutTs = f.timeStamp;
        haveOutTs = true;
    }
    if (needKey) {
        if (!isParamStart(f) && !isKey(f))
            return Arrival::Drop;
        needKey = false;
    }
    return Arrival::Use;
}

int qmediarealrecord::State::writeFrame(const MEDIA_FRAME_INFO_S &f, uint64_t &lastTs)
{
    if (f.type == MEDIA_FRAME_AUDIO) {
        // AAC is stored as it came (an AAC track); 16-bit PCM as it is.
        if (info.audioFormat == int32_t(MEDIA_AUDIO_AAC) || info.audioFormat == int32_t(MEDIA_AUDIO_PCM16))
            return env.sink->write(file, MEDIA_FRAME_AUDIO, f.data(), f.size);
        // Sized to the frame: two bytes of PCM per G.711 byte.
        std::vector<int16_t> pcm(f.size);
        g711Expand(f.data(), f.size, info.audioFormat == int32_t(MEDIA_AUDIO_G711U), pcm.data());
        return env.sink->write(file, MEDIA_FRAME_AUDIO, reinterpret_cast<const unsigned char *>(pcm.data()),
                               uint32_t(pcm.size() * 2));
    }
    if (f.type >= 100 && f.type <= 105) {
        measure(f);
        if (interval > 0 && f.timeStamp > lastTs) {
            const uint64_t gap = std::min<uint64_t>(f.timeStamp - lastTs, kMaxFillerMs);
            const uint64_t n = measuring ? (gap + uint64_t(interval) / 2) / uint64_t(interval)
                                         : gap / uint64_t(interval);
            static const unsigned char filler = 0;
            for (uint64_t i = 1; i < n; ++i) {
                const int ret = env.sink->write(file, MEDIA_FRAME_SLICE, &filler, 1);
                if (ret != 0)
                    return ret;
            }
        }
        lastTs = f.timeStamp;
    }
    return env.sink->write(file, f.type, f.data(), f.size);
}

bool qmediarealrecord::State::startFile(FramePtr first, const std::vector<unsigned char> &header)
{
    char folder[256] = {};
    const int where = env.savePath(folder);
    if (where != 0) {
        WriteLog(2, "%s(%d):Disk is full!!!", "qmediarealrecord::MyRecordThread", __LINE__);
        report(where == CStorage::kSavePathCoverFailed ? qmediarealrecord::kCoverFailed
               : where == CStorage::kSavePathDiskGone  ? qmediarealrecord::kNoDiskLeft
                                                       : qmediarealrecord::kNoSavePath);
        return false;
    }
    const dev_t device = varno::record::folderDevice(folder);
    int ret = 0;
    {
        std::lock_guard lock(fileMutex);
        std::memcpy(path, folder, sizeof path);
        info.alarmType = uint16_t(alarmType);
        if (measuring && interval > 0)
            info.frameRate = std::max(1, (1000 + interval / 2) / interval);
        int32_t handle = 0;
        ret = env.sink->create(info, path, &handle);
        if (ret == 0)
            file = handle;
    }
    if (ret != 0) {
        WriteLog(2, "%s(%d):Create file(%s/%s) failed, ret(%d)!!!", "qmediarealrecord::MyRecordThread", __LINE__,
                 folder, deviceId.c_str(), ret);
        switch (env.diagnose(folder, device)) {
        case varno::record::FolderFault::Full:
            report(qmediarealrecord::kNoSavePath);
            break;
        case varno::record::FolderFault::NotWritable:
            report(qmediarealrecord::kNotWritable);
            break;
        case varno::record::FolderFault::Gone:
            report(qmediarealrecord::kNoDiskLeft);
            break;
        case varno::record::FolderFault::None:
            report(ret);
            break;
        }
        return false;
    }
    WriteLog(0, "%s(%d):[RECORD]Start record(%s/%s)!!!", "qmediarealrecord::MyRecordThread", __LINE__, path,
             deviceId.c_str());
    report(qmediarealrecord::kFileCreated);

    needKey = false; // the file begins with its parameter sets or key frame
    uint64_t fileStart = now();
    uint64_t lastFrame = fileStart;
    uint64_t lastTs = first->timeStamp;
    bool ok = true;
    if (!header.empty() && env.sink->write(file, MEDIA_FRAME_IDR, header.data(), uint32_t(header.size())) != 0) {
        ok = false;
        WriteLog(2, "%s(%d):Write file(%s/%s) failed!!!", "qmediarealrecord::MyRecordThread", __LINE__, path,
                 deviceId.c_str());
        if (!writeFailed(folder, device, false))
            report(qmediarealrecord::kWriteFailed);
    }
    FramePtr frame = std::move(first);
    bool wrote = false;
    uint64_t diskChecked = fileStart;
    while (ok && !stop) {
        if (frame) {
            const int w = writeFrame(*frame, lastTs);
            frame.reset();
            if (w != 0) {
                WriteLog(2, "%s(%d):Write file(%s/%s) failed, ret(%d)!!!", "qmediarealrecord::MyRecordThread",
                         __LINE__, path, deviceId.c_str(), w);
                if (!writeFailed(folder, device, wrote))
                    report(qmediarealrecord::kWriteFailed);
                break;
            }
            wrote = true;
        }
        if (now() - diskChecked >= qmediarealrecord::kDiskCheckMs) {
            diskChecked = now();
            if (varno::record::folderDevice(folder) != device) {
                WriteLog(2, "%s(%d):Record disk of(%s) went away, write(%s/%s) over!!!",
                         "qmediarealrecord::MyRecordThread", __LINE__, folder, path, deviceId.c_str());
                report(qmediarealrecord::kDiskGone);
                break;
            }
        }
        int type = 0;
        uint64_t started = 0;
        {
            std::lock_guard lock(fileMutex);
            type = alarmType;
            started = alarmStart;
        }
        const uint64_t t = now();
        if (type != 0 && t - started >= kAlarmLimitMs) {
            report(qmediarealrecord::kAlarmLimit);
            break;
        }
        if (t - fileStart >= kSplitMs) {
            WriteLog(0, "%s(%d):[RECORD]Write record(%s/%s) over!!!", "qmediarealrecord::MyRecordThread", __LINE__,
                     path, deviceId.c_str());
            break;
        }
        {
            std::unique_lock lock(queueMutex);
            frame = takeFrame(lock);
        }
        if (frame) {
            const Arrival a = arrive(*frame);
            if (a != Arrival::Marker)
                lastFrame = now();
            if (a != Arrival::Use)
                frame.reset();
            continue;
        }
        watchSilence();
        if (now() - lastFrame >= kSilenceMs) {
            if (alarmLimitReached()) {
                // Both at once: the alarm limit is what the grid must hear.
                report(qmediarealrecord::kAlarmLimit);
                break;
            }
            WriteLog(2, "%s(%d):No stream come, write(%s/%s) over!!!", "qmediarealrecord::MyRecordThread", __LINE__,
                     path, deviceId.c_str());
            break;
        }
    }
    closeFile();
    return true;
}

// A write failed: lack of space closes the file and lets the next key
// frame start another (the storage manager overwrites or switches disks
// then) up to kMaxFullRetries files in a row that held nothing; a disk that
// went away is reported and recording goes on on the next disk. True when
// the failure was reported (or needs no report).
bool qmediarealrecord::State::writeFailed(const char *folder, dev_t device, bool wrote)
{
    switch (env.diagnose(folder, device)) {
    case varno::record::FolderFault::Full:
        fullRetries = wrote ? 1 : fullRetries + 1;
        if (fullRetries <= qmediarealrecord::kMaxFullRetries) {
            WriteLog(3, "%s(%d):Disk of(%s) is full, going on in a new file, try(%d)!!!",
                     "qmediarealrecord::MyRecordThread", __LINE__, folder, fullRetries);
            return true;
        }
        report(qmediarealrecord::kNoSavePath);
        return true;
    case varno::record::FolderFault::Gone:
        report(qmediarealrecord::kDiskGone);
        return true;
    case varno::record::FolderFault::NotWritable:
        report(qmediarealrecord::kNotWritable);
        return true;
    case varno::record::FolderFault::None:
        break;
    }
    return false;
}

void qmediarealrecord::State::closeFile()
{
    std::lock_guard lock(fileMutex);
    if (file == 0)
        return;
    const int ret = env.sink->close(file);
    if (ret != 0)
        WriteLog(2, "%s(%d):Close file(%s/%s) failed, ret(%d)!!!", "qmediarealrecord::MyRecordThread", __LINE__,
                 path, deviceId.c_str(), ret);
    file = 0;
}

void qmediarealrecord::State::run()
{
    InstallCrashHandlerOnThread();
    if (info.frameRate > 2) {
        interval = 1000 / (info.frameRate - 2);
    } else {
        measuring = true; // the stream's own rate is measured from its time stamps
    }
    std::vector<unsigned char> header;
    if (params.spsLen > 0 && params.ppsLen > 0) {
        static const unsigned char sc[4] = {0, 0, 0, 1};
        header.insert(header.end(), sc, sc + 4);
        header.insert(header.end(), params.sps, params.sps + std::min<int>(params.spsLen, sizeof params.sps));
        header.insert(header.end(), sc, sc + 4);
        header.insert(header.end(), params.pps, params.pps + std::min<int>(params.ppsLen, sizeof params.pps));
    }
    WriteLog(0, "[RECORD]Start %s record thread!!!", deviceId.c_str());
    lastArrival = now();
    while (!stop) {
        FramePtr frame;
        {
            std::unique_lock lock(queueMutex);
            waiting = true;
            queueCv.wait_for(lock, kPoll, [&] { return stop || !queue.empty(); });
            if (stop)
                break;
            if (queue.empty()) {
                lock.unlock();
                watchSilence();
                // An alarm recording ends on its limit also while no file is
                // open (its camera gone for good).
                if (alarmLimitReached()) {
                    report(qmediarealrecord::kAlarmLimit);
                    break;
                }
                continue;
            }
        }
        if (!env.haveRecordDisk()) {
            std::unique_lock lock(queueMutex);
            queueCv.wait_for(lock, kPoll, [&] { return bool(stop); });
            continue;
        }
        {
            std::unique_lock lock(queueMutex);
            frame = takeFrame(lock);
            if (!frame)
                continue;
        }
        if (arrive(*frame) != Arrival::Use)
            continue;
        measure(*frame);
        bool started = true;
        if (isParamStart(*frame)) {
            WriteLog(0, "[RECORD]Finded %s sps!!!", deviceId.c_str());
            started = startFile(std::move(frame), {});
        } else if (isKey(*frame)) {
            WriteLog(0, "[RECORD]Finded %s key frame!!!", deviceId.c_str());
            if (!header.empty())
                started = startFile(std::move(frame), header);
        }
        if (!started)
            break;
    }
    WriteLog(0, "[RECORD]Stop %s record thread!!!", deviceId.c_str());
}

// ---------------------------------------------------------------------------

qmediarealrecord::qmediarealrecord(RecorderEnv env)
    : m_state(std::make_shared<State>())
{
    if (!env.sink)
        env.sink = std::make_shared<LibrarySink>();
    if (!env.savePath)
        env.savePath = [](char out[256]) {
            CStorage *s = CStorage::Instance();
            return s ? s->getRecordSavePath(out) : -1;
        };
    if (!env.haveRecordDisk)
        env.haveRecordDisk = [] {
            CStorage *s = CStorage::Instance();
            return s && !s->getRecordDiskList().isEmpty();
        };
    if (!env.clock)
        env.clock = steadyMs;
    if (!env.diagnose)
        env.diagnose = varno::record::diagnoseFolder;
    m_state->env = std::move(env);
    m_state->owner = this;
}

qmediarealrecord::~qmediarealrecord()
{
    stop();
}

int qmediarealrecord::startRecord(const RECORD_INFO_S &info, const RECORD_PARAM_SETS_S &params)
{
    if (m_started)
        return kThreadFailed;
    State &s = *m_state;
    s.info = info;
    s.info.devId[sizeof s.info.devId - 1] = 0;
    s.h265 = info.videoCodec == int32_t(MEDIA_VIDEO_H265);
    s.params = params;
    s.deviceId = s.info.devId;
    s.alarmType = info.alarmType;
    if (info.alarmType != 0)
        s.alarmStart = s.now();
    try {
        m_thread = std::thread([state = m_state] { state->run(); });
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "qmediarealrecord::startRecord", __LINE__);
        return kThreadFailed;
    }
    m_started = true;
    return 0;
}

void qmediarealrecord::setCallback(Callback callback)
{
    std::lock_guard lock(m_state->callbackMutex);
    m_state->callback = std::move(callback);
}

void qmediarealrecord::setStopAction(std::function<void()> action)
{
    m_stopAction = std::move(action);
}

bool qmediarealrecord::isH265() const
{
    return m_state->h265;
}

void qmediarealrecord::pushFrame(int type, const char *data, int size, uint64_t timeStampMs)
{
    State &s = *m_state;
    if (s.stop || !data || size <= 0)
        return;
    auto *raw = static_cast<MEDIA_FRAME_INFO_S *>(std::malloc(sizeof(MEDIA_FRAME_INFO_S) + size_t(size)));
    if (!raw) {
        WriteLog(1, "[RECORD]New MEDIA_FRAME_INFO_S failed!!!");
        return;
    }
    FramePtr frame(raw);
    frame->type = uint32_t(type);
    frame->size = uint32_t(size);
    frame->timeStamp = timeStampMs;
    std::memcpy(frame->data(), data, size_t(size));
    const bool key = s.isParamStart(*frame) || s.isKey(*frame);

    std::lock_guard lock(s.queueMutex);
    if (s.queueBytes + size_t(size) > kMaxQueueBytes || s.queue.size() >= kMaxQueueFrames) {
        const size_t count = s.queue.size();
        s.queue.clear();
        s.queueBytes = 0;
        s.dropUntilKey = true;
        s.dropped += count;
        WriteLog(3, "%s(%d):Record queue of device(%s) is full, dropped %zu frames!!!",
                 "qmediarealrecord::pushFrame", __LINE__, s.deviceId.c_str(), count);
    }
    if (s.dropUntilKey) {
        if (!key) {
            ++s.dropped;
            return;
        }
        s.dropUntilKey = false;
    }
    s.queueBytes += size_t(size);
    s.queue.push_back(std::move(frame));
    s.queueCv.notify_one();
}

void qmediarealrecord::noteStreamLost()
{
    State &s = *m_state;
    if (s.stop)
        return;
    auto *raw = static_cast<MEDIA_FRAME_INFO_S *>(std::malloc(sizeof(MEDIA_FRAME_INFO_S)));
    if (!raw)
        return;
    FramePtr marker(raw);
    marker->type = kLostMarker;
    marker->size = 0;
    marker->timeStamp = 0;
    std::lock_guard lock(s.queueMutex);
    s.queue.push_back(std::move(marker));
    s.queueCv.notify_one();
}

bool qmediarealrecord::waitingForStream() const
{
    return m_state->lost;
}

bool qmediarealrecord::idle() const
{
    std::lock_guard lock(m_state->queueMutex);
    return m_state->queue.empty() && m_state->waiting;
}

int qmediarealrecord::setAlarmType(int type)
{
    State &s = *m_state;
    std::lock_guard lock(s.fileMutex);
    s.alarmStart = s.now();
    s.alarmType = type;
    // Without an open file the type goes to the next file.
    return s.file != 0 ? s.env.sink->setAlarmType(s.file, type) : 0;
}

size_t qmediarealrecord::queuedBytes() const
{
    std::lock_guard lock(m_state->queueMutex);
    return m_state->queueBytes;
}

void qmediarealrecord::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // The recorder's own stream first: no frame comes after it, so a picture
    // on its way is either queued whole or not at all.
    if (m_stopAction) {
        m_stopAction();
        m_stopAction = nullptr;
    }
    State &s = *m_state;
    {
        // Waits for a callback in flight; none starts afterwards.
        std::lock_guard lock(s.callbackMutex);
        s.stop = true;
        s.callback = nullptr;
    }
    s.queueCv.notify_all();
    // The thread ends at its next look at the flag (a write in progress
    // finishes first) and closes its file; it is joined here, so nothing of
    // it outlives the recorder. Owners stop recorders off the window's thread.
    if (m_thread.joinable())
        m_thread.join();
}
