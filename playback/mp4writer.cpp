#include "playback/mp4writer.h"

#include "common/logfile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <cstring>

namespace {

// Samples held while only one kind of track has appeared (about 10 s of
// video, or of audio, whichever fills first); then the file starts without
// the other track.
constexpr size_t kMaxWaitingVideo = 250;
constexpr size_t kMaxWaitingAudio = 200;

void putBigEndian32(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

} // namespace

Mp4Writer::Mp4Writer() = default;

Mp4Writer::~Mp4Writer()
{
    if (m_ctx)
        finish();
    release();
}

void Mp4Writer::release()
{
    for (Pending &p : m_waiting)
        av_packet_free(&p.packet);
    m_waiting.clear();
    if (m_ctx) {
        if (m_ctx->pb)
            avio_closep(&m_ctx->pb);
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
    }
    m_aac.aacClose();
    m_fifo.destroy();
}

int Mp4Writer::open(const char *path, uint32_t width, uint32_t height, uint32_t frameRate, uint32_t sampleRate)
{
    if (!path) {
        WriteLog(2, "[MP4]File name is NULL!!!");
        return -1;
    }
    release();
    if (avformat_alloc_output_context2(&m_ctx, nullptr, "mp4", path) < 0 || !m_ctx
        || avio_open(&m_ctx->pb, path, AVIO_FLAG_WRITE) < 0) {
        WriteLog(2, "[MP4]Open file fialed!!!");
        release();
        return -1;
    }
    m_path = path;
    m_width = width;
    m_height = height;
    m_frameRate = frameRate;
    if (frameRate == 0) {
        // 90000 / 0 has no meaning: take the common camera rate.
        WriteLog(3, "%s(%d):Frame rate 0, take 25!!!", "Mp4Writer::open", __LINE__);
        m_frameRate = 25;
    }
    m_sampleRate = sampleRate ? sampleRate : 8000;
    m_defaultDuration = kVideoTimeScale / m_frameRate;
    if (m_defaultDuration == 0)
        m_defaultDuration = 1;
    m_spsWritten = m_ppsWritten = false;
    m_videoTrack = m_audioTrack = false;
    m_headerWritten = m_headerFailed = false;
    m_lastAudioTs = m_lastVideoTs = 0;
    m_haveHeld = false;
    m_videoDts = 0;
    m_aacFrames = m_videoSamples = m_audioPackets = 0;
    m_videoIndex = m_audioIndex = -1;
    if (m_aac.aacOpen(m_sampleRate, 1) < 0)
        WriteLog(2, "%s(%d):Open aac encoder failed, sampleRate(%u)!!!", "Mp4Writer::open", __LINE__, m_sampleRate);
    m_fifo.create(kFifoSize);
    WriteLog(0, "[MP4]Create file(%s) success!!!", path);
    return 0;
}

int Mp4Writer::writeFrame(int type, const uint8_t *data, uint32_t size, uint64_t timestamp)
{
    if (!m_ctx || !data || size == 0) {
        WriteLog(2, "[MP4]Param is error!!!");
        return -1;
    }
    if (type == 1)
        return writeVideo(data, size, timestamp);
    if (type == 2)
        return writeAudio(data, size, timestamp);
    WriteLog(3, "[MP4]Unknow frame type(%d), size(%d)!!!", type, static_cast<int>(size));
    return 0;
}

int Mp4Writer::writeVideo(const uint8_t *data, uint32_t size, uint64_t timestamp)
{
    // NAL units: each starts after 00 00 00 01 and ends 4 bytes before the
    // next such start code, or at the end of the payload.
    std::vector<std::pair<uint32_t, uint32_t>> units; // offset, length
    uint32_t start = 0;
    bool inUnit = false;
    for (uint32_t i = 0; i + 4 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 0 && data[i + 3] == 1) {
            if (inUnit)
                units.emplace_back(start, i - start);
            start = i + 4;
            inUnit = true;
            i += 3;
        }
    }
    if (inUnit)
        units.emplace_back(start, size - start);

    // The slices of one payload form one sample.
    std::vector<uint8_t> sample;
    bool sync = false;
    for (const auto &[offset, length] : units) {
        if (length == 0)
            continue;
        const uint8_t *nal = data + offset;
        const int nalType = nal[0] & 0x1F;
        if (nalType == 7 && !m_spsWritten) {
            if (length < 4 || m_headerWritten) {
                WriteLog(2, "[MP4]Add video track error!!!");
                return 0;
            }
            m_videoTrack = true;
            WriteLog(0, "[MP4]Add video track(%d,%d,%d) success!!!", static_cast<int>(m_width),
                     static_cast<int>(m_height), static_cast<int>(m_frameRate));
            m_sps.assign(nal, nal + length);
            m_spsWritten = true;
        } else if (nalType == 8 && m_spsWritten && !m_ppsWritten) {
            m_pps.assign(nal, nal + length);
            m_ppsWritten = true;
        } else if ((nalType == 5 || nalType == 1) && m_videoTrack && m_spsWritten && m_ppsWritten) {
            putBigEndian32(sample, length);
            sample.insert(sample.end(), nal, nal + length);
            sync = sync || nalType == 5;
        }
    }
    if (sample.empty())
        return 0;

    if (m_lastVideoTs == 0)
        m_lastVideoTs = timestamp;
    // Each sample lasts until the next one starts; the gap is measured here
    // for the sample before.
    if (m_haveHeld) {
        const double gap = (static_cast<double>(timestamp) - static_cast<double>(m_lastVideoTs)) / 1000000.0 * 90000.0;
        int64_t duration = static_cast<int64_t>(gap);
        if (duration <= 0)
            duration = m_defaultDuration; // the camera's clock went back or stood still
        if (emitVideo(m_heldSample, m_heldSync, duration) < 0) {
            m_lastVideoTs = timestamp;
            m_heldSample = std::move(sample);
            m_heldSync = sync;
            return 0; // a failed write ends this payload silently
        }
    }
    m_lastVideoTs = timestamp;
    m_heldSample = std::move(sample);
    m_heldSync = sync;
    m_haveHeld = true;
    return 0;
}

int Mp4Writer::writeAudio(const uint8_t *data, uint32_t size, uint64_t timestamp)
{
    if (!m_ctx) {
        WriteLog(2, "[MP4]Handle is invalid!!!");
        return -1;
    }
    if (!m_audioTrack) {
        if (m_headerWritten || !m_aac.isOpen()) {
            WriteLog(2, "[MP4]Add audio track error!!!");
            return -1;
        }
        m_audioTrack = true;
    }
    if (m_lastAudioTs == 0)
        m_lastAudioTs = timestamp;
    // Whatever the chunk size, no byte is dropped: fill, encode every whole
    // frame, fill again.
    uint32_t done = 0;
    while (done < size) {
        done += m_fifo.put(data + done, size - done);
        if (encodeFifo(false) < 0)
            return -1;
    }
    m_lastAudioTs = timestamp;
    return 0;
}

int Mp4Writer::encodeFifo(bool final)
{
    uint8_t frame[kAacFrameBytes];
    while (m_fifo.length() >= kAacFrameBytes || (final && m_fifo.length() > 0)) {
        const uint32_t n = m_fifo.get(frame, kAacFrameBytes);
        std::vector<AacPacket> packets;
        if (m_aac.aacEncode(frame, n, packets) < 0)
            return 0; // the encoder refused these samples; keep converting
        ++m_aacFrames;
        for (const AacPacket &p : packets)
            if (emitAudio(p) < 0) {
                WriteLog(2, "[MP4]Write audio sample error, size(%d)!!!", static_cast<int>(p.data.size()));
                return -1;
            }
    }
    return 0;
}

int Mp4Writer::emitVideo(const std::vector<uint8_t> &sample, bool sync, int64_t duration)
{
    AVPacket *packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, static_cast<int>(sample.size())) < 0) {
        av_packet_free(&packet);
        return -1;
    }
    std::memcpy(packet->data, sample.data(), sample.size());
    packet->pts = packet->dts = m_videoDts;
    packet->duration = duration;
    if (sync)
        packet->flags |= AV_PKT_FLAG_KEY;
    m_videoDts += duration;
    ++m_videoSamples;
    return submit(packet, true);
}

int Mp4Writer::emitAudio(const AacPacket &p)
{
    AVPacket *packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, static_cast<int>(p.data.size())) < 0) {
        av_packet_free(&packet);
        return -1;
    }
    std::memcpy(packet->data, p.data.data(), p.data.size());
    packet->pts = packet->dts = p.pts;
    packet->duration = p.duration;
    packet->flags |= AV_PKT_FLAG_KEY;
    ++m_audioPackets;
    return submit(packet, false);
}

int Mp4Writer::submit(AVPacket *packet, bool video)
{
    if (!m_headerWritten) {
        m_waiting.push_back({packet, video});
        size_t videos = 0, audios = 0;
        for (const Pending &w : m_waiting)
            (w.video ? videos : audios)++;
        const bool bothTracks = m_audioTrack && m_videoTrack && m_ppsWritten;
        if (bothTracks || videos >= kMaxWaitingVideo || audios >= kMaxWaitingAudio)
            return startMuxer();
        return 0;
    }
    if (m_headerFailed) {
        av_packet_free(&packet);
        return -1;
    }
    const int index = video ? m_videoIndex : m_audioIndex;
    if (index < 0) {
        av_packet_free(&packet);
        return 0;
    }
    packet->stream_index = index;
    const AVRational tb = video ? AVRational {1, kVideoTimeScale}
                                : AVRational {1, static_cast<int>(m_aac.encoderRate())};
    av_packet_rescale_ts(packet, tb, m_ctx->streams[index]->time_base);
    const int ret = av_interleaved_write_frame(m_ctx, packet);
    av_packet_free(&packet);
    return ret < 0 ? -1 : 0;
}

int Mp4Writer::startMuxer()
{
    if (m_headerWritten)
        return m_headerFailed ? -1 : 0;
    m_headerWritten = true;
    if (m_videoTrack && m_spsWritten && m_ppsWritten) {
        AVStream *s = avformat_new_stream(m_ctx, nullptr);
        if (!s) {
            m_headerFailed = true;
            return -1;
        }
        AVCodecParameters *par = s->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_H264;
        par->width = static_cast<int>(m_width);
        par->height = static_cast<int>(m_height);
        // avcC: profile, compatibility and level from the SPS, 4-byte lengths.
        std::vector<uint8_t> avcc {1, m_sps[1], m_sps[2], m_sps[3], 0xFF, 0xE1};
        avcc.push_back(static_cast<uint8_t>(m_sps.size() >> 8));
        avcc.push_back(static_cast<uint8_t>(m_sps.size()));
        avcc.insert(avcc.end(), m_sps.begin(), m_sps.end());
        avcc.push_back(1);
        avcc.push_back(static_cast<uint8_t>(m_pps.size() >> 8));
        avcc.push_back(static_cast<uint8_t>(m_pps.size()));
        avcc.insert(avcc.end(), m_pps.begin(), m_pps.end());
        par->extradata = static_cast<uint8_t *>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) {
            m_headerFailed = true;
            return -1;
        }
        std::memcpy(par->extradata, avcc.data(), avcc.size());
        par->extradata_size = static_cast<int>(avcc.size());
        s->time_base = AVRational {1, kVideoTimeScale};
        s->avg_frame_rate = AVRational {static_cast<int>(m_frameRate), 1};
        m_videoIndex = s->index;
    }
    if (m_audioTrack && m_aac.isOpen()) {
        AVStream *s = avformat_new_stream(m_ctx, nullptr);
        if (!s || avcodec_parameters_from_context(s->codecpar, m_aac.context()) < 0) {
            m_headerFailed = true;
            return -1;
        }
        uint8_t asc[2];
        aacAudioSpecificConfig(m_sampleRate, asc);
        av_freep(&s->codecpar->extradata);
        s->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!s->codecpar->extradata) {
            m_headerFailed = true;
            return -1;
        }
        std::memcpy(s->codecpar->extradata, asc, 2);
        s->codecpar->extradata_size = 2;
        s->time_base = AVRational {1, static_cast<int>(m_aac.encoderRate())};
        m_audioIndex = s->index;
    }
    if (m_ctx->nb_streams == 0) {
        m_headerFailed = true;
        return -1;
    }
    AVDictionary *options = nullptr;
    av_dict_set_int(&options, "video_track_timescale", kVideoTimeScale, 0);
    const int ret = avformat_write_header(m_ctx, &options);
    av_dict_free(&options);
    if (ret < 0) {
        m_headerFailed = true;
        return -1;
    }
    std::deque<Pending> waiting;
    waiting.swap(m_waiting);
    int result = 0;
    for (Pending &p : waiting) {
        if (submit(p.packet, p.video) < 0)
            result = -1;
        p.packet = nullptr;
    }
    return result;
}

int Mp4Writer::finish()
{
    if (!m_ctx)
        return -1;
    int result = 0;
    if (m_audioTrack && m_fifo.valid()) {
        if (encodeFifo(true) < 0)
            result = -1;
        std::vector<AacPacket> packets;
        m_aac.aacFlush(packets);
        for (const AacPacket &p : packets)
            if (result == 0 && emitAudio(p) < 0) {
                WriteLog(2, "[MP4]Write audio sample error, size(%d)!!!", static_cast<int>(p.data.size()));
                result = -1;
            }
    }
    if (result == 0 && m_haveHeld) {
        // The last sample has no successor: the track's default duration.
        emitVideo(m_heldSample, m_heldSync, m_defaultDuration);
        m_haveHeld = false;
    }
    if (!m_headerWritten && !m_waiting.empty())
        startMuxer();
    // Even after a failed write the index of what was written goes out, so
    // the file stays playable.
    if (m_headerWritten && !m_headerFailed)
        av_write_trailer(m_ctx);
    release();
    if (result < 0)
        return -1;
    WriteLog(0, "[MP4]Writed mp4 file finished!!!");
    return 0;
}
