#include "platform/rtsp/rtsp_client.h"
#include "platform/rtsp/nalassembler.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/textfield.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<int32_t> g_connectMs{5000};
std::atomic<int32_t> g_readMs{5000};

struct Stream
{
    int32_t handle = 0;
    std::string url;
    RTSP_FRAME_CB callback = nullptr;
    void *user = nullptr;

    std::mutex descrMutex;
    RTSP_STREAM_DESCR_S descr{};

    AVFormatContext *fmt = nullptr;
    int videoIndex = -1;
    int audioIndex = -1;

    std::thread reader;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> deadline{0}; // ms on the steady clock; 0 = none
    std::atomic<int32_t> status{RTSP_STATUS_OK};
    bool started = false;

    // Reader thread only.
    bool headersSent = false;
    int64_t firstPts = AV_NOPTS_VALUE;
    int64_t startMs = 0;
    std::vector<uint8_t> unit;
    std::unique_ptr<varno::rtsp::NalAssembler> assembler; // video units from the packets
    std::vector<uint8_t> adtsConfig; // object type, rate index, channels (AAC)
    struct Clock
    {
        bool started = false;
        int64_t last = 0;
        int64_t offset = 0;
        int64_t delta = 0;
    } clocks[2]; // video, audio

    ~Stream()
    {
        if (reader.joinable()) { // never left running (process end with a stream open)
            stop = true;
            reader.join();
        }
        if (fmt)
            avformat_close_input(&fmt);
    }
};

std::mutex g_mutex; // guards g_streams and g_next
std::map<int32_t, std::shared_ptr<Stream>> g_streams;
int32_t g_next = 1;

std::shared_ptr<Stream> find(int32_t handle)
{
    std::lock_guard lock(g_mutex);
    auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second;
}

int interruptCallback(void *opaque)
{
    auto *s = static_cast<Stream *>(opaque);
    if (s->stop.load())
        return 1;
    const int64_t d = s->deadline.load();
    return d != 0 && nowMs() > d ? 1 : 0;
}

int audioCodeOf(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_AAC:
        return 100;
    case AV_CODEC_ID_PCM_MULAW:
        return 101;
    case AV_CODEC_ID_PCM_ALAW:
        return 102;
    case AV_CODEC_ID_PCM_S16LE:
        return 103;
    default:
        return 0;
    }
}

void deliver(Stream *s, int32_t type, int32_t nalType, int32_t stamp, const uint8_t *data, size_t size)
{
    if (size == 0 || size > INT32_MAX || s->stop.load())
        return;
    RTSP_STREAM_DESCR_S descr;
    {
        std::lock_guard lock(s->descrMutex);
        descr = s->descr;
    }
    const int32_t info[2] = {nalType, stamp};
    s->callback(s->handle, reinterpret_cast<const char *>(&descr), info, type,
                reinterpret_cast<const char *>(data), static_cast<int32_t>(size), s->user);
}

void deliverNal(Stream *s, const uint8_t *nal, size_t n, int32_t stamp, bool h265)
{
    while (n > 0 && nal[n - 1] == 0) // zero bytes before the next start code
        --n;
    if (n == 0)
        return;
    s->unit.assign({0, 0, 0, 1});
    s->unit.insert(s->unit.end(), nal, nal + n);
    const int type = h265 ? (nal[0] >> 1) & 0x3f : nal[0] & 0x1f;
    deliver(s, RTSP_FRAME_VIDEO, type, stamp, s->unit.data(), s->unit.size());
}

// NAL units of a buffer: Annex B (start codes) or length-prefixed (4 bytes).
void deliverUnits(Stream *s, const uint8_t *data, size_t size, int32_t stamp, bool h265)
{
    const bool annexB = size >= 3 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || (size >= 4 && data[2] == 0 && data[3] == 1));
    if (annexB) {
        size_t start = SIZE_MAX;
        for (size_t i = 0; i + 2 < size;) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                if (start != SIZE_MAX)
                    deliverNal(s, data + start, i - start, stamp, h265);
                i += 3;
                start = i;
            } else {
                ++i;
            }
        }
        if (start != SIZE_MAX && start < size)
            deliverNal(s, data + start, size - start, stamp, h265);
        return;
    }
    size_t pos = 0;
    while (pos + 4 <= size) {
        const size_t n = (size_t(data[pos]) << 24) | (size_t(data[pos + 1]) << 16) | (size_t(data[pos + 2]) << 8) | data[pos + 3];
        pos += 4;
        if (n > size - pos)
            break; // damaged length: the rest is unusable
        deliverNal(s, data + pos, n, stamp, h265);
        pos += n;
    }
}

// Parameter sets from the session description, before the first picture.
void deliverExtradata(Stream *s, const AVCodecParameters *par, int32_t stamp)
{
    const uint8_t *e = par->extradata;
    const size_t n = static_cast<size_t>(par->extradata_size);
    if (!e || n < 4)
        return;
    const bool h265 = par->codec_id == AV_CODEC_ID_HEVC;
    if (e[0] == 0 && e[1] == 0) {
        deliverUnits(s, e, n, stamp, h265);
        return;
    }
    if (!h265 && e[0] == 1 && n >= 7) { // avcC
        size_t pos = 5;
        for (int list = 0; list < 2 && pos < n; ++list) {
            int count = list == 0 ? e[pos] & 0x1f : e[pos];
            ++pos;
            while (count-- > 0 && pos + 2 <= n) {
                const size_t len = (size_t(e[pos]) << 8) | e[pos + 1];
                pos += 2;
                if (len > n - pos)
                    return;
                deliverNal(s, e + pos, len, stamp, false);
                pos += len;
            }
        }
    } else if (h265 && n >= 23) { // hvcC
        size_t pos = 22;
        int arrays = e[pos++];
        while (arrays-- > 0 && pos + 3 <= n) {
            pos += 1;
            int count = (e[pos] << 8) | e[pos + 1];
            pos += 2;
            while (count-- > 0 && pos + 2 <= n) {
                const size_t len = (size_t(e[pos]) << 8) | e[pos + 1];
                pos += 2;
                if (len > n - pos)
                    return;
                deliverNal(s, e + pos, len, stamp, true);
                pos += len;
            }
        }
    }
}

// Time stamp in µs since the stream started. The demuxer re-bases its clock
// when the first sender report arrives; such a step (backwards, or ahead by
// more than 5 s) is taken out so that the stamps of a stream keep rising
// steadily.
int32_t stampOf(Stream *s, const AVPacket *pkt)
{
    int64_t us;
    if (pkt->pts != AV_NOPTS_VALUE && s->fmt->streams[pkt->stream_index]) {
        const AVRational tb = s->fmt->streams[pkt->stream_index]->time_base;
        if (s->firstPts == AV_NOPTS_VALUE)
            s->firstPts = av_rescale_q(pkt->pts, tb, AVRational{1, 1000000});
        us = av_rescale_q(pkt->pts, tb, AVRational{1, 1000000}) - s->firstPts;
    } else {
        us = (nowMs() - s->startMs) * 1000;
    }
    Stream::Clock &c = s->clocks[pkt->stream_index == s->videoIndex ? 0 : 1];
    int64_t stamp = us + c.offset;
    if (c.started && stamp != c.last && (stamp < c.last || stamp > c.last + 5000000)) {
        const int64_t step = c.delta > 0 && c.delta < 1000000 ? c.delta : 40000;
        c.offset += c.last + step - stamp;
        stamp = c.last + step;
    }
    if (c.started && stamp > c.last)
        c.delta = stamp - c.last;
    c.started = true;
    c.last = stamp;
    return static_cast<int32_t>(static_cast<uint32_t>(stamp));
}

void deliverAudio(Stream *s, const AVPacket *pkt, int32_t stamp)
{
    const AVCodecParameters *par = s->fmt->streams[s->audioIndex]->codecpar;
    if (par->codec_id != AV_CODEC_ID_AAC || (pkt->size >= 2 && pkt->data[0] == 0xFF && (pkt->data[1] & 0xF0) == 0xF0)) {
        deliver(s, RTSP_FRAME_AUDIO, 0, stamp, pkt->data, static_cast<size_t>(pkt->size));
        return;
    }
    // Raw AAC from the session: put an ADTS header in front (decoder code 100).
    if (s->adtsConfig.empty()) {
        if (!par->extradata || par->extradata_size < 2)
            return;
        const uint8_t *c = par->extradata;
        const int objectType = c[0] >> 3;
        const int rateIndex = ((c[0] & 7) << 1) | (c[1] >> 7);
        const int channels = (c[1] >> 3) & 0xF;
        s->adtsConfig = {static_cast<uint8_t>(objectType), static_cast<uint8_t>(rateIndex), static_cast<uint8_t>(channels)};
    }
    const size_t len = static_cast<size_t>(pkt->size) + 7;
    if (len > 0x1FFF)
        return;
    const int profile = std::max(0, s->adtsConfig[0] - 1) & 3;
    s->unit = {0xFF, 0xF1,
               static_cast<uint8_t>((profile << 6) | (s->adtsConfig[1] << 2) | ((s->adtsConfig[2] >> 2) & 1)),
               static_cast<uint8_t>(((s->adtsConfig[2] & 3) << 6) | ((len >> 11) & 3)),
               static_cast<uint8_t>((len >> 3) & 0xFF), static_cast<uint8_t>(((len & 7) << 5) | 0x1F), 0xFC};
    s->unit.insert(s->unit.end(), pkt->data, pkt->data + pkt->size);
    deliver(s, RTSP_FRAME_AUDIO, 0, stamp, s->unit.data(), s->unit.size());
}

void readerThread(Stream *s)
{
    InstallCrashHandlerOnThread();
    AVPacket *pkt = av_packet_alloc();
    s->startMs = nowMs();
    while (pkt && !s->stop.load()) {
        s->deadline = nowMs() + g_readMs.load();
        const int r = av_read_frame(s->fmt, pkt);
        if (r < 0) {
            if (!s->stop.load()) {
                s->status = RTSP_STATUS_BROKEN;
                char text[AV_ERROR_MAX_STRING_SIZE] = {};
                av_strerror(r, text, sizeof text);
                WriteLog(2, "%s(%d):Stream(%d) broken: %s!!!", "RTSP_ReadThread", __LINE__, s->handle, text);
            }
            break;
        }
        const int32_t stamp = stampOf(s, pkt);
        if (pkt->stream_index == s->videoIndex) {
            const AVCodecParameters *par = s->fmt->streams[s->videoIndex]->codecpar;
            if (!s->headersSent) {
                s->headersSent = true;
                deliverExtradata(s, par, stamp);
            }
            const bool fellBack = s->assembler->fellBack();
            s->assembler->push(pkt->data, static_cast<size_t>(pkt->size), stamp);
            if (!fellBack && s->assembler->fellBack())
                WriteLog(3, "%s(%d):Stream(%d) continued a unit taken as whole, units now wait for the next packet!!!",
                         "RTSP_ReadThread", __LINE__, s->handle);
        } else if (pkt->stream_index == s->audioIndex) {
            deliverAudio(s, pkt, stamp);
        }
        av_packet_unref(pkt);
    }
    s->deadline = 0;
    av_packet_free(&pkt);
    if (s->assembler) {
        const auto &c = s->assembler->counters();
        WriteLog(4, "%s(%d):Stream(%d) ended: %llu video units, %llu of them on their last packet, %llu packets dropped!!!",
                 "RTSP_ReadThread", __LINE__, s->handle, static_cast<unsigned long long>(c.units),
                 static_cast<unsigned long long>(c.onLastPacket), static_cast<unsigned long long>(c.dropped));
    }
}

void stopReader(Stream *s)
{
    if (!s->reader.joinable())
        return;
    s->stop = true; // the interrupt callback ends any wait at once
    s->reader.join();
}

} // namespace

extern "C" {

int RTSP_Stream_SDKInit(void)
{
    static std::once_flag once;
    std::call_once(once, [] {
        avformat_network_init();
        av_log_set_level(AV_LOG_FATAL);
    });
    return 0;
}

int RTSP_SetSteamTimeouts(int32_t connectMs, int32_t readMs)
{
    if (connectMs < 100 || readMs < 100)
        return RTSP_ERR_PARAM;
    g_connectMs = connectMs;
    g_readMs = readMs;
    return 0;
}

int RTSP_OpenLiveSteam(const char *url, RTSP_FRAME_CB callback, void *user, int32_t *handle)
{
    if (!url || !*url || !callback || !handle)
        return RTSP_ERR_PARAM;
    *handle = 0;
    RTSP_Stream_SDKInit();
    auto s = std::make_shared<Stream>();
    s->url = url;
    s->callback = callback;
    s->user = user;
    s->fmt = avformat_alloc_context();
    if (!s->fmt)
        return RTSP_ERR_NO_MEMORY;
    s->fmt->interrupt_callback.callback = interruptCallback;
    s->fmt->interrupt_callback.opaque = s.get();
    // No parser: it holds each picture until the next one begins. The
    // depacketiser's packets are put together into units here (NalAssembler).
    s->fmt->flags |= AVFMT_FLAG_NOBUFFER | AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;

    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    av_dict_set(&opts, "initial_pause", "1", 0); // PLAY comes with RTSP_StartLiveSteam
    av_dict_set(&opts, "reorder_queue_size", "0", 0);
    av_dict_set(&opts, "max_delay", "0", 0);
    av_dict_set_int(&opts, "timeout", int64_t(g_readMs.load()) * 1000, 0); // socket I/O, µs
    s->deadline = nowMs() + g_connectMs.load();
    const int64_t t0 = nowMs();
    int r = avformat_open_input(&s->fmt, url, nullptr, &opts);
    av_dict_free(&opts);
    s->deadline = 0;
    if (r < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(r, text, sizeof text);
        WriteLog(2, "%s(%d):Open(%s) failed after %lld ms: %s!!!", "RTSP_OpenLiveSteam", __LINE__, url,
                 static_cast<long long>(nowMs() - t0), text);
        return RTSP_ERR_CONNECT; // avformat_open_input freed the context
    }
    for (unsigned i = 0; i < s->fmt->nb_streams; ++i) {
        const AVCodecParameters *par = s->fmt->streams[i]->codecpar;
        if (s->videoIndex < 0 && (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC)) {
            s->videoIndex = static_cast<int>(i);
            s->descr.videoCodec = par->codec_id == AV_CODEC_ID_H264 ? 1 : 2;
            s->descr.width = par->width;
            s->descr.height = par->height;
        } else if (s->audioIndex < 0 && audioCodeOf(par->codec_id) != 0) {
            s->audioIndex = static_cast<int>(i);
            s->descr.audioCodec = audioCodeOf(par->codec_id);
            s->descr.sampleRate = par->sample_rate;
            s->descr.channels = par->ch_layout.nb_channels;
        }
    }
    for (unsigned i = 0; i < s->fmt->nb_streams; ++i)
        if (static_cast<int>(i) != s->videoIndex && static_cast<int>(i) != s->audioIndex)
            s->fmt->streams[i]->discard = AVDISCARD_ALL;
    if (s->videoIndex >= 0) {
        const bool h265 = s->descr.videoCodec == 2;
        Stream *raw = s.get();
        s->assembler = std::make_unique<varno::rtsp::NalAssembler>(
            h265 ? varno::rtsp::NalAssembler::Codec::H265 : varno::rtsp::NalAssembler::Codec::H264,
            [raw, h265](const uint8_t *nal, size_t n, int32_t stamp) { deliverNal(raw, nal, n, stamp, h265); });
    }
    if (s->videoIndex < 0 && s->audioIndex < 0) {
        WriteLog(2, "%s(%d):Url(%s) has no H.264/H.265 or audio stream!!!", "RTSP_OpenLiveSteam", __LINE__, url);
        return RTSP_ERR_NO_STREAM;
    }
    std::lock_guard lock(g_mutex);
    if (g_next == INT32_MAX)
        return RTSP_ERR_STATE;
    s->handle = g_next++;
    g_streams.emplace(s->handle, s);
    *handle = s->handle;
    return 0;
}

int RTSP_SetSteamDeviceId(int32_t handle, const char *deviceId)
{
    const std::shared_ptr<Stream> s = find(handle);
    if (!s || !deviceId)
        return RTSP_ERR_PARAM;
    std::lock_guard lock(s->descrMutex);
    varno::setText(s->descr.deviceId, deviceId);
    return 0;
}

int RTSP_StartLiveSteam(int32_t handle)
{
    const std::shared_ptr<Stream> s = find(handle);
    if (!s)
        return RTSP_ERR_PARAM;
    if (s->started || !s->fmt)
        return RTSP_ERR_STATE;
    s->deadline = nowMs() + g_connectMs.load();
    const int r = av_read_play(s->fmt);
    s->deadline = 0;
    if (r < 0) {
        s->status = RTSP_STATUS_BROKEN;
        WriteLog(2, "%s(%d):Play stream(%d) failed, ret(%d)!!!", "RTSP_StartLiveSteam", __LINE__, handle, r);
        return RTSP_ERR_PLAY;
    }
    s->started = true;
    s->stop = false;
    try {
        s->reader = std::thread(readerThread, s.get());
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "RTSP_StartLiveSteam", __LINE__);
        s->started = false;
        return RTSP_ERR_THREAD;
    }
    return 0;
}

int RTSP_StopLiveSteam(int32_t handle)
{
    const std::shared_ptr<Stream> s = find(handle);
    if (!s)
        return RTSP_ERR_PARAM;
    stopReader(s.get());
    return 0;
}

int RTSP_CloseLiveSteam(int32_t handle, RTSP_FRAME_CB)
{
    std::shared_ptr<Stream> s;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_streams.find(handle);
        if (it == g_streams.end())
            return RTSP_ERR_PARAM;
        s = std::move(it->second);
        g_streams.erase(it);
    }
    stopReader(s.get());
    // TEARDOWN gets half a second; a dead server does not hold us longer.
    s->stop = false;
    s->deadline = nowMs() + 500;
    if (s->fmt)
        avformat_close_input(&s->fmt);
    return 0;
}

int RTSP_GetSteamStatus(int32_t handle, int32_t *status, int32_t)
{
    const std::shared_ptr<Stream> s = find(handle);
    if (!s || !status)
        return RTSP_ERR_PARAM;
    *status = s->status.load();
    return 0;
}

} // extern "C"
