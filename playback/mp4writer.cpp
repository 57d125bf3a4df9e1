#include "playback/mp4writer.h"

#include "common/logfile.h"
#include "platform/recfile/aacframes.h"
#include "platform/recfile/nalunits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

using varno::recfile::NalUnit;
using varno::recfile::VideoCodec;

// Samples held while only one kind of track has appeared (about 10 s of
// video, or of audio, whichever fills first); then the file starts without
// the other track. When the caller said which tracks to expect, the wait is
// longer (about a minute of either).
constexpr size_t kMaxWaitingVideo = 250;
constexpr size_t kMaxWaitingAudio = 200;
constexpr size_t kMaxWaitingExpected = 1500;
// Units that open a new access unit when a picture is being assembled:
// delimiters, SEI (H.265: prefix SEI only) and parameter sets.
bool startsAccessUnit(VideoCodec codec, const NalUnit &nal)
{
    const int type = varno::recfile::nalType(codec, nal);
    if (codec == VideoCodec::H264)
        return type == 9 || type == 6 || type == 7 || type == 8;
    return type == 35 || type == 39 || (type >= 32 && type <= 34);
}

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
    m_pcm.clear();
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
    m_headerWritten = m_headerFailed = m_writeFailed = false;
    m_audioKind = AudioKind::None;
    m_adtsConfig.clear();
    m_adtsRate = 0;
    m_adtsChannels = 1;
    m_adtsPts = 0;
    m_adtsMismatchLogged = false;
    m_videoRefusedLogged = false;
    m_expectVideo = m_expectAudio = false;
    m_vps.clear();
    m_lastVps.clear();
    m_sps.clear();
    m_pps.clear();
    m_lastSps.clear();
    m_lastPps.clear();
    m_parametersChanged = false;
    m_picture = Picture {};
    m_pictureOpen = false;
    m_held = Picture {};
    m_haveHeld = false;
    m_videoDts = 0;
    m_aacFrames = m_videoSamples = m_audioPackets = m_droppedPictures = 0;
    m_videoIndex = m_audioIndex = -1;
    if (m_aac.aacOpen(m_sampleRate, 1) < 0)
        WriteLog(2, "%s(%d):Open aac encoder failed, sampleRate(%u)!!!", "Mp4Writer::open", __LINE__, m_sampleRate);
    m_fifo.create(kFifoSize);
    WriteLog(0, "[MP4]Create file(%s) success!!!", path);
    return 0;
}

void Mp4Writer::setH265(bool h265)
{
    m_codec = h265 ? VideoCodec::H265 : VideoCodec::H264;
}

void Mp4Writer::expectTracks(bool video, bool audio)
{
    m_expectVideo = video;
    m_expectAudio = audio;
}

int Mp4Writer::writeFrame(int type, const uint8_t *data, uint32_t size, uint64_t timestamp)
{
    if (!m_ctx || !data || size == 0) {
        WriteLog(2, "[MP4]Param is error!!!");
        return -1;
    }
    int ret = 0;
    switch (type) {
    case kVideo: ret = writeVideo(data, size, timestamp); break;
    case kAudioAlaw: ret = writeAudio(data, size, timestamp); break;
    case kAudioPcm: ret = writePcm(data, size); break;
    case kAudioAdts: ret = writeAdts(data, size); break;
    default:
        WriteLog(3, "[MP4]Unknow frame type(%d), size(%d)!!!", type, static_cast<int>(size));
        return 0;
    }
    if (ret < 0)
        m_writeFailed = true;
    return ret;
}

void Mp4Writer::takeSequenceParameterSet(const uint8_t *nal, size_t size)
{
    const std::vector<uint8_t> unit(nal, nal + size);
    if (m_spsWritten) {
        if (unit != m_lastSps) {
            m_lastSps = unit;
            if (unit != m_sps && !m_parametersChanged) {
                varno::recfile::SequenceInfo info;
                varno::recfile::parseSequenceParameterSet(m_codec, {nal, size}, &info);
                WriteLog(3, "%s(%d):The stream's parameter sets changed (now %dx%d), carried in the pictures!!!",
                         "Mp4Writer::writeVideo", __LINE__, info.width, info.height);
            }
            m_parametersChanged = m_parametersChanged || unit != m_sps;
        }
        return;
    }
    varno::recfile::SequenceInfo info;
    if (size < 4 || m_headerWritten || !varno::recfile::parseSequenceParameterSet(m_codec, {nal, size}, &info)) {
        if (!m_videoRefusedLogged)
            WriteLog(2, "[MP4]Add video track error!!!");
        m_videoRefusedLogged = true;
        return;
    }
    // The picture's own size and rate, not what the caller was told.
    m_width = static_cast<uint32_t>(info.width);
    m_height = static_cast<uint32_t>(info.height);
    const long rate = std::lround(info.frameRate);
    if (rate >= 1 && rate <= 240 && std::abs(info.frameRate - double(rate)) < 0.05) {
        m_frameRate = static_cast<uint32_t>(rate);
        m_defaultDuration = kVideoTimeScale / m_frameRate;
    }
    m_videoTrack = true;
    WriteLog(0, "[MP4]Add video track(%d,%d,%d) success!!!", static_cast<int>(m_width), static_cast<int>(m_height),
             static_cast<int>(m_frameRate));
    m_sps = unit;
    m_lastSps = unit;
    m_spsWritten = true;
}

int Mp4Writer::writeVideo(const uint8_t *data, uint32_t size, uint64_t timestamp)
{
    // An access unit as cameras send it: a delimiter, parameter sets, SEI,
    // then one or more slices. A picture ends where the next one's first
    // slice, delimiter, parameter set or SEI begins, in this call or a later one.
    for (const NalUnit &nal : varno::recfile::splitAnnexB(data, size)) {
        const int type = varno::recfile::nalType(m_codec, nal);
        if (!varno::recfile::isSlice(m_codec, nal)) {
            if (m_pictureOpen && startsAccessUnit(m_codec, nal) && closePicture() < 0)
                return -1;
            const int kind = varno::recfile::parameterSetKind(m_codec, nal);
            const std::vector<uint8_t> unit(nal.data, nal.data + nal.size);
            if (kind == 1) {
                if (!m_spsWritten)
                    m_vps = unit;
                else
                    m_parametersChanged = m_parametersChanged || unit != m_vps;
                m_lastVps = unit;
            } else if (kind == 2) {
                takeSequenceParameterSet(nal.data, nal.size);
            } else if (kind == 3) {
                if (m_spsWritten && !m_ppsWritten) {
                    m_pps = unit;
                    m_ppsWritten = true;
                } else if (m_ppsWritten) {
                    m_parametersChanged = m_parametersChanged || unit != m_pps;
                }
                if (m_spsWritten)
                    m_lastPps = unit;
            }
            continue; // delimiters, SEI and the rest are not stored
        }
        if (m_codec == VideoCodec::H264 && type != 1 && type != 5)
            continue; // data partitions
        if (m_codec == VideoCodec::H265 && type > 21)
            continue; // reserved picture types
        const bool key = varno::recfile::isKeySlice(m_codec, nal);
        if (varno::recfile::isFirstSliceOfPicture(m_codec, nal) || !m_pictureOpen) {
            if (m_pictureOpen && closePicture() < 0)
                return -1;
            m_pictureOpen = true;
            m_picture = Picture {};
            m_picture.timestamp = timestamp;
            m_picture.sync = key;
            // Nothing decodes before a key picture with its parameter sets.
            const bool parameters
                = m_videoTrack && m_spsWritten && m_ppsWritten && (m_codec == VideoCodec::H264 || !m_vps.empty());
            m_picture.dropped = !parameters || (!m_haveHeld && !key);
            if (!m_picture.dropped && m_picture.sync && m_parametersChanged) {
                for (const std::vector<uint8_t> *set : {&m_lastVps, &m_lastSps, &m_lastPps})
                    if (!set->empty())
                        appendUnit(m_picture.data, set->data(), set->size());
            }
        }
        m_picture.sync = m_picture.sync || key;
        appendUnit(m_picture.data, nal.data, nal.size);
    }
    return 0;
}

void Mp4Writer::appendUnit(std::vector<uint8_t> &out, const uint8_t *nal, size_t size) const
{
    // H.264 samples are written as stored (4-byte lengths); H.265 ones in
    // Annex B, which the muxer turns into lengths against its hvcC.
    if (m_codec == VideoCodec::H264)
        putBigEndian32(out, static_cast<uint32_t>(size));
    else
        out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), nal, nal + size);
}

int Mp4Writer::closePicture()
{
    if (!m_pictureOpen)
        return 0;
    m_pictureOpen = false;
    if (m_picture.dropped || m_picture.data.empty()) {
        ++m_droppedPictures;
        return 0;
    }
    int ret = 0;
    if (m_haveHeld) {
        // Each sample lasts until the next one starts, measured from the
        // first picture's time so that rounding never adds up.
        const double since = static_cast<double>(static_cast<int64_t>(m_picture.timestamp - m_firstVideoTs));
        int64_t duration = std::llround(since * 0.09) - m_videoDts;
        if (duration <= 0)
            duration = m_defaultDuration; // the camera's clock went back or stood still
        ret = emitVideo(m_held, duration);
    } else {
        m_firstVideoTs = m_picture.timestamp;
    }
    m_held = std::move(m_picture);
    m_picture = Picture {};
    m_haveHeld = true;
    return ret;
}

bool Mp4Writer::takeAudioKind(AudioKind kind)
{
    if (m_audioKind == kind)
        return true;
    if (m_audioKind != AudioKind::None || m_headerWritten || (kind == AudioKind::Encoded && !m_aac.isOpen())) {
        if (!m_adtsMismatchLogged) {
            m_adtsMismatchLogged = true;
            WriteLog(2, "[MP4]Add audio track error!!!");
        }
        return false;
    }
    m_audioKind = kind;
    m_audioTrack = true;
    return true;
}

int Mp4Writer::writeAudio(const uint8_t *data, uint32_t size, uint64_t)
{
    if (!m_ctx) {
        WriteLog(2, "[MP4]Handle is invalid!!!");
        return -1;
    }
    if (!takeAudioKind(AudioKind::Encoded))
        return 0;
    // Whatever the chunk size, no byte is dropped: fill, encode every whole
    // frame, fill again.
    uint32_t done = 0;
    while (done < size) {
        done += m_fifo.put(data + done, size - done);
        if (encodeFifo(false) < 0)
            return -1;
    }
    return 0;
}

int Mp4Writer::writePcm(const uint8_t *data, uint32_t size)
{
    if (!takeAudioKind(AudioKind::Encoded))
        return 0;
    for (uint32_t i = 0; i + 1 < size; i += 2)
        m_pcm.push_back(static_cast<int16_t>(uint16_t(data[i]) | uint16_t(data[i + 1]) << 8));
    return encodePcm(false);
}

int Mp4Writer::writeAdts(const uint8_t *data, uint32_t size)
{
    // Some senders put a few bytes in front of the first header.
    size_t pos = 0;
    varno::recfile::AdtsFrame f;
    while (pos + 7 <= size && pos < 16 && !varno::recfile::parseAdts(data + pos, size - pos, &f))
        ++pos;
    while (pos + 7 <= size && varno::recfile::parseAdts(data + pos, size - pos, &f)) {
        const uint8_t *frame = data + pos;
        pos += f.frameSize;
        const std::vector<uint8_t> config
            = varno::recfile::aacConfig(f.objectType, f.frequencyIndex, f.channelConfig);
        if (m_audioKind == AudioKind::None && !m_headerWritten && !config.empty()
            && varno::recfile::aacSampleRate(f.frequencyIndex) > 0) {
            m_adtsConfig = config;
            m_adtsRate = static_cast<uint32_t>(varno::recfile::aacSampleRate(f.frequencyIndex));
            m_adtsChannels = f.channelConfig >= 1 && f.channelConfig <= 6 ? f.channelConfig : 1;
        }
        if (!takeAudioKind(AudioKind::Copied))
            return 0;
        if (config != m_adtsConfig || f.rawBlocks != 1 || f.frameSize <= f.headerSize) {
            if (!m_adtsMismatchLogged) {
                m_adtsMismatchLogged = true;
                WriteLog(3, "%s(%d):AAC frame (type %d, rate index %d, channels %d, blocks %d) does not match the "
                            "track, dropped!!!",
                         "Mp4Writer::writeFrame", __LINE__, f.objectType, f.frequencyIndex, f.channelConfig,
                         f.rawBlocks);
            }
            continue;
        }
        AacPacket p;
        p.data.assign(frame + f.headerSize, frame + f.frameSize);
        p.pts = m_adtsPts;
        p.duration = 1024;
        m_adtsPts += 1024;
        if (emitAudio(p) < 0) {
            WriteLog(2, "[MP4]Write audio sample error, size(%d)!!!", static_cast<int>(p.data.size()));
            return -1;
        }
    }
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

int Mp4Writer::encodePcm(bool final)
{
    size_t at = 0;
    while (m_pcm.size() - at >= kAacFrameBytes || (final && m_pcm.size() > at)) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kAacFrameBytes, m_pcm.size() - at));
        std::vector<AacPacket> packets;
        const int ret = m_aac.aacEncodePcm(m_pcm.data() + at, n, packets);
        at += n;
        if (ret < 0)
            continue; // the encoder refused these samples; keep converting
        ++m_aacFrames;
        for (const AacPacket &p : packets)
            if (emitAudio(p) < 0) {
                WriteLog(2, "[MP4]Write audio sample error, size(%d)!!!", static_cast<int>(p.data.size()));
                m_pcm.erase(m_pcm.begin(), m_pcm.begin() + static_cast<long>(at));
                return -1;
            }
    }
    m_pcm.erase(m_pcm.begin(), m_pcm.begin() + static_cast<long>(at));
    return 0;
}

int Mp4Writer::emitVideo(const Picture &picture, int64_t duration)
{
    AVPacket *packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, static_cast<int>(picture.data.size())) < 0) {
        av_packet_free(&packet);
        return -1;
    }
    std::memcpy(packet->data, picture.data.data(), picture.data.size());
    packet->pts = packet->dts = m_videoDts;
    packet->duration = duration;
    if (picture.sync)
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
        const bool haveVideo = m_videoTrack && m_ppsWritten;
        if (m_expectVideo || m_expectAudio) {
            const bool ready = (!m_expectVideo || haveVideo) && (!m_expectAudio || m_audioTrack);
            if (ready || videos >= kMaxWaitingExpected || audios >= kMaxWaitingExpected)
                return startMuxer();
            return 0;
        }
        const bool bothTracks = m_audioTrack && haveVideo;
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
    const int audioRate = static_cast<int>(m_audioKind == AudioKind::Copied ? m_adtsRate : m_aac.encoderRate());
    const AVRational tb = video ? AVRational {1, kVideoTimeScale} : AVRational {1, audioRate};
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
        par->width = static_cast<int>(m_width);
        par->height = static_cast<int>(m_height);
        std::vector<uint8_t> avcc;
        if (m_codec == VideoCodec::H264) {
            par->codec_id = AV_CODEC_ID_H264;
            // avcC: profile, compatibility and level from the SPS, 4-byte lengths.
            avcc = {1, m_sps[1], m_sps[2], m_sps[3], 0xFF, 0xE1};
            avcc.push_back(static_cast<uint8_t>(m_sps.size() >> 8));
            avcc.push_back(static_cast<uint8_t>(m_sps.size()));
            avcc.insert(avcc.end(), m_sps.begin(), m_sps.end());
            avcc.push_back(1);
            avcc.push_back(static_cast<uint8_t>(m_pps.size() >> 8));
            avcc.push_back(static_cast<uint8_t>(m_pps.size()));
            avcc.insert(avcc.end(), m_pps.begin(), m_pps.end());
        } else {
            // VPS, SPS and PPS in Annex B: the muxer builds the hvcC of an
            // "hvc1" sample entry from them (parameter sets there only).
            par->codec_id = AV_CODEC_ID_HEVC;
            par->codec_tag = MKTAG('h', 'v', 'c', '1');
            for (const std::vector<uint8_t> *set : {&m_vps, &m_sps, &m_pps}) {
                avcc.insert(avcc.end(), {0, 0, 0, 1});
                avcc.insert(avcc.end(), set->begin(), set->end());
            }
        }
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
    if (m_audioKind == AudioKind::Encoded && m_aac.isOpen()) {
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
    } else if (m_audioKind == AudioKind::Copied) {
        AVStream *s = avformat_new_stream(m_ctx, nullptr);
        if (!s) {
            m_headerFailed = true;
            return -1;
        }
        AVCodecParameters *par = s->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AAC;
        par->sample_rate = static_cast<int>(m_adtsRate);
        par->frame_size = 1024;
        av_channel_layout_default(&par->ch_layout, m_adtsChannels);
        par->extradata = static_cast<uint8_t *>(av_mallocz(m_adtsConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) {
            m_headerFailed = true;
            return -1;
        }
        std::memcpy(par->extradata, m_adtsConfig.data(), m_adtsConfig.size());
        par->extradata_size = static_cast<int>(m_adtsConfig.size());
        s->time_base = AVRational {1, static_cast<int>(m_adtsRate)};
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
    int result = m_writeFailed ? -1 : 0;
    if (closePicture() < 0)
        result = -1;
    if (m_audioKind == AudioKind::Encoded) {
        if ((m_fifo.valid() && encodeFifo(true) < 0) || encodePcm(true) < 0)
            result = -1;
        std::vector<AacPacket> packets;
        m_aac.aacFlush(packets);
        for (const AacPacket &p : packets)
            if (result == 0 && emitAudio(p) < 0) {
                WriteLog(2, "[MP4]Write audio sample error, size(%d)!!!", static_cast<int>(p.data.size()));
                result = -1;
            }
    }
    if (m_haveHeld) {
        // The last sample has no successor: the track's default duration.
        if (emitVideo(m_held, m_defaultDuration) < 0)
            result = -1;
        m_haveHeld = false;
    }
    if (!m_headerWritten && !m_waiting.empty() && startMuxer() < 0)
        result = -1;
    if (m_headerFailed)
        result = -1;
    // Even after a failed write the index of what was written goes out, so
    // the file stays playable.
    if (m_headerWritten && !m_headerFailed && av_write_trailer(m_ctx) < 0)
        result = -1;
    if (m_ctx->pb && (m_ctx->pb->error < 0 || avio_closep(&m_ctx->pb) < 0))
        result = -1;
    if (m_droppedPictures > 0)
        WriteLog(3, "%s(%d):%u picture(s) before the first key picture with its parameter sets, not written!!!",
                 "Mp4Writer::finish", __LINE__, m_droppedPictures);
    release();
    if (result < 0)
        return -1;
    WriteLog(0, "[MP4]Writed mp4 file finished!!!");
    return 0;
}
