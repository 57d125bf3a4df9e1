#include "playback/qmediaplay.h"

#include <chrono>
#include <cstring>

namespace varno::playback {

namespace {

class SystemClock final : public PlaybackClock
{
public:
    int64_t nowUs() override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool sleepUntilUs(int64_t deadlineUs, PlaybackWake *wake) override
    {
        return wake->waitUntil(std::chrono::steady_clock::time_point(std::chrono::microseconds(deadlineUs)));
    }
    bool idleSleepMs(int ms, PlaybackWake *wake) override
    {
        return wake->waitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    }
};

} // namespace

void PlaybackWake::notify()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending = true;
    }
    cv.notify_all();
}

bool PlaybackWake::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool woken = cv.wait_until(lock, deadline, [this] { return pending; });
    pending = false;
    return woken;
}

PlaybackClock *PlaybackClock::system()
{
    static SystemClock clock;
    return &clock;
}

void packAudioFrame(uint32_t audioCode, const uint8_t *data, uint32_t size, std::vector<uint8_t> *out)
{
    out->clear();
    if (!data || size == 0)
        return;
    if (audioCode == AV_AUDIO_PCM16) {
        out->assign(data, data + size);
        return;
    }
    // The header's length byte holds the low 8 bits of size / 2, as the
    // decoder expects; the data behind it is never cut.
    out->resize(size_t(size) + 5);
    (*out)[0] = 0;
    (*out)[1] = 1;
    (*out)[2] = uint8_t((size / 2) & 0xff);
    (*out)[3] = 0;
    std::memcpy(out->data() + 4, data, size);
    (*out)[size_t(size) + 4] = 0;
    out->resize(size_t(size) + 4);
}

} // namespace varno::playback

qmediaplay::~qmediaplay() = default;

void qmediaplay::SetSpeed(float speed)
{
    m_speed = speed;
}

void qmediaplay::SetCallback(MediaPlayCallback callback, void *user)
{
    m_user = user;
    m_callback = callback;
}

void qmediaplay::UpdatePosition(int) {}

int qmediaplay::CapPicture(const char *path)
{
    if (!path)
        return varno::playback::kCapNoPath;
    if (!m_decoder)
        return varno::playback::kPlayThreadFailed;
    return AV_CapPicture(m_decoder, path);
}

int qmediaplay::notify(int length, int position, int code)
{
    MediaPlayCallback cb = m_callback.load();
    if (!cb)
        return 0;
    return cb(length, position, code, this, m_user.load());
}

void qmediaplay::joinWorker()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

int qmediaplay::decodeAudio(const uint8_t *data, uint32_t size)
{
    varno::playback::packAudioFrame(m_params.audioCode, data, size, &m_audioBuffer);
    if (m_audioBuffer.empty())
        return AV_ERR_NEED_DATA;
    return AV_FrameDecoder(m_decoder, m_audioBuffer.data(), int32_t(m_audioBuffer.size()), AV_FRAME_AUDIO,
                           &m_params);
}
