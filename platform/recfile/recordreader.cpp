#include "platform/recfile/recordreader.h"

#include "platform/recfile/aacframes.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varno::recfile {

int readMemory(void *opaque, uint8_t *buf, int size)
{
    auto *self = static_cast<RecordReader *>(opaque);
    const size_t left = self->m_memSize - self->m_memPos;
    if (left == 0)
        return AVERROR_EOF;
    const size_t n = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
    std::memcpy(buf, self->m_memData + self->m_memPos, n);
    self->m_memPos += n;
    return static_cast<int>(n);
}

int64_t seekMemory(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<RecordReader *>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return static_cast<int64_t>(self->m_memSize);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(self->m_memPos);
    else if (whence == SEEK_END)
        base = static_cast<int64_t>(self->m_memSize);
    else if (whence != SEEK_SET)
        return -1;
    const int64_t pos = base + offset;
    if (pos < 0 || pos > static_cast<int64_t>(self->m_memSize))
        return -1;
    self->m_memPos = static_cast<size_t>(pos);
    return pos;
}

namespace {

// "HH:MM:SS.nnnnnnnnn" of the Matroska DURATION tag, in milliseconds; -1 if absent.
int64_t durationTagMs(AVDictionary *metadata)
{
    const AVDictionaryEntry *e = av_dict_get(metadata, "DURATION", nullptr, 0);
    if (!e || !e->value)
        return -1;
    unsigned h = 0, m = 0;
    double s = 0;
    if (std::sscanf(e->value, "%u:%u:%lf", &h, &m, &s) != 3 || s < 0 || m > 59 || h > 100000)
        return -1;
    return (static_cast<int64_t>(h) * 3600 + m * 60) * 1000 + static_cast<int64_t>(s * 1000 + 0.5);
}

uint32_t clampU32(int64_t v)
{
    if (v < 0)
        return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

} // namespace

RecordReader::RecordReader() = default;

RecordReader::~RecordReader()
{
    close();
}

void RecordReader::close()
{
    av_bsf_free(&m_bsf);
    av_packet_free(&m_packet);
    av_packet_free(&m_out);
    avformat_close_input(&m_ctx);
    if (m_avio) {
        av_freep(&m_avio->buffer);
        avio_context_free(&m_avio);
    }
    m_video = m_audio = -1;
}

int RecordReader::openInput()
{
    m_ctx = avformat_alloc_context();
    if (!m_ctx)
        return -1;
    if (m_memData) {
        m_memPos = 0;
        auto *buffer = static_cast<uint8_t *>(av_malloc(32768));
        if (!buffer)
            return -1;
        m_avio = avio_alloc_context(buffer, 32768, 0, this, readMemory, nullptr, seekMemory);
        if (!m_avio) {
            av_free(buffer);
            return -1;
        }
        m_ctx->pb = m_avio;
        m_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    const AVInputFormat *mkv = av_find_input_format("matroska");
    if (avformat_open_input(&m_ctx, m_memData ? nullptr : m_path.c_str(), mkv, nullptr) < 0)
        return -1;
    m_video = m_audio = -1;
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const AVCodecParameters *par = m_ctx->streams[i]->codecpar;
        if (m_video < 0 && (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC))
            m_video = static_cast<int>(i);
        else if (m_audio < 0 && (par->codec_id == AV_CODEC_ID_PCM_S16LE || par->codec_id == AV_CODEC_ID_AAC)
                 && par->ch_layout.nb_channels > 0 && par->sample_rate > 0)
            m_audio = static_cast<int>(i);
    }
    m_aac = false;
    if (m_audio >= 0 && m_ctx->streams[m_audio]->codecpar->codec_id == AV_CODEC_ID_AAC) {
        // Handed out with ADTS headers, as cameras send AAC: a track whose
        // settings ADTS cannot carry is left out.
        const AVCodecParameters *apar = m_ctx->streams[m_audio]->codecpar;
        if (parseAacConfig(apar->extradata, size_t(apar->extradata_size > 0 ? apar->extradata_size : 0), &m_aacType,
                           &m_aacIndex, &m_aacChannels))
            m_aac = true;
        else
            m_audio = -1;
    }
    if (m_video < 0)
        return -1;
    m_packet = av_packet_alloc();
    m_out = av_packet_alloc();
    if (!m_packet || !m_out)
        return -1;
    const AVCodecParameters *vpar = m_ctx->streams[m_video]->codecpar;
    const AVBitStreamFilter *filter
        = av_bsf_get_by_name(vpar->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    if (!filter || av_bsf_alloc(filter, &m_bsf) < 0)
        return -1;
    if (avcodec_parameters_copy(m_bsf->par_in, vpar) < 0)
        return -1;
    m_bsf->time_base_in = m_ctx->streams[m_video]->time_base;
    if (av_bsf_init(m_bsf) < 0)
        return -1;
    return 0;
}

int RecordReader::open(const std::string &path)
{
    close();
    m_path = path;
    m_memData = nullptr;
    return setup();
}

int RecordReader::openMemory(const uint8_t *data, size_t size)
{
    close();
    m_path.clear();
    m_memData = data;
    m_memSize = data ? size : 0;
    if (!data)
        return -1;
    return setup();
}

int RecordReader::setup()
{
    if (openInput() < 0) {
        close();
        return -1;
    }
    const long rate = std::strtol(tag("VARNO_FRAME_RATE").c_str(), nullptr, 10);
    const AVStream *vs = m_ctx->streams[m_video];
    if (rate > 0 && rate <= 240)
        m_fileFrameRate = static_cast<uint32_t>(rate);
    else if (vs->avg_frame_rate.num > 0 && vs->avg_frame_rate.den > 0)
        m_fileFrameRate = clampU32(av_q2d(vs->avg_frame_rate) + 0.5);
    if (m_fileFrameRate > 240)
        m_fileFrameRate = 0;
    m_fps = m_fileFrameRate ? static_cast<int>(m_fileFrameRate) : 25;

    int64_t videoMs = durationTagMs(vs->metadata);
    int64_t totalMs = videoMs;
    m_complete = videoMs >= 0;
    if (m_audio >= 0) {
        const int64_t audioMs = durationTagMs(m_ctx->streams[m_audio]->metadata);
        if (audioMs > totalMs)
            totalMs = audioMs;
    }
    if (!m_complete) {
        // Cut short: no index and no length. Read it through once.
        if (scanLength(&videoMs, &totalMs) < 0) {
            close();
            return -1;
        }
        close();
        if (openInput() < 0) {
            close();
            return -1;
        }
    }
    m_lengthMs = clampU32(totalMs);
    m_totalFrames = clampU32(av_rescale(videoMs, m_fps, 1000));
    m_expectedSlot = -1;
    m_fillersLeft = 0;
    m_pendingVideo = false;
    m_eof = false;
    return 0;
}

int RecordReader::scanLength(int64_t *videoEndMs, int64_t *endMs)
{
    int64_t video = 0;
    int64_t end = 0;
    while (av_read_frame(m_ctx, m_packet) >= 0) {
        const int index = m_packet->stream_index;
        if ((index == m_video || index == m_audio) && m_packet->pts != AV_NOPTS_VALUE) {
            const AVRational tb = m_ctx->streams[index]->time_base;
            int64_t stop = m_packet->pts + (m_packet->duration > 0 ? m_packet->duration : 0);
            int64_t ms = av_rescale_q(stop, tb, AVRational {1, 1000});
            if (index == m_video && m_packet->duration <= 0)
                ms += 1000 / m_fps;
            if (index == m_video && ms > video)
                video = ms;
            if (ms > end)
                end = ms;
        }
        av_packet_unref(m_packet);
    }
    *videoEndMs = video;
    *endMs = end;
    return 0;
}

std::string RecordReader::tag(const char *key) const
{
    if (!m_ctx)
        return {};
    const AVDictionaryEntry *e = av_dict_get(m_ctx->metadata, key, nullptr, 0);
    return e && e->value ? std::string(e->value) : std::string();
}

int RecordReader::width() const
{
    return m_ctx && m_video >= 0 ? m_ctx->streams[m_video]->codecpar->width : 0;
}

int RecordReader::height() const
{
    return m_ctx && m_video >= 0 ? m_ctx->streams[m_video]->codecpar->height : 0;
}

int RecordReader::sampleRate() const
{
    return m_ctx && m_audio >= 0 ? m_ctx->streams[m_audio]->codecpar->sample_rate : 0;
}

int RecordReader::channels() const
{
    return m_ctx && m_audio >= 0 ? m_ctx->streams[m_audio]->codecpar->ch_layout.nb_channels : 0;
}

bool RecordReader::isH265() const
{
    return m_ctx && m_video >= 0 && m_ctx->streams[m_video]->codecpar->codec_id == AV_CODEC_ID_HEVC;
}

int64_t RecordReader::slotOf(int64_t pts, int streamIndex) const
{
    const int64_t ms = av_rescale_q(pts, m_ctx->streams[streamIndex]->time_base, AVRational {1, 1000});
    return av_rescale(ms, m_fps, 1000);
}

int RecordReader::next(uint32_t *type, const uint8_t **data, uint32_t *size)
{
    if (!m_ctx)
        return -1;
    for (;;) {
        if (m_fillersLeft > 0) {
            --m_fillersLeft;
            m_filler = 0;
            *type = 102;
            *data = &m_filler;
            *size = 1;
            return 0;
        }
        if (m_pendingVideo) {
            m_pendingVideo = false;
            m_frame.assign(m_out->data, m_out->data + m_out->size);
            *type = (m_out->flags & AV_PKT_FLAG_KEY) ? 101 : 102;
            av_packet_unref(m_out);
            *data = m_frame.data();
            *size = static_cast<uint32_t>(m_frame.size());
            return 0;
        }
        const int got = av_bsf_receive_packet(m_bsf, m_out);
        if (got == 0) {
            if (m_out->size <= 0) {
                av_packet_unref(m_out);
                continue;
            }
            if (m_out->pts != AV_NOPTS_VALUE) {
                const int64_t slot = slotOf(m_out->pts, m_video);
                if (m_expectedSlot >= 0 && slot > m_expectedSlot) {
                    const int64_t gap = slot - m_expectedSlot;
                    const int64_t cap = kMaxFillerSeconds * m_fps;
                    m_fillersLeft = gap < cap ? gap : cap;
                }
                if (slot + 1 > m_expectedSlot)
                    m_expectedSlot = slot + 1;
            }
            m_pendingVideo = true;
            continue;
        }
        if (got != AVERROR(EAGAIN) || m_eof)
            return 1;

        const int ret = av_read_frame(m_ctx, m_packet);
        if (ret < 0) {
            m_eof = true;
            av_bsf_send_packet(m_bsf, nullptr);
            continue;
        }
        if (m_packet->stream_index == m_video) {
            if (av_bsf_send_packet(m_bsf, m_packet) < 0)
                av_packet_unref(m_packet);
            continue;
        }
        if (m_packet->stream_index == m_audio && m_packet->size > 0) {
            if (m_aac) {
                uint8_t header[7];
                if (!makeAdtsHeader(m_aacType, m_aacIndex, m_aacChannels, size_t(m_packet->size), header)) {
                    av_packet_unref(m_packet);
                    continue;
                }
                m_frame.assign(header, header + sizeof header);
                m_frame.insert(m_frame.end(), m_packet->data, m_packet->data + m_packet->size);
            } else {
                m_frame.assign(m_packet->data, m_packet->data + m_packet->size);
            }
            av_packet_unref(m_packet);
            *type = 1;
            *data = m_frame.data();
            *size = static_cast<uint32_t>(m_frame.size());
            return 0;
        }
        av_packet_unref(m_packet);
    }
}

int RecordReader::seekMs(int64_t ms)
{
    if (!m_ctx)
        return -1;
    if (ms < 0)
        ms = 0;
    const AVStream *vs = m_ctx->streams[m_video];
    const int64_t ts = av_rescale_q(ms, AVRational {1, 1000}, vs->time_base);
    if (av_seek_frame(m_ctx, m_video, ts, AVSEEK_FLAG_BACKWARD) < 0 && av_seek_frame(m_ctx, m_video, ts, 0) < 0)
        return -1;
    av_bsf_flush(m_bsf);
    av_packet_unref(m_out);
    m_pendingVideo = false;
    m_fillersLeft = 0;
    m_expectedSlot = -1;
    m_eof = false;
    return 0;
}

} // namespace varno::recfile
