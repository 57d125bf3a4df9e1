#pragma once

// A recorder sink that notes every call (and can hold a write), a clock the
// test drives, and encoded test streams pushed as a camera would push them.

#include "record/qmediarealrecord.h"
#include "tests/support/probe.h"
#include "tests/support/recmedia/testmedia.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rectest {

struct Event
{
    char kind;        // 'c' create, 'w' write, 'x' close, 'a' alarm type
    uint32_t type = 0;
    QByteArray data;
    int32_t file = 0;
};

class FakeSink : public RecorderEnv::Sink
{
public:
    int create(const RECORD_INFO_S &info, char path[256], int32_t *file) override
    {
        std::lock_guard lock(m_mutex);
        if (createResult != 0)
            return createResult;
        lastInfo = info;
        *file = ++m_next;
        std::strncat(path, "/file.mkv", 255 - std::strlen(path));
        add({'c', 0, {}, *file});
        return 0;
    }
    int write(int32_t file, uint32_t type, const unsigned char *data, uint32_t size) override
    {
        {
            std::unique_lock lock(m_mutex);
            if (holdWrites) {
                ++m_held;
                m_cv.notify_all();
                m_cv.wait(lock, [&] { return !holdWrites; });
            }
            add({'w', type, QByteArray(reinterpret_cast<const char *>(data), int(size)), file});
        }
        return writeResult;
    }
    int close(int32_t file) override
    {
        std::lock_guard lock(m_mutex);
        add({'x', 0, {}, file});
        return 0;
    }
    int setAlarmType(int32_t file, int type) override
    {
        std::lock_guard lock(m_mutex);
        add({'a', uint32_t(type), {}, file});
        return 0;
    }

    // Waits (bounded) until pred holds for the events.
    template <class Pred>
    bool waitFor(Pred pred, int ms = 20000)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(m_events); });
    }
    bool waitCount(char kind, int n) { return waitFor([&](const auto &ev) { return count(ev, kind) >= n; }); }
    bool waitHeld() { std::unique_lock lock(m_mutex); return m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return m_held > 0; }); }
    void release()
    {
        std::lock_guard lock(m_mutex);
        holdWrites = false;
        m_cv.notify_all();
    }
    std::vector<Event> events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    static int count(const std::vector<Event> &ev, char kind)
    {
        return int(std::count_if(ev.begin(), ev.end(), [kind](const Event &e) { return e.kind == kind; }));
    }
    static bool isFiller(const Event &e) { return e.kind == 'w' && e.type == MEDIA_FRAME_SLICE && e.data == QByteArray(1, 0); }
    static int fillers(const std::vector<Event> &ev) { return int(std::count_if(ev.begin(), ev.end(), isFiller)); }

    int createResult = 0;
    int writeResult = 0;
    bool holdWrites = false;
    RECORD_INFO_S lastInfo{};

private:
    void add(Event e)
    {
        m_events.push_back(std::move(e));
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
    int32_t m_next = 0;
    int m_held = 0;
};

// The time is shared with the function handed to the recorder, so a record
// thread that outlives its recorder (a stuck write) never reads a freed clock.
struct Clock
{
    std::shared_ptr<std::atomic<uint64_t>> value = std::make_shared<std::atomic<uint64_t>>(1000000);
    std::atomic<uint64_t> &ms = *value;
    std::function<uint64_t()> fn() { return [v = value] { return v->load(); }; }
};

// Callback codes the recorder reported, in order.
struct Reports
{
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<int> codes;
    qmediarealrecord::Callback fn()
    {
        return [this](const char *, const char *, int code, qmediarealrecord *) {
            std::lock_guard lock(mutex);
            codes.push_back(code);
            cv.notify_all();
        };
    }
    bool waitFor(int code)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20),
                           [&] { return std::find(codes.begin(), codes.end(), code) != codes.end(); });
    }
    std::vector<int> all()
    {
        std::lock_guard lock(mutex);
        return codes;
    }
};

inline RECORD_INFO_S info(const char *id, int fps = 25, int audioFormat = MEDIA_AUDIO_G711A, int sampleRate = 8000)
{
    RECORD_INFO_S i{};
    std::strncpy(i.devId, id, sizeof i.devId - 1);
    i.version = RECORD_INFO_VERSION;
    i.videoCodec = MEDIA_VIDEO_H264;
    i.frameRate = fps;
    i.width = 160;
    i.height = 120;
    i.audioFormat = audioFormat;
    i.sampleRate = sampleRate;
    i.bitsPerSample = 8;
    i.channels = 1;
    return i;
}

// One NAL unit as the feed pushes it.
struct Unit
{
    int type;
    std::vector<uint8_t> data;
};

// Encoded pictures split into NAL units with the recorder's frame types.
inline std::vector<std::vector<Unit>> pictures(int count, int gop = 25, int fps = 25)
{
    std::vector<std::vector<Unit>> out;
    const auto stream
        = varno::test::encodeStream({.width = 160, .height = 120, .frames = count, .fps = fps, .gop = gop});
    for (const auto &p : stream) {
        std::vector<Unit> units;
        for (auto &u : varno::test::splitNals(p.data))
            units.push_back({int(varno::test::recorderFrameType(varno::test::nalType(u, 1))), u});
        out.push_back(std::move(units));
    }
    return out;
}

inline void push(LiveRecorder &r, const std::vector<Unit> &picture, uint64_t ts)
{
    for (const Unit &u : picture)
        r.pushFrame(u.type, reinterpret_cast<const char *>(u.data.data()), int(u.data.size()), ts);
}

using varno::test::decodeErrors;
using varno::test::ffprobe;

} // namespace rectest
