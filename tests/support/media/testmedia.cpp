#include "testmedia.h"

#include "tools/camsim/medialoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace varno::test {

Yuv420 testPicture(int width, int height, int index)
{
    Yuv420 p;
    p.width = width;
    p.height = height;
    const int cw = width / 2;
    const int ch = height / 2;
    p.y.resize(static_cast<size_t>(width) * height);
    p.u.resize(static_cast<size_t>(cw) * ch);
    p.v.resize(static_cast<size_t>(cw) * ch);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            p.y[static_cast<size_t>(r) * width + c] =
                static_cast<uint8_t>(24 + (c * 200) / std::max(1, width - 1) + ((r / 16) % 2) * 8);
    static const uint8_t bars[8][2] = {{128, 128}, {44, 142}, {156, 44}, {72, 58},
                                       {184, 198}, {100, 212}, {212, 114}, {128, 128}};
    for (int r = 0; r < ch; ++r)
        for (int c = 0; c < cw; ++c) {
            const int bar = (c * 8) / std::max(1, cw);
            p.u[static_cast<size_t>(r) * cw + c] = bars[bar][0];
            p.v[static_cast<size_t>(r) * cw + c] = bars[bar][1];
        }
    if (index >= 0) {
        const int box = std::max(8, std::min(width, height) / 8) & ~1;
        const int x = ((index * 6) % std::max(1, width - box)) & ~1;
        const int y = ((index * 4) % std::max(1, height - box)) & ~1;
        for (int r = y; r < y + box && r < height; ++r)
            for (int c = x; c < x + box && c < width; ++c)
                p.y[static_cast<size_t>(r) * width + c] = 235;
    }
    return p;
}

namespace {

const AVCodec *encoderFor(int codec)
{
    return avcodec_find_encoder_by_name(codec == 2 ? "libx265" : "libx264");
}

void appendPacket(std::vector<EncodedFrame> &out, const AVPacket *pkt)
{
    EncodedFrame f;
    f.data.assign(pkt->data, pkt->data + pkt->size);
    f.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    out.push_back(std::move(f));
}

} // namespace

bool haveEncoder(int codec)
{
    return encoderFor(codec) != nullptr;
}

std::vector<EncodedFrame> encodeStream(const EncodeOptions &o)
{
    std::vector<EncodedFrame> out;
    const AVCodec *codec = encoderFor(o.codec);
    if (!codec)
        return out;
    av_log_set_level(AV_LOG_FATAL);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->width = o.width;
    ctx->height = o.height;
    ctx->time_base = AVRational{1, o.fps};
    ctx->framerate = AVRational{o.fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    if (o.sarNum > 0 && o.sarDen > 0)
        ctx->sample_aspect_ratio = AVRational{o.sarNum, o.sarDen};
    ctx->gop_size = o.gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (o.bitRate > 0) {
        ctx->bit_rate = o.bitRate;
        ctx->rc_max_rate = o.bitRate;
        ctx->rc_buffer_size = static_cast<int>(o.bitRate);
    } else {
        av_opt_set_double(ctx->priv_data, "crf", o.quality, 0);
    }
    const std::string extra = o.extraParams.empty() ? std::string() : ":" + o.extraParams;
    if (o.codec == 2)
        av_opt_set(ctx->priv_data, "x265-params",
                   ("repeat-headers=1:log-level=none:scenecut=0:keyint=" + std::to_string(o.gop)
                    + ":slices=" + std::to_string(o.slices) + extra).c_str(), 0);
    else
        av_opt_set(ctx->priv_data, "x264-params",
                   ("keyint=" + std::to_string(o.gop) + ":min-keyint=" + std::to_string(o.gop)
                    + ":scenecut=0:slices=" + std::to_string(o.slices) + extra).c_str(), 0);
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return out;
    }
    AVFrame *frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = o.width;
    frame->height = o.height;
    av_frame_get_buffer(frame, 0);
    AVPacket *pkt = av_packet_alloc();
    for (int i = 0; i <= o.frames; ++i) {
        if (i < o.frames) {
            av_frame_make_writable(frame);
            const Yuv420 p = testPicture(o.width, o.height, o.still ? -1 : i);
            for (int r = 0; r < o.height; ++r)
                std::memcpy(frame->data[0] + r * frame->linesize[0], p.y.data() + r * o.width, o.width);
            for (int r = 0; r < o.height / 2; ++r) {
                std::memcpy(frame->data[1] + r * frame->linesize[1], p.u.data() + r * (o.width / 2), o.width / 2);
                std::memcpy(frame->data[2] + r * frame->linesize[2], p.v.data() + r * (o.width / 2), o.width / 2);
            }
            for (int r = 0; o.busy && r < o.height; ++r)
                for (int c = 0; c < o.width; ++c)
                    frame->data[0][r * frame->linesize[0] + c] += static_cast<uint8_t>(r + c + i * 3);
            frame->pts = i;
            avcodec_send_frame(ctx, frame);
        } else {
            avcodec_send_frame(ctx, nullptr);
        }
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            appendPacket(out, pkt);
            av_packet_unref(pkt);
        }
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return out;
}

std::vector<std::vector<uint8_t>> splitNals(const std::vector<uint8_t> &au)
{
    std::vector<std::vector<uint8_t>> nals;
    for (const camsim::NalRef &n : camsim::splitNals(au.data(), au.size())) {
        std::vector<uint8_t> nal{0, 0, 0, 1};
        nal.insert(nal.end(), au.begin() + ptrdiff_t(n.offset), au.begin() + ptrdiff_t(n.offset + n.size));
        nals.push_back(std::move(nal));
    }
    return nals;
}

int nalType(const std::vector<uint8_t> &nal, int codec)
{
    if (nal.size() < 5)
        return -1;
    return codec == 2 ? (nal[4] >> 1) & 0x3f : nal[4] & 0x1f;
}

Decoded decodeAnnexB(QByteArray stream, int codec)
{
    Decoded r;
    const AVCodecID id = codec == 2 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    const AVCodec *dec = avcodec_find_decoder(id);
    AVCodecContext *ctx = avcodec_alloc_context3(dec);
    AVCodecParserContext *parser = av_parser_init(id);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const bool ok = ctx && parser && avcodec_open2(ctx, dec, nullptr) == 0;
    r.errors = !ok;
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            ++r.pictures;
            r.width = frame->width;
            r.height = frame->height;
            r.errors += (frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags;
        }
    };
    int left = int(stream.size());
    stream.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, 0));
    const uint8_t *p = reinterpret_cast<const uint8_t *>(stream.constData());
    for (bool flushed = !ok; !flushed;) {
        uint8_t *out = nullptr;
        int outSize = 0;
        flushed = left <= 0;   // a last call without data flushes the parser
        const int used = av_parser_parse2(parser, ctx, &out, &outSize, flushed ? nullptr : p, flushed ? 0 : left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        p += used;
        left -= used;
        if (outSize > 0) {
            pkt->data = out;
            pkt->size = outSize;
            r.errors += avcodec_send_packet(ctx, pkt) < 0;
            drain();
        }
    }
    if (ok && avcodec_send_packet(ctx, nullptr) == 0)
        drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    if (parser)
        av_parser_close(parser);
    avcodec_free_context(&ctx);
    return r;
}

Decoded decodeAnnexB(const std::vector<QByteArray> &pieces, int codec)
{
    QByteArray all;
    for (const QByteArray &p : pieces)
        all += p;
    return decodeAnnexB(all, codec);
}

Decoded decodeAnnexB(const std::vector<std::vector<uint8_t>> &pieces, int codec)
{
    QByteArray all;
    for (const auto &p : pieces)
        all.append(reinterpret_cast<const char *>(p.data()), qsizetype(p.size()));
    return decodeAnnexB(all, codec);
}

QImage referenceRgb(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height)
{
    QImage img(width, height, QImage::Format_RGB888);
    const int cw = width / 2;
    const int chh = height / 2;
    for (int r = 0; r < height; ++r) {
        uchar *line = img.scanLine(r);
        for (int c = 0; c < width; ++c) {
            const int ci = std::min(r / 2, chh - 1) * cw + std::min(c / 2, cw - 1);
            const double yy = 1.164383 * (y[r * width + c] - 16);
            const double uu = u[ci] - 128.0;
            const double vv = v[ci] - 128.0;
            const double R = yy + 1.596027 * vv;
            const double G = yy - 0.391762 * uu - 0.812968 * vv;
            const double B = yy + 2.017232 * uu;
            line[3 * c] = static_cast<uchar>(std::clamp(std::lround(R), 0L, 255L));
            line[3 * c + 1] = static_cast<uchar>(std::clamp(std::lround(G), 0L, 255L));
            line[3 * c + 2] = static_cast<uchar>(std::clamp(std::lround(B), 0L, 255L));
        }
    }
    return img;
}

QImage referenceRgb(const Yuv420 &p)
{
    return referenceRgb(p.y.data(), p.u.data(), p.v.data(), p.width, p.height);
}

double psnr(const QImage &a0, const QImage &b0)
{
    if (a0.size() != b0.size() || a0.isNull())
        return 0;
    const QImage a = a0.convertToFormat(QImage::Format_RGB888);
    const QImage b = b0.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int r = 0; r < a.height(); ++r) {
        const uchar *la = a.constScanLine(r);
        const uchar *lb = b.constScanLine(r);
        for (int i = 0; i < a.width() * 3; ++i) {
            const double d = double(la[i]) - double(lb[i]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(a.width()) * a.height() * 3);
    return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

int maxChannelDifference(const QImage &a0, const QImage &b0)
{
    if (a0.size() != b0.size())
        return 256;
    const QImage a = a0.convertToFormat(QImage::Format_RGB888);
    const QImage b = b0.convertToFormat(QImage::Format_RGB888);
    int worst = 0;
    for (int r = 0; r < a.height(); ++r) {
        const uchar *la = a.constScanLine(r);
        const uchar *lb = b.constScanLine(r);
        for (int i = 0; i < a.width() * 3; ++i)
            worst = std::max(worst, std::abs(int(la[i]) - int(lb[i])));
    }
    return worst;
}

int16_t alawToLinear(uint8_t a)
{
    a ^= 0x55;
    int t = (a & 0x0f) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 0x108;
    else {
        t += 0x108;
        t <<= seg - 1;
    }
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

int16_t mulawToLinear(uint8_t u)
{
    u = static_cast<uint8_t>(~u);
    int t = ((u & 0x0f) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return static_cast<int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

uint8_t linearToAlaw(int16_t pcm)
{
    return camsim::linearToAlaw(pcm);
}

uint8_t linearToMulaw(int16_t pcm)
{
    static const int segEnd[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int v = pcm >> 2;
    int mask;
    if (v < 0) {
        v = -v;
        mask = 0x7F;
    } else
        mask = 0xFF;
    if (v > 8159)
        v = 8159;
    v += 0x84 >> 2;
    int seg = 0;
    while (seg < 8 && v > segEnd[seg])
        ++seg;
    if (seg >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    const int uval = (seg << 4) | ((v >> (seg + 1)) & 0xF);
    return static_cast<uint8_t>(uval ^ mask);
}

std::vector<int16_t> tone(int sampleRate, int frequency, int samples, int amplitude)
{
    std::vector<int16_t> out(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        out[static_cast<size_t>(i)] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * frequency * i / sampleRate));
    return out;
}

std::vector<int16_t> tone(int sampleRate, int frequency, int samples, double *phase, int amplitude)
{
    std::vector<int16_t> out(static_cast<size_t>(samples));
    const double step = 2 * M_PI * frequency / sampleRate;
    for (int i = 0; i < samples; ++i)
        out[static_cast<size_t>(i)] = static_cast<int16_t>(amplitude * std::sin(*phase + step * i));
    *phase = std::fmod(*phase + step * samples, 2 * M_PI);
    return out;
}

std::vector<std::vector<uint8_t>> encodeAacAdts(const std::vector<int16_t> &pcm, int sampleRate)
{
    std::vector<std::vector<uint8_t>> out;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return out;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = sampleRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = 64000;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return out;
    }
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    int rateIndex = 11;
    for (int i = 0; i < 13; ++i)
        if (rates[i] == sampleRate)
            rateIndex = i;
    AVFrame *frame = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    const int n = ctx->frame_size;
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            const int len = pkt->size + 7;
            std::vector<uint8_t> adts = {0xFF, 0xF1,
                                         static_cast<uint8_t>((1 << 6) | (rateIndex << 2) | 0),
                                         static_cast<uint8_t>((1 << 6) | ((len >> 11) & 3)),
                                         static_cast<uint8_t>((len >> 3) & 0xFF),
                                         static_cast<uint8_t>(((len & 7) << 5) | 0x1F), 0xFC};
            adts.insert(adts.end(), pkt->data, pkt->data + pkt->size);
            out.push_back(std::move(adts));
            av_packet_unref(pkt);
        }
    };
    for (size_t pos = 0; pos + static_cast<size_t>(n) <= pcm.size(); pos += static_cast<size_t>(n)) {
        frame->nb_samples = n;
        frame->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&frame->ch_layout, 1);
        frame->sample_rate = sampleRate;
        av_frame_get_buffer(frame, 0);
        auto *f = reinterpret_cast<float *>(frame->data[0]);
        for (int i = 0; i < n; ++i)
            f[i] = pcm[pos + static_cast<size_t>(i)] / 32768.0f;
        avcodec_send_frame(ctx, frame);
        av_frame_unref(frame);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return out;
}

} // namespace varno::test
