#include "tests/support/recmedia/testmedia.h"
#include "tests/support/media/testmedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <QProcess>
#include <QStringList>

#include <cmath>
#include <cstring>
#include <string>

namespace varno::test {

struct VideoSource::Private
{
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    int64_t index = 0;
};

bool VideoSource::available(const char *codec)
{
    return avcodec_find_encoder_by_name(codec) != nullptr;
}

VideoSource::VideoSource(int width, int height, int fps, int gop, const char *codec, int64_t bitRate,
                         const char *extraParams)
    : d(new Private)
{
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec *enc = avcodec_find_encoder_by_name(codec);
    if (!enc)
        return;
    d->ctx = avcodec_alloc_context3(enc);
    d->ctx->width = width;
    d->ctx->height = height;
    d->ctx->time_base = AVRational {1, fps};
    d->ctx->framerate = AVRational {fps, 1};
    d->ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    d->ctx->gop_size = gop;
    d->ctx->max_b_frames = 0;
    d->ctx->thread_count = 1;
    if (bitRate > 0) {
        d->ctx->bit_rate = bitRate;
        d->ctx->rc_max_rate = bitRate;
        d->ctx->rc_buffer_size = static_cast<int>(bitRate);
    }
    av_opt_set(d->ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(d->ctx->priv_data, "tune", "zerolatency", 0);
    const bool x264 = std::strcmp(codec, "libx264") == 0;
    std::string params = x264 ? "keyint_min=1:scenecut=0" : "log-level=error:scenecut=0:repeat-headers=1";
    if (extraParams && *extraParams)
        params += std::string(":") + extraParams;
    av_opt_set(d->ctx->priv_data, x264 ? "x264-params" : "x265-params", params.c_str(), 0);
    if (avcodec_open2(d->ctx, enc, nullptr) < 0)
        return;
    d->frame = av_frame_alloc();
    d->frame->format = AV_PIX_FMT_YUV420P;
    d->frame->width = width;
    d->frame->height = height;
    if (av_frame_get_buffer(d->frame, 0) < 0)
        return;
    d->packet = av_packet_alloc();
    m_ok = true;
}

VideoSource::~VideoSource()
{
    av_packet_free(&d->packet);
    av_frame_free(&d->frame);
    avcodec_free_context(&d->ctx);
    delete d;
}

std::vector<EncodedPicture> VideoSource::encode(int count)
{
    std::vector<EncodedPicture> out;
    if (!m_ok)
        return out;
    for (int n = 0; n < count; ++n) {
        av_frame_make_writable(d->frame);
        const int64_t i = d->index++;
        for (int y = 0; y < d->frame->height; ++y)
            for (int x = 0; x < d->frame->width; ++x)
                d->frame->data[0][y * d->frame->linesize[0] + x] = static_cast<uint8_t>(x + y + i * 3);
        for (int y = 0; y < d->frame->height / 2; ++y)
            for (int x = 0; x < d->frame->width / 2; ++x) {
                d->frame->data[1][y * d->frame->linesize[1] + x] = static_cast<uint8_t>(128 + y + i * 2);
                d->frame->data[2][y * d->frame->linesize[2] + x] = static_cast<uint8_t>(64 + x + i * 5);
            }
        d->frame->pts = i;
        d->frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(d->ctx, d->frame) < 0)
            break;
        while (avcodec_receive_packet(d->ctx, d->packet) == 0) {
            EncodedPicture p;
            p.data.assign(d->packet->data, d->packet->data + d->packet->size);
            p.key = (d->packet->flags & AV_PKT_FLAG_KEY) != 0;
            out.push_back(std::move(p));
            av_packet_unref(d->packet);
        }
    }
    return out;
}

std::vector<std::vector<uint8_t>> nalUnitsWithStartCodes(const std::vector<uint8_t> &annexB)
{
    return splitNals(annexB);
}

int h264NalType(const std::vector<uint8_t> &unit)
{
    return nalType(unit, 1);
}

uint32_t recorderFrameType(int nalType)
{
    switch (nalType) {
    case 5: return 101;
    case 1: return 102;
    case 6: return 103;
    case 7: return 104;
    case 8: return 105;
    default: return 0;
    }
}

std::vector<int16_t> tone(int sampleRate, double frequency, int samples, double *phase, double amplitude)
{
    std::vector<int16_t> out(static_cast<size_t>(samples));
    double p = phase ? *phase : 0;
    const double step = 2 * M_PI * frequency / sampleRate;
    for (int i = 0; i < samples; ++i) {
        out[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(amplitude * std::sin(p)));
        p += step;
    }
    if (phase)
        *phase = std::fmod(p, 2 * M_PI);
    return out;
}

uint8_t alawEncode(int16_t sample)
{
    return linearToAlaw(sample);
}

std::string runProgram(const std::vector<std::string> &args, int *exitCode)
{
    if (args.empty())
        return {};
    QStringList rest;
    for (size_t i = 1; i < args.size(); ++i)
        rest << QString::fromStdString(args[i]);
    QProcess p;
    p.start(QString::fromStdString(args[0]), rest);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput().toStdString();
}

} // namespace varno::test
