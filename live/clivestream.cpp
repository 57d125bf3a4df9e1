#include "live/clivestream.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "platform/av/videosink.h"
#include "platform/av/yuvrgb.h"

#include <chrono>
#include <cstring>
#include <new>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A folder-safe form of a device ID: path separators and control
// characters become '_'.
QString fileSafe(QString id)
{
    for (QChar &c : id)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    if (id == QLatin1String(".") || id == QLatin1String(".."))
        id = QStringLiteral("_");
    return id;
}

// A frame the stream can start again with after frames were dropped: one a
// decoder can begin with (parameter sets or a key slice) that does not
// continue a picture, as the second slice of a key picture whose first was
// dropped does when slices come one per frame.
bool startsAgainHere(varno::recfile::VideoCodec codec, const uint8_t *data, size_t size)
{
    if (!varno::recfile::startsDecodable(codec, data, size))
        return false;
    bool continues = false;
    varno::recfile::forEachNalUnit(data, size, [&](const varno::recfile::NalUnit &nal) {
        if (!varno::recfile::isSlice(codec, nal))
            return true;
        continues = !varno::recfile::isFirstSliceOfPicture(codec, nal);
        return false;
    });
    return !continues;
}

} // namespace

CLiveStream::CLiveStream(int32_t window, int decoderType, const int audioParams[4])
    : m_decoderType(decoderType), m_winHandle(window)
{
    if (audioParams) {
        m_audioParams.audioCode = static_cast<uint32_t>(audioParams[0]);
        m_audioParams.channels = static_cast<uint32_t>(audioParams[1]);
        m_audioParams.bitsPerSample = static_cast<uint32_t>(audioParams[2]);
        m_audioParams.sampleRate = static_cast<uint32_t>(audioParams[3]);
    }
    try {
        m_thread = std::thread(&CLiveStream::StreamDecodeThread, this);
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "CLiveStream::CLiveStream", __LINE__);
    }
}

CLiveStream::~CLiveStream()
{
    m_stopping = true;
    m_paused = false;
    m_queueSignal.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    ClearQueue();
    m_display.Release();
}

void CLiveStream::SetFailCallback(LiveStreamFailCallback callback, void *user)
{
    std::lock_guard lock(m_callbackLock);
    m_failCallback = callback;
    m_failUser = user;
}

void CLiveStream::SetFirstPictureHook(FirstPictureHook hook)
{
    std::lock_guard lock(m_callbackLock);
    m_firstPictureHook = std::move(hook);
}

void CLiveStream::SetDisplayOff()
{
    std::lock_guard lock(m_showLock);
    m_displayOff = true;
}

void CLiveStream::SetVideoCodec(int decoderType)
{
    if (decoderType == AV_VIDEO_H264 || decoderType == AV_VIDEO_H265)
        m_decoderType.store(decoderType);
}

varno::recfile::VideoCodec CLiveStream::codec() const
{
    return m_decoderType == AV_VIDEO_H265 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;
}

void CLiveStream::SetCurrentFrame(const char *data, int size, int type, int info0, int info1)
{
    if (m_stopping.load() || !data || size <= 0)
        return;
    const auto *bytes = reinterpret_cast<const uint8_t *>(data);
    const size_t n = static_cast<size_t>(size);
    if (type == 0) {
        // The stall watch counts video frames from the first key picture on
        // (recognised by its NAL type anywhere in the frame); after
        // 2,147,483,647 the count goes on at 1.
        int current = m_frameCounter.load();
        if (current != 0 || varno::recfile::containsKeySlice(codec(), bytes, n))
            m_frameCounter.store(current == INT32_MAX ? 1 : current + 1);
    }

    std::unique_lock lock(m_queueLock);
    if (m_idle.load()) {
        m_resumeAtKey = true;
        m_gap = true;
        return;
    }
    if (m_resumeAtKey) {
        if (type != 0 || !startsAgainHere(codec(), bytes, n))
            return;
        m_resumeAtKey = false;
    }
    const bool full = m_queuedVideo >= kMaxQueuedVideoFrames || m_queuedBytes + n > kMaxQueuedBytes;
    if (m_dropping) {
        if (type != 0 || full || !startsAgainHere(codec(), bytes, n)) {
            ++m_droppedThisSpell;
            m_dropped.fetch_add(1);
            return;
        }
        m_dropping = false;
        WriteLog(0, "[PREVIEW]Win(%d) takes frames again from a key frame, %llu dropped!!!", m_winHandle,
                 static_cast<unsigned long long>(m_droppedThisSpell));
        m_droppedThisSpell = 0;
    } else if (full) {
        // The decoder cannot keep up: drop until it can start again cleanly.
        m_dropping = true;
        m_gap = true;
        m_droppedThisSpell = 1;
        m_dropped.fetch_add(1);
        WriteLog(3, "%s(%d):Win(%d) frame queue is full, drop frames until the next key frame!!!",
                 "CLiveStream::SetCurrentFrame", __LINE__, m_winHandle);
        return;
    }
    lock.unlock();

    auto frame = std::make_unique<Frame>();
    frame->block.reset(new (std::nothrow) uint8_t[n + sizeof(LiveFrameHeader)]);
    if (!frame->block) {
        WriteLog(1, "%s(%d):New frame buffer failed!!!", "CLiveStream::SetCurrentFrame", __LINE__);
        return;
    }
    frame->header = LiveFrameHeader{size, info0, type, info1};
    frame->arrivalUs = varno::av::steadyMicros();
    std::memcpy(frame->block.get(), &frame->header, sizeof(LiveFrameHeader));
    std::memcpy(frame->block.get() + sizeof(LiveFrameHeader), data, n);

    lock.lock();
    if (m_stopping.load())
        return;
    frame->afterGap = m_gap;
    m_gap = false;
    m_queuedBytes += n;
    m_queuedVideo += type == 0;
    m_queue.push_back(std::move(frame));
    lock.unlock();
    m_queueSignal.notify_one();
}

void CLiveStream::ClearQueue()
{
    // What comes next is another stream: its pictures show from its first
    // key frame on.
    m_awaitKey = true;
    std::lock_guard lock(m_queueLock);
    m_queue.clear();
    m_queuedVideo = 0;
    m_queuedBytes = 0;
}

size_t CLiveStream::queuedFrames() const
{
    std::lock_guard lock(m_queueLock);
    return m_queue.size();
}

size_t CLiveStream::queuedBytes() const
{
    std::lock_guard lock(m_queueLock);
    return m_queuedBytes;
}

std::unique_ptr<CLiveStream::Frame> CLiveStream::takeFrame(int waitMs)
{
    std::unique_lock lock(m_queueLock);
    if (m_queue.empty() && waitMs > 0)
        m_queueSignal.wait_for(lock, std::chrono::milliseconds(waitMs),
                               [this] { return !m_queue.empty() || m_stopping.load(); });
    if (m_queue.empty())
        return nullptr;
    std::unique_ptr<Frame> f = std::move(m_queue.front());
    m_queue.pop_front();
    m_queuedBytes -= static_cast<size_t>(f->header.size);
    m_queuedVideo -= f->header.type == 0;
    return f;
}

void CLiveStream::restWhileIdle()
{
    std::unique_lock lock(m_queueLock);
    if (!m_queue.empty()) {
        // Frames of before the rest: decoding them would be wasted, and
        // the stream starts again at a key frame.
        m_queue.clear();
        m_queuedVideo = 0;
        m_queuedBytes = 0;
        m_resumeAtKey = true;
        m_gap = true;
    }
    m_idleSettled = true;
    m_queueSignal.wait_for(lock, std::chrono::milliseconds(20),
                           [this] { return m_stopping.load() || !m_idle.load(); });
}

void CLiveStream::displayFailed()
{
    m_displayFailed = true;
    if (m_failReported)
        return;
    m_failReported = true; // the live view closes the window on the first report
    LiveStreamFailCallback callback;
    void *user;
    {
        std::lock_guard lock(m_callbackLock);
        callback = m_failCallback;
        user = m_failUser;
    }
    if (callback)
        callback(kDisplayFailed, this, user);
}

void CLiveStream::showPicture(const varno::av::DecodedPicture &picture)
{
    const int width = picture.width;
    const int height = picture.height;
    if (m_winHandle == 0 || m_displayFailed || m_displayOff.load())
        return;
    if (!m_firstShown) {
        m_firstShown = true;
        FirstPictureHook hook;
        {
            std::lock_guard lock(m_callbackLock);
            hook = std::move(m_firstPictureHook);
            m_firstPictureHook = nullptr;
        }
        if (hook)
            hook(this);
    }
    std::unique_lock show(m_showLock);
    if (m_displayOff.load())
        return;
    if (!m_displayInitialised) {
        m_displayInitialised = true;
        if (m_display.InitDDraw(m_winHandle, width, height) != 0) {
            show.unlock();
            WriteLog(2, "%s(%d):Init DDraw failed!!!", "CLiveStream::StreamDecodeThread", __LINE__);
            displayFailed();
            return;
        }
    }
    if (m_display.PlayPicture(picture) != 0) {
        show.unlock();
        WriteLog(2, "%s(%d):Play Yuv420(%d,%d) failed!!!", "CLiveStream::StreamDecodeThread", __LINE__,
                 width, height);
        displayFailed();
    }
}

void CLiveStream::StreamDecodeThread()
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[PREVIEW]Start win(%d) decode thread!!!", m_winHandle);
    int decoderType = m_decoderType.load();
    if (AV_CreateDecoder(m_winHandle, decoderType, &m_audioParams, &m_decoder) == 0) {
        WriteLog(2, "%s(%d):Create decoder failed!!!", "CLiveStream::StreamDecodeThread", __LINE__);
        return;
    }
    std::vector<uint8_t> audioBlock;
    while (!m_stopping.load()) {
        if (m_idle.load()) {
            restWhileIdle();
            continue;
        }
        m_idleSettled = false;
        std::unique_ptr<Frame> frame = takeFrame(20);
        if (!frame) {
            // Stalled stream: keep the last picture on screen (at most every 40 ms).
            if (m_stalled.load() && m_winHandle != 0 && nowMs() - m_lastRedrawMs >= 40) {
                m_lastRedrawMs = nowMs();
                varno::av::DecodedPicture p;
                {
                    QMutexLocker lock(&m_pictureLock);
                    p = m_lastPicture;
                }
                if (!p.isNull())
                    showPicture(p);
            }
            if (m_displayFailed)
                displayFailed();
            continue;
        }
        const int size = frame->header.size;
        if (frame->header.type == 1) {
            if (m_soundOn.load() && !m_paused.load() && !m_audioOff) {
                // {0, 1, size / 2, 0}, the data and a terminating 0.
                audioBlock.assign(static_cast<size_t>(size) + 5, 0);
                audioBlock[1] = 1;
                audioBlock[2] = static_cast<uint8_t>(size / 2);
                std::memcpy(audioBlock.data() + 4, frame->data(), static_cast<size_t>(size));
                AV_FRAME_OUT_S out{};
                if (AV_FrameDecoderStream(m_decoder, audioBlock.data(), size + 4, AV_FRAME_AUDIO,
                                          &m_audioParams, 0, &out)
                    == AV_ERR_AUDIO) {
                    // Audio that cannot be decoded turns the sound of this
                    // window off; the pictures go on.
                    m_audioOff = true;
                    WriteLog(2, "%s(%d):Audio of win(%d) cannot be decoded, sound off!!!",
                             "CLiveStream::StreamDecodeThread", __LINE__, m_winHandle);
                }
            }
            continue;
        }
        if (frame->header.type != 0)
            continue;
        // The stream is of the other codec, or frames were dropped: the
        // picture the decoder was putting together may lack its last slices,
        // and the stream starts again at a key picture. A new decoder holds
        // nothing of before.
        if (m_decoderType.load() != decoderType || frame->afterGap) {
            decoderType = m_decoderType.load();
            AV_HANDLE next = nullptr;
            if (AV_CreateDecoder(m_winHandle, decoderType, &m_audioParams, &next) == 0) {
                WriteLog(2, "%s(%d):Create decoder failed!!!", "CLiveStream::StreamDecodeThread", __LINE__);
            } else {
                AV_CloseDecoderStream(m_decoder);
                m_decoder = next;
                m_keySeen = false;
            }
        }
        // Pictures decoded before the stream's first key picture lack their
        // references (smeared): they are decoded, never shown. Parameter sets
        // and other frames before it still reach the decoder.
        if (m_awaitKey.exchange(false))
            m_keySeen = false;
        if (!m_keySeen && varno::recfile::containsKeySlice(codec(), frame->data(), static_cast<size_t>(size)))
            m_keySeen = true;
        // Pictures come by reference: the one kept for snapshots and
        // redisplay is the decoder's own, not a copy.
        varno::av::DecodedPicture out;
        int r = varno::av::decodeStreamPicture(m_decoder, frame->data(), size, &out);
        if (r == AV_ERR_NEED_DATA)
            continue;
        while (r != AV_ERR_FAILED && r != AV_ERR_NEED_DATA && !m_stopping.load()) {
            if (r == AV_OK && !out.isNull() && !m_keySeen) {
                m_skippedPictures.fetch_add(1);
            } else if (r == AV_OK && !out.isNull()) {
                {
                    QMutexLocker lock(&m_pictureLock);
                    m_lastPicture = out;
                }
                m_decodedPictures.fetch_add(1);
                varno::av::setPresentStamp(frame->arrivalUs);
                showPicture(out);
                varno::av::setPresentStamp(0);
            }
            out = varno::av::DecodedPicture();
            varno::av::decodeStreamPicture(m_decoder, frame->data(), size, &out);
            r = varno::av::decodeStreamPicture(m_decoder, nullptr, 0, &out);
        }
    }
    AV_CloseDecoderStream(m_decoder);
    m_decoder = nullptr;
    m_display.Release();
    WriteLog(0, "[PREVIEW]Stop win(%d) decode thread!!!", m_winHandle);
}

bool CLiveStream::hasPicture() const
{
    QMutexLocker lock(&m_pictureLock);
    return !m_lastPicture.isNull();
}

int CLiveStream::CapturePicture(const QString &folder, const QString &deviceIdIn, int channel, int waitMs)
{
    const QByteArray idText = deviceIdIn.toUtf8();
    WriteLog(0, "[PREVIEW]Request device(%s) snap!!!", idText.constData());
    if (folder.isEmpty()) {
        WriteLog(2, "%s(%d):file name is empty!!!", "CLiveStream::CapturePicture", __LINE__);
        return -1;
    }
    QDir().mkpath(folder);

    QString deviceId = deviceIdIn;
    if (deviceId.startsWith(QLatin1String("urn:uuid:")))
        deviceId = deviceId.mid(9);
    else if (deviceId.startsWith(QLatin1String("urn:")))
        deviceId = deviceId.mid(4);
    const QString fileName = folder + QLatin1Char('/') + fileSafe(deviceId) + QLatin1Char('-')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")) + QLatin1Char('-')
        + QString::number(channel) + QStringLiteral(".bmp");
    const QByteArray fileText = fileName.toUtf8();

    // Wait up to waitMs for a picture.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (hasPicture())
            break;
        if (waited.elapsed() >= waitMs)
            break;
        QThread::msleep(5);
    }

    int ret = -1;
    {
        QMutexLocker lock(&m_pictureLock);
        const varno::av::DecodedPicture &p = m_lastPicture;
        if (!p.isNull()) {
            std::vector<uint8_t> rgb;
            try {
                rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
            } catch (const std::bad_alloc &) {
                rgb.clear();
            }
            if (!m_tables)
                m_tables = std::make_unique<varno::av::YuvToBgrTables>();
            if (!rgb.empty()
                && m_tables->convertBottomUp(p.y, p.yStride, p.u, p.uStride, p.v, p.vStride, p.width,
                                             p.height, rgb.data())) {
                WriteLog(0, "[PREVIEW]Request snap file(%s)!!!", fileText.constData());
                ret = SaveBitmapFile(24, p.width, p.height, rgb.data(), fileName);
            }
        }
    }

    const QString title = QCoreApplication::translate("CLiveStream", "Capture");
    if (ret == 0) {
        m_lastSnapshotFile = fileName;
        WriteLog(0, "[PREVIEW]Snap file(%s) success!!!", fileText.constData());
        if (m_snapshotHook)
            m_snapshotHook(title, QCoreApplication::translate("CLiveStream", "Snapshot OK.It is saved to:") + fileName);
    } else {
        WriteLog(2, "%s(%d):Snap file(%s) failed, ret(%d)!!!", "CLiveStream::CapturePicture", __LINE__,
                 fileText.constData(), ret);
        if (m_snapshotHook)
            m_snapshotHook(title, QCoreApplication::translate("CLiveStream", "Failed to save image!"));
    }
    WriteLog(0, "[PREVIEW]Device(%s) snap finished!!!", idText.constData());
    return ret;
}

int CLiveStream::SaveBitmapFile(int bits, int width, int height, const uint8_t *data, const QString &fileName)
{
    if (bits != 24 || !data || width <= 0 || height <= 0)
        return -1;
    const QByteArray path = QFile::encodeName(fileName);
    varno::av::BmpStage stage = varno::av::BmpStage::None;
    if (varno::av::writeBmp24(path.constData(), width, height, data, &stage) == 0)
        return 0;
    const int err = errno;
    switch (stage) {
    case varno::av::BmpStage::Create:
        WriteLog(2, "%s(%d):Create file(%s) failed, errno(%d)!!!", "CLiveStream::SaveBitmapFile", __LINE__,
                 path.constData(), err);
        break;
    case varno::av::BmpStage::Head:
        WriteLog(2, "%s(%d):Write head failed, errno(%d)!!!", "CLiveStream::SaveBitmapFile", __LINE__, err);
        break;
    case varno::av::BmpStage::Info:
        WriteLog(2, "%s(%d):Write info failed, errno(%d)!!!", "CLiveStream::SaveBitmapFile", __LINE__, err);
        break;
    default:
        WriteLog(2, "%s(%d):Write data failed, errno(%d)!!!", "CLiveStream::SaveBitmapFile", __LINE__, err);
        break;
    }
    return -1;
}
