#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Media made by the tests themselves: H.264/H.265 from libavcodec (libx264,
// libx265 when present), tones as 16-bit PCM or G.711 A-law, and Annex B
// helpers. Used by the recording file and MP4 export tests and benchmarks.
namespace varno::test {

struct EncodedPicture
{
    std::vector<uint8_t> data; // Annex B access unit
    bool key = false;
};

class VideoSource
{
public:
    // codec "libx264" or "libx265"; bitRate 0 keeps the encoder's default.
    // extraParams are appended to the encoder's own parameter list (x264:
    // "slices=4:aud=1" gives what many cameras send).
    VideoSource(int width, int height, int fps, int gop, const char *codec = "libx264", int64_t bitRate = 0,
                const char *extraParams = nullptr);
    ~VideoSource();
    VideoSource(const VideoSource &) = delete;
    VideoSource &operator=(const VideoSource &) = delete;

    bool ok() const { return m_ok; }
    // Encodes count pictures of a moving pattern (decode order = display order).
    std::vector<EncodedPicture> encode(int count);
    static bool available(const char *codec);

private:
    struct Private;
    Private *d;
    bool m_ok = false;
};

// NAL units of an Annex B buffer, each returned with its 4-byte start code.
std::vector<std::vector<uint8_t>> nalUnitsWithStartCodes(const std::vector<uint8_t> &annexB);
// H.264 NAL type of a unit that starts with a 4-byte start code.
int h264NalType(const std::vector<uint8_t> &unit);
// The recorder's frame type for an H.264 NAL type (101 ... 105, or 0).
uint32_t recorderFrameType(int nalType);

// A sine tone as 16-bit PCM; phase continues across calls.
std::vector<int16_t> tone(int sampleRate, double frequency, int samples, double *phase, double amplitude = 8000);
// ITU-T G.711 A-law compression.
uint8_t alawEncode(int16_t sample);

// Runs a program and returns its standard output ("" on failure).
std::string runProgram(const std::vector<std::string> &args, int *exitCode = nullptr);

} // namespace varno::test
