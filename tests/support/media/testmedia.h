#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QImage>

namespace varno::test {

// A planar YUV 4:2:0 picture with packed rows (chroma width / 2 x height / 2).
struct Yuv420
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;
};

// A deterministic picture: colour bars over a luma ramp, with a bright box
// whose position follows index (index < 0: no box, a still picture).
Yuv420 testPicture(int width, int height, int index);

struct EncodedFrame
{
    std::vector<uint8_t> data; // one access unit, Annex B, 4-byte start codes
    bool key = false;
};

// 1 = H.264 (libx264), 2 = H.265 (libx265).
bool haveEncoder(int codec);

struct EncodeOptions
{
    int codec = 1;
    int width = 320;
    int height = 240;
    int frames = 25;
    int fps = 25;
    int gop = 25;     // frames between IDR pictures
    int quality = 23; // CRF / QP-like: lower is better
    bool still = false;
    int slices = 1;   // slices per picture
    int sarNum = 0;   // pixel shape written into the stream (0: none)
    int sarDen = 0;
    bool busy = false;       // a moving ramp over the whole picture: every block changes, as in a busy scene
    int64_t bitRate = 0;     // > 0: this average rate (bits/s), also the cap, instead of quality
    std::string extraParams = {}; // appended to the x264 / x265 parameter list ("aud=1")
};

// Encodes pictures testPicture(w, h, i) (or index -1 when still) with low
// latency settings; parameter sets come in-band before every IDR picture.
std::vector<EncodedFrame> encodeStream(const EncodeOptions &options);

// The NAL units of an access unit, each with a 4-byte start code.
std::vector<std::vector<uint8_t>> splitNals(const std::vector<uint8_t> &accessUnit);
// NAL type of a unit that starts with a start code (H.264 or H.265 rules).
int nalType(const std::vector<uint8_t> &nal, int codec);

// What libavcodec makes of an Annex B byte stream (codec 1 = H.264,
// 2 = H.265), cut into access units by its parser: pictures out, the size of
// the last one, and failures (refused packets, damaged pictures).
struct Decoded
{
    int pictures = 0;
    int width = 0;
    int height = 0;
    int errors = 0;
};
Decoded decodeAnnexB(QByteArray stream, int codec = 1);
// The pieces (NAL units or access units) joined in order, then decoded.
Decoded decodeAnnexB(const std::vector<QByteArray> &pieces, int codec = 1);
Decoded decodeAnnexB(const std::vector<std::vector<uint8_t>> &pieces, int codec = 1);

// Reference BT.601 studio-range conversion in floating point, rounded.
QImage referenceRgb(const Yuv420 &picture);
QImage referenceRgb(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height);
// Peak signal-to-noise ratio of two pictures of the same size, in dB
// (over R, G and B; 100 for identical pictures).
double psnr(const QImage &a, const QImage &b);
// Largest difference of any colour channel.
int maxChannelDifference(const QImage &a, const QImage &b);

// G.711 expansion by the ITU-T formulas (independent of libavcodec).
int16_t alawToLinear(uint8_t value);
int16_t mulawToLinear(uint8_t value);
uint8_t linearToAlaw(int16_t pcm);
uint8_t linearToMulaw(int16_t pcm);

// A sine tone, 16-bit mono.
std::vector<int16_t> tone(int sampleRate, int frequency, int samples, int amplitude = 8000);
// The same tone in blocks: phase (radians) goes on where the last block ended.
std::vector<int16_t> tone(int sampleRate, int frequency, int samples, double *phase, int amplitude = 8000);
// AAC-LC ADTS frames of the given PCM (libavcodec's native encoder).
std::vector<std::vector<uint8_t>> encodeAacAdts(const std::vector<int16_t> &pcm, int sampleRate);

} // namespace varno::test
