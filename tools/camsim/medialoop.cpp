#include "tools/camsim/medialoop.h"

#include "platform/recfile/nalunits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstring>

namespace varno::camsim {

namespace {

struct CodecDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

uint32_t xorshift(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void drawPicture(AVFrame *frame, int index, int frames, uint32_t seed, int noise)
{
    const int w = frame->width;
    const int h = frame->height;
    const int baseY = 60 + int(seed % 80);
    const int u = 64 + int((seed >> 8) % 128);
    const int v = 64 + int((seed >> 16) % 128);
    uint32_t rng = seed * 2654435761u + uint32_t(index) * 40503u + 1u;
    // Square moving left to right and back once per loop; bar sweeping down.
    const int size = std::max(8, h / 4);
    const double phase = double(index) / double(std::max(1, frames));
    const int sx = int((w - size) * (0.5 - 0.5 * std::cos(phase * 2 * M_PI)));
    const int sy = int((h - size) * (0.5 - 0.5 * std::sin(phase * 2 * M_PI * (1 + seed % 3))));
    const int barY = int(phase * h) % std::max(1, h);
    for (int y = 0; y < h; ++y) {
        uint8_t *row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < w; ++x) {
            int value = baseY + (x * 80) / std::max(1, w);
            if (x >= sx && x < sx + size && y >= sy && y < sy + size)
                value = 235;
            else if (y >= barY && y < barY + 4)
                value = 16;
            if (noise > 0)
                value += int(xorshift(rng) % uint32_t(2 * noise + 1)) - noise;
            row[x] = uint8_t(std::clamp(value, 16, 235));
        }
    }
    for (int y = 0; y < h / 2; ++y) {
        uint8_t *ru = frame->data[1] + y * frame->linesize[1];
        uint8_t *rv = frame->data[2] + y * frame->linesize[2];
        for (int x = 0; x < w / 2; ++x) {
            const bool inSquare = 2 * x >= sx && 2 * x < sx + size && 2 * y >= sy && 2 * y < sy + size;
            ru[x] = uint8_t(inSquare ? 255 - u : u);
            rv[x] = uint8_t(inSquare ? 255 - v : v);
        }
    }
}

// The encoder of the simulated cameras' pictures; nullptr with a reason.
std::unique_ptr<AVCodecContext, CodecDeleter> openEncoder(const VideoSettings &settings, std::string *error)
{
    const char *encoder = settings.h265 ? "libx265" : "libx264";
    const AVCodec *codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) {
        *error = std::string(encoder) + " encoder not available";
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        *error = "out of memory";
        return nullptr;
    }
    const int fps = std::max(1, settings.fps);
    const int gop = fps * std::max(1, settings.keySeconds);
    ctx->width = settings.width & ~1;
    ctx->height = settings.height & ~1;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->gop_size = gop;
    ctx->keyint_min = gop;
    ctx->max_b_frames = 0;
    ctx->bit_rate = int64_t(settings.kbps) * 1000;
    ctx->rc_max_rate = ctx->bit_rate;
    ctx->rc_buffer_size = int(ctx->bit_rate);
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (settings.h265) {
        const std::string params = "log-level=error:repeat-headers=1:aud=1:info=1:hash=2:slices=2:open-gop=0"
                                   ":scenecut=0:bframes=0:keyint=" + std::to_string(gop)
                                   + ":min-keyint=" + std::to_string(gop);
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    } else {
        av_opt_set(ctx->priv_data, "profile", "baseline", 0);
        const std::string params = "repeat-headers=1:scenecut=0:keyint=" + std::to_string(gop)
                                   + ":min-keyint=" + std::to_string(gop) + ":sliced-threads=0";
        av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        *error = std::string("cannot open ") + encoder;
        return nullptr;
    }
    return ctx;
}

// Moves the picture against a turn of the head (a third of the picture at
// the end of the range) and magnifies it around its centre (twice at full
// zoom); what the scene does not cover is black.
void viewPicture(AVFrame *frame, std::vector<uint8_t> &scratch, double pan, double tilt, double zoom)
{
    const double mag = 1.0 + std::clamp(zoom, 0.0, 1.0);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? frame->width / 2 : frame->width;
        const int h = plane ? frame->height / 2 : frame->height;
        const int stride = frame->linesize[plane];
        uint8_t *data = frame->data[plane];
        scratch.assign(data, data + size_t(stride) * size_t(h));
        const double dx = std::clamp(pan, -1.0, 1.0) * w / 3.0;
        const double dy = -std::clamp(tilt, -1.0, 1.0) * h / 3.0;
        const uint8_t black = plane ? 128 : 16;
        for (int y = 0; y < h; ++y) {
            const int sy = int(std::floor((y - h / 2.0) / mag + h / 2.0 + dy));
            uint8_t *row = data + y * stride;
            for (int x = 0; x < w; ++x) {
                const int sx = int(std::floor((x - w / 2.0) / mag + w / 2.0 + dx));
                row[x] = (sx < 0 || sx >= w || sy < 0 || sy >= h) ? black : scratch[size_t(sy) * size_t(stride) + size_t(sx)];
            }
        }
    }
}

} // namespace

std::vector<NalRef> splitNals(const uint8_t *data, size_t size)
{
    std::vector<NalRef> out;
    size_t i = 0;
    size_t start = 0;
    bool in = false;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            size_t code = (i > 0 && data[i - 1] == 0) ? i - 1 : i;
            if (in && code > start)
                out.push_back({start, code - start});
            start = i + 3;
            in = true;
            i += 3;
        } else {
            ++i;
        }
    }
    if (in && size > start)
        out.push_back({start, size - start});
    return out;
}

std::vector<uint8_t> withLongStartCodes(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size + 16);
    for (const NalRef &n : splitNals(data, size)) {
        const uint8_t code[4] = {0, 0, 0, 1};
        out.insert(out.end(), code, code + 4);
        out.insert(out.end(), data + n.offset, data + n.offset + n.size);
    }
    return out;
}

bool VideoLoop::encode(const VideoSettings &settings, uint32_t seed)
{
    m_settings = settings;
    m_frames.clear();
    auto ctx = openEncoder(settings, &m_error);
    if (!ctx)
        return false;
    const int fps = std::max(1, settings.fps);
    const int gop = fps * std::max(1, settings.keySeconds);
    const int keySeconds = std::max(1, settings.keySeconds);
    const int loopSeconds = std::max(keySeconds, settings.loopSeconds / keySeconds * keySeconds);
    const int frames = fps * loopSeconds;
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    frame->format = ctx->pix_fmt;
    frame->width = ctx->width;
    frame->height = ctx->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        m_error = "out of memory";
        return false;
    }
    auto drain = [&]() {
        while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
            AccessUnit au;
            au.data = withLongStartCodes(packet->data, size_t(packet->size));
            au.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            m_frames.push_back(std::move(au));
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame.get());
        drawPicture(frame.get(), i, frames, seed, settings.noise);
        frame->pts = i;
        frame->pict_type = (i % gop == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(ctx.get(), frame.get()) < 0) {
            m_error = "encoder refused a frame";
            return false;
        }
        drain();
    }
    avcodec_send_frame(ctx.get(), nullptr);
    drain();
    if (m_frames.empty() || !m_frames.front().key) {
        m_error = "encoder did not start with a key frame";
        return false;
    }
    // SPS and PPS of the first key frame, for the stream description.
    const varno::recfile::VideoCodec vc = settings.h265 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;
    const AccessUnit &first = m_frames.front();
    m_sps.clear();
    m_pps.clear();
    for (const varno::recfile::NalUnit &n : varno::recfile::splitAnnexB(first.data.data(), first.data.size())) {
        const int kind = varno::recfile::parameterSetKind(vc, n);
        if (kind == 2 && m_sps.empty())
            m_sps.assign(n.data, n.data + n.size);
        else if (kind == 3 && m_pps.empty())
            m_pps.assign(n.data, n.data + n.size);
    }
    return true;
}

struct LiveVideo::State
{
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::vector<uint8_t> scratch;
    VideoSettings settings;
    uint32_t seed = 0;
    int loopFrames = 1;
    int64_t pts = 0;
};

LiveVideo::LiveVideo() = default;
LiveVideo::~LiveVideo() = default;

bool LiveVideo::open(const VideoSettings &settings, uint32_t seed)
{
    auto st = std::make_unique<State>();
    st->ctx = openEncoder(settings, &m_error);
    if (!st->ctx)
        return false;
    st->frame.reset(av_frame_alloc());
    st->packet.reset(av_packet_alloc());
    if (!st->frame || !st->packet) {
        m_error = "out of memory";
        return false;
    }
    st->frame->format = st->ctx->pix_fmt;
    st->frame->width = st->ctx->width;
    st->frame->height = st->ctx->height;
    if (av_frame_get_buffer(st->frame.get(), 0) < 0) {
        m_error = "out of memory";
        return false;
    }
    const int keySeconds = std::max(1, settings.keySeconds);
    st->loopFrames = std::max(1, settings.fps) * std::max(keySeconds, settings.loopSeconds / keySeconds * keySeconds);
    st->settings = settings;
    st->seed = seed;
    m = std::move(st);
    return true;
}

AccessUnit LiveVideo::next(int index, double pan, double tilt, double zoom)
{
    AccessUnit au;
    if (!m)
        return au;
    AVFrame *frame = m->frame.get();
    av_frame_make_writable(frame);
    drawPicture(frame, index % m->loopFrames, m->loopFrames, m->seed, m->settings.noise);
    viewPicture(frame, m->scratch, pan, tilt, zoom);
    frame->pts = m->pts++;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(m->ctx.get(), frame) < 0)
        return au;
    while (avcodec_receive_packet(m->ctx.get(), m->packet.get()) == 0) {
        // One picture in, one out (no B pictures, no look-ahead).
        const auto bytes = withLongStartCodes(m->packet->data, size_t(m->packet->size));
        au.data.insert(au.data.end(), bytes.begin(), bytes.end());
        au.key = au.key || (m->packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(m->packet.get());
    }
    return au;
}

uint64_t VideoLoop::totalBytes() const
{
    uint64_t n = 0;
    for (const auto &f : m_frames)
        n += f.data.size();
    return n;
}

uint8_t linearToAlaw(int16_t sample)
{
    static const int segEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int pcm = sample >> 3;   // 13-bit value
    int mask;
    if (pcm >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    int seg = 0;
    while (seg < 8 && pcm > segEnd[seg])
        ++seg;
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    int aval = seg << 4;
    if (seg < 2)
        aval |= (pcm >> 1) & 0x0F;
    else
        aval |= (pcm >> seg) & 0x0F;
    return uint8_t(aval ^ mask);
}

std::vector<uint8_t> alawTone(int frequencyHz)
{
    std::vector<uint8_t> out(8000);
    for (int i = 0; i < 8000; ++i) {
        const double s = 8000.0 * std::sin(2.0 * M_PI * frequencyHz * i / 8000.0);
        out[size_t(i)] = linearToAlaw(int16_t(s));
    }
    return out;
}

} // namespace varno::camsim
