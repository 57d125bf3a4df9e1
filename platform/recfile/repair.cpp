#include "platform/recfile/repair.h"

#include "common/textfield.h"
#include "platform/recfile/filelist.h"
#include "platform/recfile/recordreader.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace varno::recfile {

namespace {

bool parseStartTag(const std::string &text, MEDIA_TIME_S *out)
{
    unsigned y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6)
        return false;
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return false;
    *out = MEDIA_TIME_S {static_cast<uint16_t>(y), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                         static_cast<uint16_t>(h), static_cast<uint8_t>(mi), static_cast<uint8_t>(s)};
    return true;
}

void readTags(AVFormatContext *ctx, FileFacts *facts)
{
    const AVDictionaryEntry *e = av_dict_get(ctx->metadata, "VARNO_DEVICE", nullptr, 0);
    if (e && e->value)
        facts->devId = e->value;
    e = av_dict_get(ctx->metadata, "VARNO_START", nullptr, 0);
    if (e && e->value)
        facts->hasStart = parseStartTag(e->value, &facts->start);
    e = av_dict_get(ctx->metadata, "VARNO_CHANNEL", nullptr, 0);
    if (e && e->value)
        facts->channel = static_cast<uint32_t>(std::strtoul(e->value, nullptr, 10) & 0xFFFF);
    e = av_dict_get(ctx->metadata, "VARNO_FRAME_RATE", nullptr, 0);
    if (e && e->value) {
        const long rate = std::strtol(e->value, nullptr, 10);
        facts->frameRate = rate > 0 && rate <= 240 ? static_cast<uint32_t>(rate) : 0;
    }
}

void readStreams(AVFormatContext *ctx, int video, int audio, FileFacts *facts)
{
    const AVCodecParameters *vpar = ctx->streams[video]->codecpar;
    facts->videoType = vpar->codec_id == AV_CODEC_ID_HEVC ? MEDIA_VIDEO_H265 : MEDIA_VIDEO_H264;
    facts->width = vpar->width > 0 && vpar->width <= 65535 ? static_cast<uint32_t>(vpar->width) : 0;
    facts->height = vpar->height > 0 && vpar->height <= 65535 ? static_cast<uint32_t>(vpar->height) : 0;
    if (audio >= 0) {
        facts->sampleRate = static_cast<uint32_t>(ctx->streams[audio]->codecpar->sample_rate);
        facts->channels = static_cast<uint32_t>(ctx->streams[audio]->codecpar->ch_layout.nb_channels);
        facts->audioType = ctx->streams[audio]->codecpar->codec_id == AV_CODEC_ID_AAC ? MEDIA_AUDIO_AAC
                                                                                     : MEDIA_AUDIO_PCM16;
    }
}

int openInput(const std::string &path, AVFormatContext **ctx, int *video, int *audio)
{
    const AVInputFormat *mkv = av_find_input_format("matroska");
    if (avformat_open_input(ctx, path.c_str(), mkv, nullptr) < 0)
        return -1;
    *video = *audio = -1;
    for (unsigned i = 0; i < (*ctx)->nb_streams; ++i) {
        const AVCodecParameters *par = (*ctx)->streams[i]->codecpar;
        if (*video < 0 && (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC))
            *video = static_cast<int>(i);
        else if (*audio < 0 && (par->codec_id == AV_CODEC_ID_PCM_S16LE || par->codec_id == AV_CODEC_ID_AAC)
                 && par->sample_rate > 0
                 && par->ch_layout.nb_channels > 0)
            *audio = static_cast<int>(i);
    }
    if (*video < 0) {
        avformat_close_input(ctx);
        return -1;
    }
    return 0;
}

} // namespace

FileFacts probeFile(const std::string &path)
{
    FileFacts facts;
    RecordReader reader;
    if (reader.open(path) < 0)
        return facts;
    facts.readable = true;
    facts.complete = reader.complete();
    readTags(reader.context(), &facts);
    readStreams(reader.context(), reader.videoStream(), reader.audioStream(), &facts);
    if (!facts.frameRate)
        facts.frameRate = reader.frameRate();
    facts.lengthMs = reader.lengthMs();
    const uint32_t fps = reader.frameRate() ? reader.frameRate() : 25;
    facts.videoMs = av_rescale(reader.totalFrames(), 1000, fps);
    return facts;
}

int remuxFile(const std::string &src, const std::string &dst, FileFacts *facts)
{
    *facts = FileFacts {};
    AVFormatContext *in = nullptr;
    int video = -1, audio = -1;
    if (openInput(src, &in, &video, &audio) < 0)
        return -1;
    readTags(in, facts);
    readStreams(in, video, audio, facts);
    const int fps = facts->frameRate ? static_cast<int>(facts->frameRate) : 25;

    AVFormatContext *out = nullptr;
    int ret = -1;
    int64_t videoPackets = 0;
    int64_t videoEnd = 0, end = 0;
    int outIndex[2] = {-1, -1};
    int64_t lastDts[2] = {INT64_MIN, INT64_MIN};
    AVPacket *packet = av_packet_alloc();
    if (!packet || avformat_alloc_output_context2(&out, nullptr, "matroska", dst.c_str()) < 0 || !out)
        goto done;
    av_dict_copy(&out->metadata, in->metadata, 0);
    for (int k = 0; k < 2; ++k) {
        const int index = k == 0 ? video : audio;
        if (index < 0)
            continue;
        AVStream *s = avformat_new_stream(out, nullptr);
        if (!s || avcodec_parameters_copy(s->codecpar, in->streams[index]->codecpar) < 0)
            goto done;
        s->codecpar->codec_tag = 0;
        s->time_base = in->streams[index]->time_base;
        s->avg_frame_rate = AVRational {fps, 1};
        outIndex[k] = s->index;
    }
    if (avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE) < 0)
        goto done;
    {
        AVDictionary *options = nullptr;
        av_dict_set(&options, "cluster_time_limit", "1000", 0);
        const int h = avformat_write_header(out, &options);
        av_dict_free(&options);
        if (h < 0)
            goto done;
    }
    while (av_read_frame(in, packet) >= 0) {
        const int k = packet->stream_index == video ? 0 : packet->stream_index == audio ? 1 : -1;
        if (k < 0 || packet->pts == AV_NOPTS_VALUE || packet->size <= 0) {
            av_packet_unref(packet);
            continue;
        }
        if (packet->dts == AV_NOPTS_VALUE)
            packet->dts = packet->pts;
        if (packet->dts <= lastDts[k]) {
            av_packet_unref(packet);
            continue;
        }
        lastDts[k] = packet->dts;
        const AVRational tbIn = in->streams[packet->stream_index]->time_base;
        int64_t ms = av_rescale_q(packet->pts + (packet->duration > 0 ? packet->duration : 0), tbIn,
                                  AVRational {1, 1000});
        if (k == 0) {
            if (packet->duration <= 0)
                ms += 1000 / fps;
            if (ms > videoEnd)
                videoEnd = ms;
            ++videoPackets;
        }
        if (ms > end)
            end = ms;
        packet->stream_index = outIndex[k];
        av_packet_rescale_ts(packet, tbIn, out->streams[outIndex[k]]->time_base);
        packet->pos = -1;
        if (av_write_frame(out, packet) < 0) {
            av_packet_unref(packet);
            break;
        }
        av_packet_unref(packet);
    }
    if (av_write_trailer(out) < 0)
        goto done;
    ret = videoPackets > 0 ? 0 : -1;

done:
    if (out) {
        if (out->pb)
            avio_closep(&out->pb);
        avformat_free_context(out);
    }
    av_packet_free(&packet);
    avformat_close_input(&in);
    if (ret == 0) {
        facts->readable = true;
        facts->complete = true;
        facts->videoMs = videoEnd;
        facts->lengthMs = end;
    } else {
        std::remove(dst.c_str());
    }
    return ret;
}

bool parseRecordName(const std::string &name, std::string *devId, MEDIA_TIME_S *start)
{
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mkv") != 0)
        return false;
    const std::string stem = name.substr(0, name.size() - 4);
    const size_t t = stem.rfind('_');
    if (t == std::string::npos || t == 0)
        return false;
    const size_t d = stem.rfind('_', t - 1);
    if (d == std::string::npos || d == 0)
        return false;
    const std::string date = stem.substr(d + 1, t - d - 1);
    std::string time = stem.substr(t + 1);
    const size_t dash = time.find('-');
    if (dash != std::string::npos)
        time.resize(dash);
    if (date.size() != 8 || time.size() != 6)
        return false;
    for (char c : date + time)
        if (c < '0' || c > '9')
            return false;
    char text[32];
    std::snprintf(text, sizeof(text), "%.4s-%.2s-%.2s %.2s:%.2s:%.2s", date.c_str(), date.c_str() + 4,
                  date.c_str() + 6, time.c_str(), time.c_str() + 2, time.c_str() + 4);
    if (!parseStartTag(text, start))
        return false;
    *devId = stem.substr(0, d);
    return true;
}

void fillRecord(MEDIA_FILE_S &record, const FileFacts &facts, uint64_t fileSize)
{
    record.size = fileSize > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(fileSize);
    record.videoType = facts.videoType;
    record.frameRate = facts.frameRate;
    record.width = static_cast<uint16_t>(facts.width);
    record.height = static_cast<uint16_t>(facts.height);
    record.audioType = facts.audioType;
    record.sampleRate = facts.sampleRate;
    record.channels = facts.channels;
    record.bits = facts.sampleRate ? 16 : 0;
    const int64_t fps = facts.frameRate ? facts.frameRate : 25;
    record.frameCount = static_cast<uint32_t>(av_rescale(facts.videoMs, fps, 1000));
    record.lengthMs = facts.lengthMs > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(facts.lengthMs);
    record.endTime = addMilliseconds(record.startTime, facts.lengthMs);
}

} // namespace varno::recfile
