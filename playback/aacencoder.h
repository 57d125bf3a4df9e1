#pragma once

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// One AAC-LC frame out of the encoder: raw (no ADTS header), its time in
// samples of the encoder's rate (negative for the encoder's priming).
struct AacPacket
{
    std::vector<uint8_t> data;
    int64_t pts = 0;
    int64_t duration = 0;
};

// AAC-LC encoding of G.711 A-law or 16-bit PCM audio with libavcodec's
// native encoder: MPEG-4, raw output, 1,024 samples per frame. One instance
// per conversion.
class AacEncoder
{
public:
    AacEncoder() = default;
    ~AacEncoder();
    AacEncoder(const AacEncoder &) = delete;
    AacEncoder &operator=(const AacEncoder &) = delete;

    // 0 or -1. The encoder runs at the standard rate of the sampling-frequency
    // index of sampleRate (8000 stays 8000).
    int aacOpen(uint32_t sampleRate, uint32_t channels);
    // Expands count A-law bytes (at most one frame of samples) to 16-bit PCM
    // and encodes them; the frames that come out are appended to out.
    // A count below 1,024 is the final short frame. Returns the number of
    // frames appended, or -1.
    int aacEncode(const uint8_t *aLaw, uint32_t count, std::vector<AacPacket> &out);
    // The same for count 16-bit PCM samples (interleaved when several channels).
    int aacEncodePcm(const int16_t *pcm, uint32_t count, std::vector<AacPacket> &out);
    // Drains the frames the encoder still holds.
    int aacFlush(std::vector<AacPacket> &out);
    void aacClose();

    bool isOpen() const { return m_ctx != nullptr; }
    uint32_t inputSamples() const { return m_inputSamples; }
    uint32_t encoderRate() const;
    int initialPadding() const;
    // The codec's own AudioSpecificConfig.
    std::vector<uint8_t> extradata() const;
    AVCodecContext *context() const { return m_ctx; }

private:
    int receive(std::vector<AacPacket> &out);
    // Encodes count interleaved samples; sample(i) is the i-th as a float.
    template <typename Sample>
    int encodeSamples(uint32_t count, Sample sample, std::vector<AacPacket> &out);

    AVCodecContext *m_ctx = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    uint32_t m_sampleRate = 0;
    uint32_t m_channels = 0;
    uint32_t m_inputSamples = 0;
    int64_t m_nextPts = 0;
};

// Sampling-frequency index of a sample rate (8000 gives 11).
int aacFrequencyIndex(uint32_t sampleRate);
// Standard rate of an index (0 ... 12).
uint32_t aacIndexRate(int index);
// The 2-byte AudioSpecificConfig of AAC-LC mono at that rate.
void aacAudioSpecificConfig(uint32_t sampleRate, uint8_t out[2]);
// ITU-T G.711 A-law expansion.
int16_t alawToLinear(uint8_t code);
