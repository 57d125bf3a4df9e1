#include "platform/av/audioout.h"

#include "common/crashhandler.h"
#include "common/logfile.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>

namespace varno::av {

namespace {

std::mutex g_overrideMutex;
std::shared_ptr<AudioSink> g_override;

// Pull device read by QAudioSink on the audio thread: the queued PCM, or
// silence when nothing is queued so that the device keeps running.
class PcmFeed final : public QIODevice
{
public:
    explicit PcmFeed(size_t capacity) : m_capacity(capacity) {}

    void push(const int16_t *samples, size_t count)
    {
        std::lock_guard lock(m_mutex);
        const auto *bytes = reinterpret_cast<const char *>(samples);
        m_data.insert(m_data.end(), bytes, bytes + count * 2);
        if (m_data.size() > m_capacity) // keep the newest: bounded latency
            m_data.erase(m_data.begin(), m_data.begin() + static_cast<ptrdiff_t>(m_data.size() - m_capacity));
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        std::lock_guard lock(m_mutex);
        const size_t n = std::min(m_data.size(), static_cast<size_t>(maxSize));
        std::copy(m_data.begin(), m_data.begin() + static_cast<ptrdiff_t>(n), data);
        m_data.erase(m_data.begin(), m_data.begin() + static_cast<ptrdiff_t>(n));
        std::memset(data + n, 0, static_cast<size_t>(maxSize) - n);
        return maxSize;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::mutex m_mutex;
    std::deque<char> m_data;
    size_t m_capacity;
};

// Qt Multimedia output on a thread of its own. The device is opened lazily
// with the format of the first samples and reopened when the format changes.
class QtAudioOutput final : public AudioSink
{
public:
    QtAudioOutput()
    {
        m_thread.setObjectName(QStringLiteral("varno-audio"));
        // Runs on the new thread before its event loop: a stack overflow
        // there is reported like one on the main thread.
        QObject::connect(&m_thread, &QThread::started, [] { InstallCrashHandlerOnThread(); });
    }
    ~QtAudioOutput() override
    {
        if (m_context)
            QMetaObject::invokeMethod(m_context, [this] { closeDevice(); delete m_context; m_context = nullptr; },
                                      Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    Q_DISABLE_COPY_MOVE(QtAudioOutput)

    void write(const int16_t *samples, size_t frames, int sampleRate, int channels) override
    {
        if (m_off.load() || !samples || frames == 0 || sampleRate <= 0 || channels <= 0)
            return;
        std::lock_guard lock(m_mutex);
        if (!m_context) {
            m_thread.start(); // the thread exists only once audio is played
            m_context = new QObject;
            m_context->moveToThread(&m_thread);
        }
        if (sampleRate != m_rate || channels != m_channels) {
            m_rate = sampleRate;
            m_channels = channels;
            QMetaObject::invokeMethod(m_context, [this, sampleRate, channels] { openDevice(sampleRate, channels); },
                                      Qt::QueuedConnection);
        }
        std::shared_ptr<PcmFeed> feed = m_feedForWriters;
        if (feed)
            feed->push(samples, frames * static_cast<size_t>(channels));
    }

private:
    // Audio thread.
    void openDevice(int rate, int channels)
    {
        closeDevice();
        if (!QCoreApplication::instance()) {
            turnOff("no application object");
            return;
        }
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            turnOff("no audio device");
            return;
        }
        QAudioFormat format;
        format.setSampleRate(rate);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format)) {
            WriteLog(3, "%s(%d):Audio format %d Hz x %d not supported!!!", "QtAudioOutput::openDevice",
                     __LINE__, rate, channels);
            return;
        }
        auto feed = std::make_shared<PcmFeed>(static_cast<size_t>(rate) * channels * 2 / 2); // 500 ms
        feed->open(QIODevice::ReadOnly);
        m_sink = new QAudioSink(device, format, m_context);
        m_sink->start(feed.get());
        m_feed = feed;
        std::lock_guard lock(m_mutex);
        m_feedForWriters = feed;
    }

    void closeDevice()
    {
        {
            std::lock_guard lock(m_mutex);
            m_feedForWriters.reset();
        }
        if (m_sink) {
            m_sink->stop();
            delete m_sink;
            m_sink = nullptr;
        }
        m_feed.reset();
    }

    void turnOff(const char *why)
    {
        if (!m_off.exchange(true))
            WriteLog(4, "[VIDEO]Audio output off: %s!!!", why);
    }

    QThread m_thread;
    std::mutex m_mutex; // guards m_context, m_rate, m_channels, m_feedForWriters
    QObject *m_context = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    std::shared_ptr<PcmFeed> m_feedForWriters;
    std::atomic<bool> m_off{false};
    // Audio thread only.
    QAudioSink *m_sink = nullptr;
    std::shared_ptr<PcmFeed> m_feed;
};

} // namespace

std::shared_ptr<AudioSink> createAudioOutput()
{
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_override)
            return g_override;
    }
    return std::make_shared<QtAudioOutput>();
}

void setAudioSinkOverride(std::shared_ptr<AudioSink> sink)
{
    std::lock_guard lock(g_overrideMutex);
    g_override = std::move(sink);
}

} // namespace varno::av
