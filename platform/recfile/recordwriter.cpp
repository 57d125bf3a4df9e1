#include "platform/recfile/recordwriter.h"

#include "common/logfile.h"
#include "platform/recfile/aacframes.h"
#include "platform/recfile/filelist.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <QDateTime>

#include <cstring>

namespace varno::recfile {

namespace {

// A parameter-set block or a prefix of SEI units never grows beyond this.
constexpr size_t kMaxPrefix = 1 << 20;
// Samples in one AAC frame (one raw data block).
constexpr int64_t kAacFrameSamples = 1024;

} // namespace

RecordWriter::RecordWriter() = default;

RecordWriter::~RecordWriter()
{
    release();
}

void RecordWriter::release()
{
    if (m_ctx) {
        if (m_ctx->pb)
            avio_closep(&m_ctx->pb);
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
    }
    av_packet_free(&m_packet);
    m_video = nullptr;
    m_audio = nullptr;
}

int RecordWriter::open(const std::string &path, const RECORD_INFO_S &info, const MEDIA_TIME_S &start,
                       const std::vector<uint8_t> &cachedParams)
{
    m_codec = info.videoCodec == static_cast<int32_t>(MEDIA_VIDEO_H265) ? VideoCodec::H265 : VideoCodec::H264;
    m_fps = info.frameRate > 0 && info.frameRate <= 240 ? info.frameRate : 25;
    if (info.sampleRate > 0 && info.sampleRate <= 192000) {
        m_sampleRate = info.sampleRate;
        m_channels = info.channels > 0 && info.channels <= 8 ? info.channels : 1;
    }

    if (avformat_alloc_output_context2(&m_ctx, nullptr, "matroska", path.c_str()) < 0 || !m_ctx)
        return -1;
    m_packet = av_packet_alloc();
    if (!m_packet)
        return -1;

    m_video = avformat_new_stream(m_ctx, nullptr);
    if (!m_video)
        return -1;
    m_video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    m_video->codecpar->codec_id = m_codec == VideoCodec::H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    m_video->codecpar->width = info.width;
    m_video->codecpar->height = info.height;
    m_video->time_base = AVRational {1, 1000};
    m_video->avg_frame_rate = AVRational {m_fps, 1};

    if (m_sampleRate > 0) {
        m_audio = avformat_new_stream(m_ctx, nullptr);
        if (!m_audio)
            return -1;
        m_audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        m_audio->codecpar->sample_rate = m_sampleRate;
        av_channel_layout_default(&m_audio->codecpar->ch_layout, m_channels);
        m_audio->time_base = AVRational {1, m_sampleRate};
        m_aac = info.audioFormat == static_cast<int32_t>(MEDIA_AUDIO_AAC);
        if (m_aac) {
            // AAC-LC from the record information until the stream's own
            // headers say otherwise (they do before the file header is out).
            m_audio->codecpar->codec_id = AV_CODEC_ID_AAC;
            m_audio->codecpar->frame_size = static_cast<int>(kAacFrameSamples);
            m_aacConfig = aacConfig(2, aacFrequencyIndexOf(m_sampleRate), m_channels);
        } else {
            m_audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
            m_audio->codecpar->bits_per_coded_sample = 16;
            m_audio->codecpar->block_align = 2 * m_channels;
        }
    }

    char text[64];
    av_dict_set(&m_ctx->metadata, "VARNO_DEVICE", std::string(info.devId, ::strnlen(info.devId, sizeof(info.devId))).c_str(), 0);
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", start.year, start.month, start.day, start.hour,
                  start.minute, start.second);
    av_dict_set(&m_ctx->metadata, "VARNO_START", text, 0);
    av_dict_set_int(&m_ctx->metadata, "VARNO_FRAME_RATE", m_fps, 0);
    av_dict_set_int(&m_ctx->metadata, "VARNO_CHANNEL", info.channel, 0);
    av_dict_set_int(&m_ctx->metadata, "VARNO_AUDIO_FORMAT", info.audioFormat, 0);

    m_ctx->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    m_ctx->flush_packets = 1;
    if (avio_open(&m_ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return -1;

    // Parameter sets of the previous file: kept aside, used only if needed.
    for (const NalUnit &nal : splitAnnexB(cachedParams.data(), cachedParams.size())) {
        switch (parameterSetKind(m_codec, nal)) {
        case 1: m_vps.assign(nal.data, nal.data + nal.size); break;
        case 2: m_sps.assign(nal.data, nal.data + nal.size); break;
        case 3: m_pps.assign(nal.data, nal.data + nal.size); break;
        default: break;
        }
    }
    return 0;
}

bool RecordWriter::parametersComplete() const
{
    if (m_sps.empty() || m_pps.empty())
        return false;
    return m_codec == VideoCodec::H264 || !m_vps.empty();
}

std::vector<uint8_t> RecordWriter::parameterSets() const
{
    std::vector<uint8_t> out;
    if (!parametersComplete())
        return out;
    if (m_codec == VideoCodec::H265)
        appendWithStartCode(out, {m_vps.data(), m_vps.size()});
    appendWithStartCode(out, {m_sps.data(), m_sps.size()});
    appendWithStartCode(out, {m_pps.data(), m_pps.size()});
    return out;
}

int RecordWriter::startMuxer()
{
    const std::vector<uint8_t> extra = parameterSets();
    AVCodecParameters *par = m_video->codecpar;
    par->extradata = static_cast<uint8_t *>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return -1;
    std::memcpy(par->extradata, extra.data(), extra.size());
    par->extradata_size = static_cast<int>(extra.size());
    if (m_aac) {
        AVCodecParameters *apar = m_audio->codecpar;
        apar->extradata = static_cast<uint8_t *>(av_mallocz(m_aacConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!apar->extradata)
            return -1;
        std::memcpy(apar->extradata, m_aacConfig.data(), m_aacConfig.size());
        apar->extradata_size = static_cast<int>(m_aacConfig.size());
    }

    AVDictionary *options = nullptr;
    av_dict_set(&options, "cluster_time_limit", "1000", 0);
    av_dict_set(&options, "cluster_size_limit", "2097152", 0);
    const int ret = avformat_write_header(m_ctx, &options);
    av_dict_free(&options);
    if (ret < 0) {
        m_failed = true;
        return -1;
    }
    m_headerWritten = true;
    return 0;
}

int RecordWriter::writePacket(AVStream *stream, const uint8_t *data, size_t size, int64_t pts, int64_t duration,
                              int tbNum, int tbDen, bool key)
{
    if (av_new_packet(m_packet, static_cast<int>(size)) < 0)
        return -1;
    std::memcpy(m_packet->data, data, size);
    m_packet->stream_index = stream->index;
    m_packet->pts = pts;
    m_packet->dts = pts;
    m_packet->duration = duration;
    if (key)
        m_packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(m_packet, AVRational {tbNum, tbDen}, stream->time_base);
    const int ret = av_write_frame(m_ctx, m_packet);
    av_packet_unref(m_packet);
    if (ret < 0) {
        m_failed = true;
        return -1;
    }
    return 0;
}

int RecordWriter::flushPicture()
{
    if (m_picture.empty())
        return 0;
    const int ret = writePacket(m_video, m_picture.data(), m_picture.size(), m_pictureSlot, 1, 1, m_fps, m_pictureKey);
    m_picture.clear();
    return ret;
}

int RecordWriter::write(uint32_t type, const uint8_t *data, size_t size)
{
    if (!m_ctx || m_failed)
        return -1;
    if (!data || size == 0)
        return 0;

    if (type == MEDIA_FRAME_AUDIO) {
        if (m_aac)
            return writeAac(data, size);
        if (!m_audio || !m_headerWritten)
            return 0;
        const size_t frameBytes = 2 * static_cast<size_t>(m_channels);
        const size_t samples = size / frameBytes;
        if (samples == 0)
            return 0;
        const int ret = writePacket(m_audio, data, samples * frameBytes, m_audioSamples, static_cast<int64_t>(samples),
                                    1, m_sampleRate, true);
        m_audioSamples += static_cast<int64_t>(samples);
        return ret;
    }

    if (size == 1 && data[0] == 0) {
        // Filler: one frame slot without a picture.
        if (flushPicture() < 0)
            return -1;
        if (m_nextSlot > 0)
            ++m_nextSlot;
        return 0;
    }

    for (const NalUnit &nal : splitAnnexB(data, size)) {
        const int kind = parameterSetKind(m_codec, nal);
        if (kind == 1)
            m_vps.assign(nal.data, nal.data + nal.size);
        else if (kind == 2)
            m_sps.assign(nal.data, nal.data + nal.size);
        else if (kind == 3)
            m_pps.assign(nal.data, nal.data + nal.size);

        if (!isSlice(m_codec, nal)) {
            if (m_prefix.size() + nal.size + 4 > kMaxPrefix)
                m_prefix.clear();
            appendWithStartCode(m_prefix, nal);
            continue;
        }

        const bool key = isKeySlice(m_codec, nal);
        const bool first = isFirstSliceOfPicture(m_codec, nal);
        if (!first && !m_sawKey) {
            // A later slice of a picture whose first slice this file never
            // got (the stream began in the middle of a picture): the file
            // begins with the first slice of a key picture. Parameter sets
            // before it stay for the next picture.
            m_dropping = true;
            continue;
        }
        if (first || (m_picture.empty() && !m_dropping)) {
            if (flushPicture() < 0)
                return -1;
            m_dropping = false;
            if (!m_headerWritten) {
                if (!key || !parametersComplete()) {
                    // Nothing can be decoded before a key picture with its parameter sets.
                    m_dropping = true;
                    m_prefix.clear();
                    continue;
                }
                if (startMuxer() < 0)
                    return -1;
            }
            if (!m_sawKey && !key) {
                m_dropping = true;
                m_prefix.clear();
                continue;
            }
            m_sawKey = true;
            m_picture.swap(m_prefix);
            m_prefix.clear();
            appendWithStartCode(m_picture, nal);
            m_pictureKey = key;
            m_pictureSlot = m_nextSlot++;
        } else if (!m_dropping) {
            appendWithStartCode(m_picture, nal);
            m_pictureKey = m_pictureKey || key;
        }
    }
    return 0;
}

int RecordWriter::writeAac(const uint8_t *data, size_t size)
{
    // A frame may hold several ADTS frames back to back, and some senders
    // put a few bytes in front of the first: find the sync word.
    size_t pos = 0;
    AdtsFrame f;
    while (pos + 7 <= size && pos < 16 && !parseAdts(data + pos, size - pos, &f))
        ++pos;
    if (pos + 7 > size || pos >= 16) {
        // No ADTS header: one raw AAC frame of the record information's settings.
        if (!m_headerWritten)
            return 0;
        const int ret = writePacket(m_audio, data, size, m_audioSamples, kAacFrameSamples, 1, m_sampleRate, true);
        m_audioSamples += kAacFrameSamples;
        return ret;
    }
    while (pos + 7 <= size && parseAdts(data + pos, size - pos, &f)) {
        const uint8_t *frame = data + pos;
        pos += f.frameSize;
        const std::vector<uint8_t> config = aacConfig(f.objectType, f.frequencyIndex, f.channelConfig);
        if (!m_headerWritten) {
            // Before the first key picture: nothing is written, but the
            // stream's own settings become the track's.
            if (!m_aacConfigFixed) {
                m_aacConfigFixed = true;
                m_aacConfig = config;
                m_sampleRate = aacSampleRate(f.frequencyIndex);
                if (f.channelConfig >= 1 && f.channelConfig <= 6)
                    m_channels = f.channelConfig;
                m_audio->codecpar->sample_rate = m_sampleRate;
                av_channel_layout_uninit(&m_audio->codecpar->ch_layout);
                av_channel_layout_default(&m_audio->codecpar->ch_layout, m_channels);
                m_audio->time_base = AVRational {1, m_sampleRate};
            }
            continue;
        }
        if (config != m_aacConfig || f.rawBlocks != 1) {
            if (!m_aacMismatchLogged) {
                m_aacMismatchLogged = true;
                WriteLog(3, "%s(%d):AAC frame (type %d, rate index %d, channels %d, blocks %d) does not match the "
                            "track, dropped!!!",
                         "Record_local_MediaFileWrite", __LINE__, f.objectType, f.frequencyIndex, f.channelConfig,
                         f.rawBlocks);
            }
            continue;
        }
        if (writePacket(m_audio, frame + f.headerSize, f.frameSize - f.headerSize, m_audioSamples, kAacFrameSamples, 1,
                        m_sampleRate, true)
            < 0)
            return -1;
        m_audioSamples += kAacFrameSamples;
    }
    return 0;
}

int RecordWriter::finish()
{
    if (!m_ctx)
        return -1;
    int ret = 0;
    if (m_headerWritten && !m_failed) {
        if (flushPicture() < 0)
            ret = -1;
    }
    if (m_headerWritten) {
        if (av_write_trailer(m_ctx) < 0)
            ret = -1;
    }
    if (m_ctx->pb && avio_closep(&m_ctx->pb) < 0)
        ret = -1;
    release();
    return m_failed ? -1 : ret;
}

int64_t RecordWriter::lengthMs() const
{
    const int64_t video = av_rescale(m_nextSlot, 1000, m_fps);
    const int64_t audio = m_sampleRate > 0 ? av_rescale(m_audioSamples, 1000, m_sampleRate) : 0;
    return video > audio ? video : audio;
}

} // namespace varno::recfile
