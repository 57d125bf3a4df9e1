#include "platform/av/av_decoder.h"

#include "common/logfile.h"
#include "platform/av/audioout.h"
#include "platform/av/decodedpicture.h"
#include "platform/av/videosink.h"
#include "platform/av/yuvrgb.h"

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

using varno::av::AudioSink;
using varno::av::YuvToBgrTables;

void quietLibraryLog()
{
    // Corrupt camera data makes libavcodec report every broken slice; our own
    // results and log lines say what matters.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

const YuvToBgrTables &tables()
{
    static const YuvToBgrTables t;
    return t;
}

bool isYuv420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Positions of the NAL units of an Annex B buffer (after their start codes).
template <typename F>
void forEachNal(const uint8_t *data, size_t size, F &&f)
{
    size_t i = 0;
    size_t start = SIZE_MAX;
    auto deliver = [&](size_t from, size_t to) {
        while (to > from && data[to - 1] == 0) // zero bytes before the next start code
            --to;
        if (to > from)
            f(data + from, to - from);
    };
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX)
                deliver(start, i);
            i += 3;
            start = i;
            continue;
        }
        ++i;
    }
    if (start != SIZE_MAX && start < size)
        deliver(start, size);
}

// Audio decoding for one decoder: the codes of av_decoder.h.
class AudioDecoder
{
public:
    AudioDecoder() = default;
    ~AudioDecoder()
    {
        av_parser_close(m_parser);
        avcodec_free_context(&m_ctx);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        swr_free(&m_swr);
    }
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    // 0 played, -2 more data needed, -1 bad frame, -3 not decodable.
    int decode(const AV_DECODER_PARAM_S &p, const uint8_t *data, int size)
    {
        if (m_failed)
            return AV_ERR_AUDIO;
        if (!m_opened && !open(p)) {
            m_failed = true;
            WriteLog(2, "%s(%d):Audio decoder(%u) open failed!!!", "AV_FrameDecoderStream", __LINE__,
                     p.audioCode);
            return AV_ERR_AUDIO;
        }
        if (!data || size <= 0)
            return AV_ERR_FAILED;
        if (m_code != AV_AUDIO_PCM16 && size >= 4 && data[0] == 0 && data[1] == 1 && data[3] == 0
            && data[2] == static_cast<uint8_t>((size - 4) / 2)) {
            data += 4; // the {0, 1, n / 2, 0} block header of the callers
            size -= 4;
        }
        if (size <= 0)
            return AV_ERR_FAILED;
        if (!m_out)
            m_out = varno::av::createAudioOutput();

        if (m_code == AV_AUDIO_PCM16) {
            const size_t samples = static_cast<size_t>(size) / 2;
            const size_t frames = samples / static_cast<size_t>(m_channels);
            if (frames == 0)
                return AV_ERR_FAILED;
            m_pcm.resize(samples);
            std::memcpy(m_pcm.data(), data, samples * 2);
            m_out->write(m_pcm.data(), frames, m_rate, m_channels);
            return AV_OK;
        }

        bool played = false;
        bool bad = false;
        if (m_parser) {
            while (size > 0) {
                uint8_t *out = nullptr;
                int outSize = 0;
                const int used = av_parser_parse2(m_parser, m_ctx, &out, &outSize, data, size,
                                                  AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                if (used < 0)
                    return AV_ERR_FAILED;
                data += used;
                size -= used;
                if (outSize > 0) {
                    const int r = sendAndPlay(out, outSize);
                    played |= r == AV_OK;
                    bad |= r == AV_ERR_FAILED;
                }
                if (used == 0 && outSize == 0)
                    break;
            }
            // A complete ADTS frame waits in the parser until the next one
            // starts; push it out now so that audio is not one frame late.
            uint8_t *out = nullptr;
            int outSize = 0;
            av_parser_parse2(m_parser, m_ctx, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE,
                             AV_NOPTS_VALUE, 0);
            if (outSize > 0) {
                const int r = sendAndPlay(out, outSize);
                played |= r == AV_OK;
                bad |= r == AV_ERR_FAILED;
            }
        } else {
            const int r = sendAndPlay(data, size);
            played = r == AV_OK;
            bad = r == AV_ERR_FAILED;
        }
        if (played)
            return AV_OK;
        return bad ? AV_ERR_FAILED : AV_ERR_NEED_DATA;
    }

private:
    bool open(const AV_DECODER_PARAM_S &p)
    {
        m_opened = true;
        m_code = static_cast<int>(p.audioCode);
        m_channels = p.channels >= 1 && p.channels <= 8 ? static_cast<int>(p.channels) : 1;
        m_rate = p.sampleRate >= 1000 && p.sampleRate <= 192000 ? static_cast<int>(p.sampleRate) : 8000;
        AVCodecID id = AV_CODEC_ID_NONE;
        switch (m_code) {
        case AV_AUDIO_PCM16:
            return true;
        case AV_AUDIO_AAC:
            id = AV_CODEC_ID_AAC;
            break;
        case AV_AUDIO_G711U:
            id = AV_CODEC_ID_PCM_MULAW;
            break;
        case AV_AUDIO_G711A:
            id = AV_CODEC_ID_PCM_ALAW;
            break;
        default:
            return false;
        }
        const AVCodec *codec = avcodec_find_decoder(id);
        if (!codec)
            return false;
        m_ctx = avcodec_alloc_context3(codec);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_ctx || !m_frame || !m_packet)
            return false;
        if (id != AV_CODEC_ID_AAC) {
            m_ctx->sample_rate = m_rate;
            av_channel_layout_default(&m_ctx->ch_layout, m_channels);
        }
        if (avcodec_open2(m_ctx, codec, nullptr) < 0)
            return false;
        if (id == AV_CODEC_ID_AAC) {
            m_parser = av_parser_init(AV_CODEC_ID_AAC);
            if (!m_parser)
                return false;
        }
        return true;
    }

    int sendAndPlay(const uint8_t *data, int size)
    {
        m_packet->data = const_cast<uint8_t *>(data);
        m_packet->size = size;
        int r = avcodec_send_packet(m_ctx, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (r < 0 && r != AVERROR(EAGAIN))
            return AV_ERR_FAILED;
        bool played = false;
        while ((r = avcodec_receive_frame(m_ctx, m_frame)) == 0) {
            played |= play(m_frame);
            av_frame_unref(m_frame);
        }
        return played ? AV_OK : (r == AVERROR(EAGAIN) ? AV_ERR_NEED_DATA : AV_ERR_FAILED);
    }

    bool play(AVFrame *f)
    {
        const int channels = f->ch_layout.nb_channels;
        if (channels <= 0 || f->nb_samples <= 0 || f->sample_rate <= 0)
            return false;
        if (f->format == AV_SAMPLE_FMT_S16) {
            m_out->write(reinterpret_cast<const int16_t *>(f->data[0]),
                         static_cast<size_t>(f->nb_samples), f->sample_rate, channels);
            return true;
        }
        if (!m_swr || m_swrFormat != f->format || m_swrRate != f->sample_rate
            || m_swrChannels != channels) {
            swr_free(&m_swr);
            AVChannelLayout layout = f->ch_layout;
            if (swr_alloc_set_opts2(&m_swr, &layout, AV_SAMPLE_FMT_S16, f->sample_rate,
                                    &layout, static_cast<AVSampleFormat>(f->format),
                                    f->sample_rate, 0, nullptr) < 0
                || swr_init(m_swr) < 0) {
                swr_free(&m_swr);
                return false;
            }
            m_swrFormat = f->format;
            m_swrRate = f->sample_rate;
            m_swrChannels = channels;
        }
        m_pcm.resize(static_cast<size_t>(f->nb_samples) * channels);
        uint8_t *out[1] = {reinterpret_cast<uint8_t *>(m_pcm.data())};
        const int n = swr_convert(m_swr, out, f->nb_samples, const_cast<const uint8_t **>(f->extended_data),
                                  f->nb_samples);
        if (n <= 0)
            return false;
        m_out->write(m_pcm.data(), static_cast<size_t>(n), f->sample_rate, channels);
        return true;
    }

    bool m_opened = false;
    bool m_failed = false;
    int m_code = 0;
    int m_channels = 1;
    int m_rate = 8000;
    AVCodecContext *m_ctx = nullptr;
    AVCodecParserContext *m_parser = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    SwrContext *m_swr = nullptr;
    int m_swrFormat = -1;
    int m_swrRate = 0;
    int m_swrChannels = 0;
    std::vector<int16_t> m_pcm;
    std::shared_ptr<AudioSink> m_out;
};

} // namespace

struct AV_Decoder
{
    int32_t window = 0;
    int32_t videoCode = 0;
    AV_DECODER_PARAM_S params{};
    AVCodecContext *video = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int sarNum = 0, sarDen = 0; // pixel shape last told to the window

    // The last frame fed, to recognise the same frame handed in again.
    const uint8_t *lastFedPtr = nullptr;
    std::vector<uint8_t> lastFed;
    bool sendFailed = false;

    // The picture being put together (NAL units with start codes).
    std::vector<uint8_t> pending;
    bool pendingHasVcl = false;
    bool multiSlice = false;
    // Known once a call held more than the first slice of a picture,
    // or the call after one that held only that showed whether the
    // picture's slices come in calls of their own (multiSlice) or not.
    bool layoutKnown = false;
    // H.264 pictures that come one slice per call: the first macroblock of
    // each picture's last slice. Once 3 pictures in a row ended with the same
    // one, a picture is handed over when that slice is in. A slice after it
    // breaks the layout for good.
    int64_t pictureLastMb = -1; // of the picture being fed
    int64_t layoutLastMb = -1;
    int layoutRepeats = 0;
    bool layoutBroken = false;
    bool handedEarly = false; // the picture being fed went at its learned last slice
    // Pictures taken out of the decoder to make room for a packet.
    std::deque<AVFrame *> ready;

    // The latest picture (guarded: AV_CapPicture runs on another thread).
    std::mutex lastMutex;
    AVFrame *last = nullptr;
    std::vector<uint8_t> packed; // packed planes handed out by AV_FrameDecoderStream
    SwsContext *toYuv420 = nullptr;
    int32_t pictures = 0;

    std::unique_ptr<AudioDecoder> audio;

    ~AV_Decoder()
    {
        avcodec_free_context(&video);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&last);
        for (AVFrame *f : ready)
            av_frame_free(&f);
        sws_freeContext(toYuv420);
    }
};

namespace {

// Planar 4:2:0 view of a picture of any decoded format.
struct Planes
{
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    int ys = 0, us = 0, vs = 0;
    int width = 0, height = 0;
};

// Under lastMutex. Pictures that are not 8-bit 4:2:0 (4:2:2 profiles,
// 10-bit H.265) are converted into the packed buffer.
bool planesOf(AV_Decoder *d, const AVFrame *f, Planes &p, bool wantPacked)
{
    p.width = f->width;
    p.height = f->height;
    if (p.width <= 0 || p.height <= 0)
        return false;
    const int cw = p.width / 2;
    const int ch = p.height / 2;
    const size_t ySize = static_cast<size_t>(p.width) * p.height;
    const size_t cSize = static_cast<size_t>(cw) * ch;
    if (isYuv420(f->format)) {
        const bool isPacked = f->linesize[0] == p.width && f->linesize[1] == cw && f->linesize[2] == cw;
        if (!wantPacked || isPacked) {
            p.y = f->data[0];
            p.u = f->data[1];
            p.v = f->data[2];
            p.ys = f->linesize[0];
            p.us = f->linesize[1];
            p.vs = f->linesize[2];
            return true;
        }
        d->packed.resize(ySize + 2 * cSize);
        uint8_t *dst = d->packed.data();
        av_image_copy_plane(dst, p.width, f->data[0], f->linesize[0], p.width, p.height);
        av_image_copy_plane(dst + ySize, cw, f->data[1], f->linesize[1], cw, ch);
        av_image_copy_plane(dst + ySize + cSize, cw, f->data[2], f->linesize[2], cw, ch);
    } else {
        d->toYuv420 = sws_getCachedContext(d->toYuv420, p.width, p.height,
                                           static_cast<AVPixelFormat>(f->format), p.width, p.height,
                                           AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!d->toYuv420)
            return false;
        d->packed.resize(ySize + 2 * cSize + 64);
        uint8_t *dst[4] = {d->packed.data(), d->packed.data() + ySize, d->packed.data() + ySize + cSize, nullptr};
        const int dstStride[4] = {p.width, cw, cw, 0};
        sws_scale(d->toYuv420, f->data, f->linesize, 0, p.height, dst, dstStride);
    }
    p.y = d->packed.data();
    p.u = p.y + ySize;
    p.v = p.u + cSize;
    p.ys = p.width;
    p.us = p.vs = cw;
    return true;
}

// Under lastMutex. The picture f by reference (a new reference to the
// decoder's buffers, which are never written again while referenced), or,
// for pictures that are not 8-bit 4:2:0, converted into planes of its own.
bool pictureOf(AV_Decoder *d, const AVFrame *f, varno::av::DecodedPicture &p)
{
    if (f->width <= 0 || f->height <= 0)
        return false;
    p.width = f->width;
    p.height = f->height;
    p.keyFrame = f->key_frame != 0;
    p.number = d->pictures;
    if (isYuv420(f->format)) {
        // Decoded pictures are read-only: the decoder takes other buffers
        // for the next ones while this reference lives.
        AVFrame *ref = av_frame_clone(f);
        if (!ref)
            return false;
        p.y = ref->data[0];
        p.u = ref->data[1];
        p.v = ref->data[2];
        p.yStride = ref->linesize[0];
        p.uStride = ref->linesize[1];
        p.vStride = ref->linesize[2];
        p.hold = std::shared_ptr<const void>(ref, [](const void *k) {
            AVFrame *frame = static_cast<AVFrame *>(const_cast<void *>(k));
            av_frame_free(&frame);
        });
    } else {
        // Another layout: converted once into planes of the picture's own.
        d->toYuv420 = sws_getCachedContext(d->toYuv420, p.width, p.height, static_cast<AVPixelFormat>(f->format),
                                           p.width, p.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                           nullptr);
        if (!d->toYuv420)
            return false;
        const int ys = (p.width + 63) & ~63;
        const int cs = ((p.width + 1) / 2 + 63) & ~63;
        const size_t ySize = size_t(ys) * size_t(p.height);
        const size_t cSize = size_t(cs) * size_t((p.height + 1) / 2);
        auto *block = static_cast<uint8_t *>(av_malloc(ySize + 2 * cSize + 64));
        if (!block)
            return false;
        p.hold = std::shared_ptr<const void>(block, [](const void *b) { av_free(const_cast<void *>(b)); });
        uint8_t *dst[4] = {block, block + ySize, block + ySize + cSize, nullptr};
        const int dstStride[4] = {ys, cs, cs, 0};
        sws_scale(d->toYuv420, f->data, f->linesize, 0, p.height, dst, dstStride);
        p.y = dst[0];
        p.u = dst[1];
        p.v = dst[2];
        p.yStride = ys;
        p.uStride = p.vStride = cs;
    }
    return true;
}

bool isVcl(int videoCode, const uint8_t *nal, size_t n)
{
    if (n < 2)
        return false;
    if (videoCode == AV_VIDEO_H265)
        return ((nal[0] >> 1) & 0x3f) < 32;
    const int t = nal[0] & 0x1f;
    return t >= 1 && t <= 5;
}

// First slice of a picture: first_mb_in_slice = 0 (H.264) or
// first_slice_segment_in_pic_flag = 1 (H.265).
bool startsPicture(int videoCode, const uint8_t *nal, size_t n)
{
    if (videoCode == AV_VIDEO_H265)
        return n >= 3 && (nal[2] & 0x80);
    return n >= 2 && (nal[1] & 0x80);
}

// first_mb_in_slice of an H.264 slice (-1 when unreadable).
int64_t firstMbOf(const uint8_t *nal, size_t n)
{
    uint8_t rbsp[8];
    size_t k = 0;
    for (size_t i = 1; i < n && k < sizeof rbsp; ++i) {
        if (i >= 3 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0)
            continue; // emulation prevention
        rbsp[k++] = nal[i];
    }
    size_t bit = 0;
    auto next = [&] { const int b = (rbsp[bit / 8] >> (7 - bit % 8)) & 1; ++bit; return b; };
    int zeros = 0;
    while (bit < k * 8 && next() == 0)
        if (++zeros > 31)
            return -1;
    if (bit + size_t(zeros) > k * 8)
        return -1;
    int64_t v = 0;
    for (int i = 0; i < zeros; ++i)
        v = (v << 1) | next();
    return (int64_t(1) << zeros) - 1 + v;
}

// Hands one packet to the decoder. A picture that is still waiting to be
// taken is moved to the ready list first.
int sendPacket(AV_Decoder *d, const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The packet must be padded for the bit reader: copy into a padded block.
    if (av_new_packet(d->packet, static_cast<int>(size)) < 0)
        return AVERROR(ENOMEM);
    std::memcpy(d->packet->data, data, size);
    int r;
    while ((r = avcodec_send_packet(d->video, d->packet)) == AVERROR(EAGAIN)) {
        AVFrame *f = av_frame_alloc();
        if (!f || avcodec_receive_frame(d->video, f) < 0) {
            av_frame_free(&f);
            break;
        }
        d->ready.push_back(f);
    }
    av_packet_unref(d->packet);
    return r;
}

int flushPicture(AV_Decoder *d)
{
    const int r = sendPacket(d, d->pending.data(), d->pending.size());
    d->pending.clear();
    d->pendingHasVcl = false;
    return r;
}

// Learns where H.264 pictures end from their slices' first macroblocks.
void noteSlice(AV_Decoder *d, const uint8_t *nal, size_t n)
{
    const int64_t mb = firstMbOf(nal, n);
    if (mb == 0) { // a new picture: the one before ended with its latest slice
        if (d->pictureLastMb >= 0) {
            d->layoutRepeats = d->pictureLastMb == d->layoutLastMb ? d->layoutRepeats + 1 : 1;
            d->layoutLastMb = d->pictureLastMb;
        }
        d->handedEarly = false;
    } else if (d->handedEarly && !d->layoutBroken) {
        d->layoutBroken = true; // the picture handed over goes on
        WriteLog(3, "%s(%d):Slices of a picture came after its last one, pictures now wait for the next!!!",
                 "AV_FrameDecoderStream", __LINE__);
    }
    d->pictureLastMb = mb;
}

// Feeds one frame to the video decoder, one packet per picture: parameter
// sets and SEI wait for the slice that follows them. Streams whose pictures
// come in several slices are recognised by their first continuation slice;
// from then on a picture is handed over when the next one begins, or (H.264)
// when the slice that ended the pictures before it is in (noteSlice).
// A first picture that came as its first slice alone waits for the
// next call: handed over at once, it would lose the slices that follow in
// calls of their own, and the pictures up to the next key picture refer to
// it.
int sendVideo(AV_Decoder *d, const uint8_t *data, int size)
{
    if (d->pendingHasVcl)
        d->layoutKnown = true; // this call tells: it goes on with that picture or not
    int result = 0;
    bool anyNal = false;
    int nals = 0;
    bool startSeen = false; // this call holds the first slice of a picture
    forEachNal(data, static_cast<size_t>(size), [&](const uint8_t *nal, size_t n) {
        anyNal = true;
        ++nals;
        const bool vcl = isVcl(d->videoCode, nal, n);
        if (vcl && d->videoCode == AV_VIDEO_H264)
            noteSlice(d, nal, n);
        if (vcl && !startsPicture(d->videoCode, nal, n)) {
            if (!startSeen)
                d->multiSlice = true; // slices come one call at a time
            if (!d->pendingHasVcl)
                return; // its picture was handed over already: nothing to add to
        } else if (d->pendingHasVcl) {
            // A new picture (or what precedes it) begins: the one held is whole.
            const int r = flushPicture(d);
            if (r < 0)
                result = r;
        }
        if (d->pending.size() + n + 4 > 16 * 1024 * 1024) {
            d->pending.clear(); // no sane picture is this large
            d->pendingHasVcl = false;
            result = AVERROR_INVALIDDATA;
        }
        static const uint8_t startCode[4] = {0, 0, 0, 1};
        d->pending.insert(d->pending.end(), startCode, startCode + 4);
        d->pending.insert(d->pending.end(), nal, nal + n);
        d->pendingHasVcl |= vcl;
        startSeen |= vcl && startsPicture(d->videoCode, nal, n);
    });
    if (!anyNal) {
        // No start code: not a stream we can read; the decoder judges it.
        const int r = sendPacket(d, data, static_cast<size_t>(size));
        return r < 0 ? r : result;
    }
    const bool atLastSlice = d->multiSlice && !d->layoutBroken && d->layoutRepeats >= 3
        && d->pictureLastMb == d->layoutLastMb;
    if (startSeen && nals > 1)
        d->layoutKnown = true; // a call brings more than one unit at a time
    if (d->pendingHasVcl && d->layoutKnown && (!d->multiSlice || atLastSlice)) {
        d->handedEarly = d->multiSlice;
        const int r = flushPicture(d);
        if (r < 0)
            result = r;
    }
    return result;
}

// Takes the next picture out of the decoder into d->last. 0, EAGAIN or an error.
int receivePicture(AV_Decoder *d)
{
    if (!d->ready.empty()) {
        av_frame_unref(d->frame);
        av_frame_move_ref(d->frame, d->ready.front());
        av_frame_free(&d->ready.front());
        d->ready.pop_front();
    } else {
        const int r = avcodec_receive_frame(d->video, d->frame);
        if (r < 0)
            return r;
    }
    std::lock_guard lock(d->lastMutex);
    av_frame_unref(d->last);
    av_frame_move_ref(d->last, d->frame);
    if (d->pictures < INT32_MAX)
        ++d->pictures;
    return 0;
}

bool isRepeat(const AV_Decoder *d, const uint8_t *data, int size)
{
    return data == d->lastFedPtr && static_cast<size_t>(size) == d->lastFed.size()
        && std::memcmp(data, d->lastFed.data(), d->lastFed.size()) == 0;
}

// Feeds a new frame (unless it is the last one again) and takes a picture.
// 0 picture in d->last, -2 none yet, -1 error.
int decodeVideo(AV_Decoder *d, const uint8_t *data, int size)
{
    if (data && size > 0 && isRepeat(d, data, size))
        return AV_ERR_NEED_DATA; // already fed; a waiting picture stays for the next call
    if (data && size > 0) {
        d->lastFedPtr = data;
        d->lastFed.assign(data, data + size);
        d->sendFailed = sendVideo(d, data, size) < 0;
    }
    const int r = receivePicture(d);
    if (r == 0)
        return AV_OK;
    if (r == AVERROR(EAGAIN))
        return d->sendFailed ? AV_ERR_FAILED : AV_ERR_NEED_DATA;
    return AV_ERR_FAILED;
}

int present(AV_Decoder *d)
{
    if (d->window == 0)
        return AV_OK;
    const std::shared_ptr<varno::av::VideoSink> sink = varno::av::findVideoSink(d->window);
    if (!sink)
        return AV_ERR_FAILED;
    varno::av::DecodedPicture p;
    if (!pictureOf(d, d->last, p))
        return AV_ERR_FAILED;
    // The stream's pixel shape (non-square for e.g. 704x576 shown at 4:3).
    const AVRational sar = d->last->sample_aspect_ratio.num > 0 ? d->last->sample_aspect_ratio
                                                                : d->video ? d->video->sample_aspect_ratio : AVRational {0, 1};
    if (sar.num != d->sarNum || sar.den != d->sarDen) {
        d->sarNum = sar.num;
        d->sarDen = sar.den;
        sink->setSampleAspect(sar.num, sar.den);
    }
    return sink->presentPicture(p) == 0 ? AV_OK : AV_ERR_FAILED;
}

int decodeAudio(AV_Decoder *d, const uint8_t *data, int size, const AV_DECODER_PARAM_S *params)
{
    if (!d->audio)
        d->audio = std::make_unique<AudioDecoder>();
    return d->audio->decode(params ? *params : d->params, data, size);
}

} // namespace

extern "C" {

int AV_CreateDecoder(int32_t window, int32_t videoCode, const AV_DECODER_PARAM_S *params,
                     AV_HANDLE *decoder)
{
    if (!decoder)
        return 0;
    *decoder = nullptr;
    quietLibraryLog();
    AVCodecID id;
    if (videoCode == AV_VIDEO_H264)
        id = AV_CODEC_ID_H264;
    else if (videoCode == AV_VIDEO_H265)
        id = AV_CODEC_ID_HEVC;
    else {
        WriteLog(2, "%s(%d):Video code(%d) is error!!!", "AV_CreateDecoder", __LINE__, videoCode);
        return 0;
    }
    const AVCodec *codec = avcodec_find_decoder(id);
    if (!codec)
        return 0;
    auto d = std::make_unique<AV_Decoder>();
    d->window = window;
    d->videoCode = videoCode;
    if (params)
        d->params = *params;
    d->video = avcodec_alloc_context3(codec);
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    d->last = av_frame_alloc();
    if (!d->video || !d->packet || !d->frame || !d->last)
        return 0;
    // Live pictures as soon as they are complete: one thread per decoder
    // (the windows give the parallelism) and no frame delay.
    d->video->thread_count = 1;
    d->video->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(d->video, codec, nullptr) < 0) {
        WriteLog(2, "%s(%d):Open video decoder(%d) failed!!!", "AV_CreateDecoder", __LINE__, videoCode);
        return 0;
    }
    *decoder = d.release();
    return 1;
}

int AV_FrameDecoderStream(AV_HANDLE d, const uint8_t *data, int32_t size, int32_t frameType,
                          const AV_DECODER_PARAM_S *params, int32_t, AV_FRAME_OUT_S *out)
{
    if (!d)
        return AV_ERR_FAILED;
    if (frameType == AV_FRAME_AUDIO)
        return decodeAudio(d, data, size, params);
    if (frameType != AV_FRAME_VIDEO || !out || size < 0)
        return AV_ERR_FAILED;
    const int r = decodeVideo(d, data, size);
    if (r != AV_OK)
        return r;
    std::lock_guard lock(d->lastMutex);
    Planes p;
    if (!planesOf(d, d->last, p, true))
        return AV_ERR_FAILED;
    std::memset(out, 0, sizeof *out);
    out->y = const_cast<uint8_t *>(p.y);
    out->u = const_cast<uint8_t *>(p.u);
    out->v = const_cast<uint8_t *>(p.v);
    out->width = p.width;
    out->height = p.height;
    out->keyFrame = d->last->key_frame ? 1 : 0;
    out->videoCode = d->videoCode;
    out->pictureNumber = d->pictures;
    return AV_OK;
}

} // extern "C"

namespace varno::av {

int decodeStreamPicture(AV_HANDLE d, const uint8_t *data, int32_t size, DecodedPicture *out)
{
    if (!d || !out || size < 0)
        return AV_ERR_FAILED;
    const int r = decodeVideo(d, data, size);
    if (r != AV_OK)
        return r;
    std::lock_guard lock(d->lastMutex);
    varno::av::DecodedPicture p;
    if (!pictureOf(d, d->last, p))
        return AV_ERR_FAILED;
    *out = std::move(p);
    return AV_OK;
}

} // namespace varno::av

extern "C" {

int AV_CloseDecoderStream(AV_HANDLE d)
{
    return AV_CloseDecoder(d);
}

int AV_FrameDecoder(AV_HANDLE d, const uint8_t *data, int32_t size, int32_t frameType,
                    const AV_DECODER_PARAM_S *params)
{
    if (!d)
        return AV_ERR_FAILED;
    if (frameType == AV_FRAME_AUDIO)
        return decodeAudio(d, data, size, params);
    if (frameType != AV_FRAME_VIDEO)
        return AV_ERR_NEED_DATA;
    if (!data || size <= 0)
        return AV_ERR_FAILED;
    int r = decodeVideo(d, data, size);
    bool shown = false;
    while (r == AV_OK) {
        int s;
        {
            std::lock_guard lock(d->lastMutex);
            s = present(d);
        }
        if (s != AV_OK)
            return s;
        shown = true;
        r = decodeVideo(d, nullptr, 0);
    }
    if (shown)
        return AV_OK;
    return r;
}

int AV_ShowLastFrame(AV_HANDLE d)
{
    if (!d)
        return AV_ERR_FAILED;
    std::lock_guard lock(d->lastMutex);
    if (!d->last->data[0])
        return AV_ERR_NO_PICTURE;
    return present(d);
}

int AV_CapPicture(AV_HANDLE d, const char *path)
{
    if (!d || !path || !*path)
        return AV_ERR_FAILED;
    std::vector<uint8_t> bgr;
    int width = 0;
    int height = 0;
    {
        std::lock_guard lock(d->lastMutex);
        if (!d->last->data[0])
            return AV_ERR_NO_PICTURE;
        Planes p;
        if (!planesOf(d, d->last, p, false))
            return AV_ERR_NO_PICTURE;
        width = p.width;
        height = p.height;
        bgr.resize(static_cast<size_t>(width) * height * 3);
        if (!tables().convertBottomUp(p.y, p.ys, p.u, p.us, p.v, p.vs, width, height, bgr.data()))
            return AV_ERR_NO_PICTURE;
    }
    varno::av::BmpStage stage;
    if (varno::av::writeBmp24(path, width, height, bgr.data(), &stage) != 0) {
        WriteLog(2, "%s(%d):Write picture(%s) failed, errno(%d)!!!", "AV_CapPicture", __LINE__, path, errno);
        return AV_ERR_FILE;
    }
    return AV_OK;
}

int AV_CloseDecoder(AV_HANDLE d)
{
    delete d;
    return 0;
}

} // extern "C"
