#include "playback/aacencoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <cstdio>
#include <cstring>

int aacFrequencyIndex(uint32_t r)
{
    if (r >= 92017)
        return 0;
    if (r >= 75132)
        return 1;
    if (r >= 55426)
        return 2;
    if (r >= 46009)
        return 3;
    if (r >= 37566)
        return 4;
    if (r >= 27713)
        return 5;
    if (r >= 23004)
        return 6;
    if (r >= 18783)
        return 7;
    if (r >= 13856)
        return 8;
    if (r >= 11502)
        return 9;
    if (r >= 9391)
        return 10;
    return 11;
}

uint32_t aacIndexRate(int index)
{
    static const uint32_t rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                       22050, 16000, 12000, 11025, 8000,  7350};
    return index >= 0 && index < 13 ? rates[index] : 8000;
}

void aacAudioSpecificConfig(uint32_t sampleRate, uint8_t out[2])
{
    const int index = aacFrequencyIndex(sampleRate);
    out[0] = static_cast<uint8_t>(0x10 | (index >> 1));
    out[1] = static_cast<uint8_t>(((index & 1) << 7) | 0x08);
}

int16_t alawToLinear(uint8_t code)
{
    code ^= 0x55;
    int t = (code & 0x0F) << 4;
    const int seg = (code & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (seg - 1);
    return static_cast<int16_t>((code & 0x80) ? t : -t);
}

AacEncoder::~AacEncoder()
{
    aacClose();
}

int AacEncoder::aacOpen(uint32_t sampleRate, uint32_t channels)
{
    aacClose();
    m_sampleRate = sampleRate;
    m_channels = channels ? channels : 1;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec)
        m_ctx = avcodec_alloc_context3(codec);
    if (m_ctx) {
        m_ctx->sample_rate = static_cast<int>(aacIndexRate(aacFrequencyIndex(sampleRate)));
        av_channel_layout_default(&m_ctx->ch_layout, static_cast<int>(m_channels));
        m_ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_ctx->profile = FF_PROFILE_AAC_LOW;
        m_ctx->time_base = AVRational {1, m_ctx->sample_rate};
        m_ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // raw frames, config out of band
        m_ctx->thread_count = 1;
    }
    if (!m_ctx || avcodec_open2(m_ctx, codec, nullptr) < 0) {
        std::fputs("failed to call faacEncOpen()\n", stdout);
        avcodec_free_context(&m_ctx);
        return -1;
    }
    m_inputSamples = static_cast<uint32_t>(m_ctx->frame_size);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet) {
        std::fputs("failed to call faacEncSetConfiguration ...\n", stdout);
        aacClose();
        return -1;
    }
    m_nextPts = 0;
    return 0;
}

uint32_t AacEncoder::encoderRate() const
{
    return m_ctx ? static_cast<uint32_t>(m_ctx->sample_rate) : 0;
}

int AacEncoder::initialPadding() const
{
    return m_ctx ? m_ctx->initial_padding : 0;
}

std::vector<uint8_t> AacEncoder::extradata() const
{
    if (!m_ctx || !m_ctx->extradata)
        return {};
    return std::vector<uint8_t>(m_ctx->extradata, m_ctx->extradata + m_ctx->extradata_size);
}

int AacEncoder::receive(std::vector<AacPacket> &out)
{
    int count = 0;
    for (;;) {
        const int ret = avcodec_receive_packet(m_ctx, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return count;
        if (ret < 0)
            return -1;
        AacPacket p;
        p.data.assign(m_packet->data, m_packet->data + m_packet->size);
        p.pts = m_packet->pts;
        p.duration = m_packet->duration;
        out.push_back(std::move(p));
        av_packet_unref(m_packet);
        ++count;
    }
}

template <typename Sample>
int AacEncoder::encodeSamples(uint32_t count, Sample sample, std::vector<AacPacket> &out)
{
    if (!m_ctx || count == 0 || count > m_inputSamples * m_channels)
        return -1;
    const uint32_t samples = count / m_channels;
    if (samples == 0)
        return 0;
    av_frame_unref(m_frame);
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->nb_samples = static_cast<int>(samples);
    m_frame->sample_rate = m_ctx->sample_rate;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_ctx->ch_layout) < 0 || av_frame_get_buffer(m_frame, 0) < 0)
        return -1;
    for (uint32_t c = 0; c < m_channels; ++c) {
        auto *plane = reinterpret_cast<float *>(m_frame->extended_data[c]);
        for (uint32_t i = 0; i < samples; ++i)
            plane[i] = sample(i * m_channels + c);
    }
    m_frame->pts = m_nextPts;
    m_nextPts += samples;
    if (avcodec_send_frame(m_ctx, m_frame) < 0) {
        std::fputs("faacEncEncode fail ...\n", stdout);
        return -1;
    }
    const int got = receive(out);
    if (got < 0)
        std::fputs("faacEncEncode fail ...\n", stdout);
    return got;
}

int AacEncoder::aacEncode(const uint8_t *aLaw, uint32_t count, std::vector<AacPacket> &out)
{
    if (!aLaw)
        return -1;
    return encodeSamples(count, [aLaw](uint32_t i) { return alawToLinear(aLaw[i]) / 32768.0f; }, out);
}

int AacEncoder::aacEncodePcm(const int16_t *pcm, uint32_t count, std::vector<AacPacket> &out)
{
    if (!pcm)
        return -1;
    return encodeSamples(count, [pcm](uint32_t i) { return pcm[i] / 32768.0f; }, out);
}

int AacEncoder::aacFlush(std::vector<AacPacket> &out)
{
    if (!m_ctx)
        return -1;
    if (avcodec_send_frame(m_ctx, nullptr) < 0)
        return -1;
    return receive(out);
}

void AacEncoder::aacClose()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_ctx);
    m_inputSamples = 0;
}
