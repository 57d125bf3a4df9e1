#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varno::camsim {

// One encoded video frame: an H.264 or H.265 access unit as an Annex B byte
// stream with 4-byte start codes (a key frame carries the parameter sets
// and the key picture's slices).
struct AccessUnit
{
    std::vector<uint8_t> data;
    bool key = false;
};

struct VideoSettings
{
    int width = 320;
    int height = 180;
    int fps = 25;
    int kbps = 300;
    int keySeconds = 2;       // a key frame every 2 s
    int loopSeconds = 4;      // length of the encoded loop (a multiple of keySeconds)
    int noise = 0;            // 0..32: grain that makes the picture cost bits
    bool h265 = false;        // H.265 (libx265) instead of H.264
};

// A stretch of video encoded once (libx264 or libx265 through libavcodec;
// H.265 as cameras send it: an access unit delimiter and SEI in every
// picture, two slices per picture, VPS, SPS and PPS before every key
// picture) and replayed
// with fresh time stamps. The picture is distinct per seed: a coloured
// background with a gradient, a square that moves across it and a bar that
// sweeps down.
class VideoLoop
{
public:
    // Encodes the loop; false with a reason in error() when the encoder fails.
    bool encode(const VideoSettings &settings, uint32_t seed);

    const std::vector<AccessUnit> &frames() const { return m_frames; }
    const VideoSettings &settings() const { return m_settings; }
    const std::vector<uint8_t> &sps() const { return m_sps; }   // without start code
    const std::vector<uint8_t> &pps() const { return m_pps; }
    bool h265() const { return m_settings.h265; }
    const std::string &error() const { return m_error; }
    uint64_t totalBytes() const;

private:
    VideoSettings m_settings;
    std::vector<AccessUnit> m_frames;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
    std::string m_error;
};

// The loop's scene encoded picture by picture as it is sent, as seen by a
// camera whose head turns: shifted against the turn (pan and tilt -1 .. 1, a
// third of the picture at the end of the range) and magnified around the
// centre (zoom 0 .. 1, twice at full zoom), the uncovered edge black. The
// first picture is a key picture, then one every keySeconds.
class LiveVideo
{
public:
    LiveVideo();
    ~LiveVideo();
    LiveVideo(const LiveVideo &) = delete;
    LiveVideo &operator=(const LiveVideo &) = delete;

    bool open(const VideoSettings &settings, uint32_t seed);
    // The next picture: the scene at loop position index; empty data when
    // the encoder failed.
    AccessUnit next(int index, double pan, double tilt, double zoom);
    const std::string &error() const { return m_error; }

private:
    struct State;
    std::unique_ptr<State> m;
    std::string m_error;
};

// One second of a G.711 A-law tone at 8000 Hz (8000 bytes), continuous when
// repeated.
std::vector<uint8_t> alawTone(int frequencyHz);

// ITU-T G.711 A-law compression of one 16-bit sample.
uint8_t linearToAlaw(int16_t sample);

// Rewrites an Annex B stream so that every NAL unit has a 4-byte start code.
std::vector<uint8_t> withLongStartCodes(const uint8_t *data, size_t size);

// NAL units of an Annex B stream: offsets of the first byte after each start
// code and the unit's length.
struct NalRef
{
    size_t offset;
    size_t size;
};
std::vector<NalRef> splitNals(const uint8_t *data, size_t size);

} // namespace varno::camsim
