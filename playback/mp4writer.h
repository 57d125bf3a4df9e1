#pragma once

#include "playback/aacencoder.h"
#include "playback/bytefifo.h"
#include "platform/recfile/nalunits.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

// Builds an MP4 file from a camera recording: H.264 (or H.265) copied picture
// by picture into a track of time scale 90,000 (sync samples on IDR / IRAP
// pictures); sound as
// AAC-LC, either copied from AAC frames as they came (ADTS) or encoded once
// from G.711 A-law (through a 10,240-byte FIFO) or from 16-bit PCM.
// libavformat's MP4 muxer writes the file; the tracks appear as their first
// data arrives.
class Mp4Writer
{
public:
    enum { kFifoSize = 10240, kAacFrameBytes = 1024, kVideoTimeScale = 90000 };
    // writeFrame types.
    enum { kVideo = 1, kAudioAlaw = 2, kAudioPcm = 3, kAudioAdts = 4 };

    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer &) = delete;
    Mp4Writer &operator=(const Mp4Writer &) = delete;

    // width, height and frameRate are what the caller believes; the stream's
    // own sequence parameter set takes precedence as soon as it arrives.
    int open(const char *path, uint32_t width, uint32_t height, uint32_t frameRate, uint32_t sampleRate);
    // The video is H.265 (an "hvc1" track) instead of H.264. Kept across open().
    void setH265(bool h265);
    // The tracks the file should get: the header waits (bounded) until
    // both have shown up. Without this call a track that comes much later
    // than the other is refused.
    void expectTracks(bool video, bool audio);
    // type kVideo: Annex B (3- or 4-byte start codes; a picture may span
    // calls, several pictures may share one); kAudioAlaw: A-law bytes;
    // kAudioPcm: 16-bit little-endian mono PCM; kAudioAdts: AAC frames with
    // ADTS headers. timestamp in microseconds. -1 when the file could not be
    // written.
    int writeFrame(int type, const uint8_t *data, uint32_t size, uint64_t timestamp);
    int finish();

    // For tests and the export's own checks: what has gone where so far.
    uint32_t fifoLength() const { return m_fifo.length(); }
    uint32_t aacFramesEncoded() const { return m_aacFrames; }
    uint32_t videoSamples() const { return m_videoSamples; }
    uint32_t audioPackets() const { return m_audioPackets; }
    uint32_t defaultSampleDuration() const { return m_defaultDuration; }
    // Rate and size in use (from the stream's SPS once seen).
    uint32_t frameRate() const { return m_frameRate; }
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    bool hasVideoTrack() const { return m_videoIndex >= 0; }
    bool hasAudioTrack() const { return m_audioIndex >= 0; }
    bool isOpen() const { return m_ctx != nullptr; }

private:
    struct Pending
    {
        AVPacket *packet = nullptr;
        bool video = false;
    };
    struct Picture
    {
        std::vector<uint8_t> data; // 4-byte lengths + units
        uint64_t timestamp = 0;
        bool sync = false;
        bool dropped = false; // came before the parameter sets
    };
    enum class AudioKind { None, Encoded, Copied };

    int writeVideo(const uint8_t *data, uint32_t size, uint64_t timestamp);
    int writeAudio(const uint8_t *data, uint32_t size, uint64_t timestamp);
    int writePcm(const uint8_t *data, uint32_t size);
    int writeAdts(const uint8_t *data, uint32_t size);
    bool takeAudioKind(AudioKind kind);
    void takeSequenceParameterSet(const uint8_t *nal, size_t size);
    void appendUnit(std::vector<uint8_t> &out, const uint8_t *nal, size_t size) const;
    int closePicture();
    int encodeFifo(bool final);
    int encodePcm(bool final);
    int emitVideo(const Picture &picture, int64_t duration);
    int emitAudio(const AacPacket &packet);
    int submit(AVPacket *packet, bool video);
    int startMuxer();
    void release();

    ByteFifo m_fifo;
    bool m_spsWritten = false;
    bool m_ppsWritten = false;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_frameRate = 0;
    uint32_t m_sampleRate = 8000;
    bool m_audioTrack = false;
    bool m_videoTrack = false;
    AVFormatContext *m_ctx = nullptr;

    std::string m_path;
    AacEncoder m_aac;
    AudioKind m_audioKind = AudioKind::None;
    std::vector<int16_t> m_pcm;            // PCM not yet encoded (under one frame)
    std::vector<uint8_t> m_adtsConfig;     // AudioSpecificConfig of copied AAC
    uint32_t m_adtsRate = 0;
    int m_adtsChannels = 1;
    int64_t m_adtsPts = 0;
    bool m_adtsMismatchLogged = false;
    bool m_videoRefusedLogged = false;
    bool m_expectVideo = false;
    bool m_expectAudio = false;
    varno::recfile::VideoCodec m_codec = varno::recfile::VideoCodec::H264;
    std::vector<uint8_t> m_vps, m_sps, m_pps;             // the track's (avcC / hvcC)
    std::vector<uint8_t> m_lastVps, m_lastSps, m_lastPps; // the stream's latest
    bool m_parametersChanged = false;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    bool m_headerWritten = false;
    bool m_headerFailed = false;
    bool m_writeFailed = false;
    std::deque<Pending> m_waiting; // samples before the file's header
    Picture m_picture;             // the picture being assembled
    bool m_pictureOpen = false;
    Picture m_held;                // the last whole picture, until its duration is known
    bool m_haveHeld = false;
    int64_t m_videoDts = 0;
    uint64_t m_firstVideoTs = 0;
    uint32_t m_defaultDuration = 3600;
    uint32_t m_aacFrames = 0;
    uint32_t m_videoSamples = 0;
    uint32_t m_audioPackets = 0;
    uint32_t m_droppedPictures = 0;
};
