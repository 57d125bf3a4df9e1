#pragma once

#include "playback/aacencoder.h"
#include "playback/bytefifo.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

// Builds an MP4 file from a camera recording: H.264 copied sample by sample
// into a track of time scale 90,000 (sync samples on IDR slices), G.711
// A-law re-encoded to AAC-LC mono through a 10,240-byte FIFO. libavformat's
// MP4 muxer writes the file; the tracks appear as their first data arrives.
class Mp4Writer
{
public:
    enum { kFifoSize = 10240, kAacFrameBytes = 1024, kVideoTimeScale = 90000 };

    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer &) = delete;
    Mp4Writer &operator=(const Mp4Writer &) = delete;

    int open(const char *path, uint32_t width, uint32_t height, uint32_t frameRate, uint32_t sampleRate);
    // type 1 video (Annex B, 4-byte start codes), 2 audio (A-law bytes);
    // timestamp in microseconds.
    int writeFrame(int type, const uint8_t *data, uint32_t size, uint64_t timestamp);
    int finish();

    // For tests: what has gone where so far.
    uint32_t fifoLength() const { return m_fifo.length(); }
    uint32_t aacFramesEncoded() const { return m_aacFrames; }
    uint32_t videoSamples() const { return m_videoSamples; }
    uint32_t defaultSampleDuration() const { return m_defaultDuration; }
    bool isOpen() const { return m_ctx != nullptr; }

private:
    struct Pending
    {
        AVPacket *packet = nullptr;
        bool video = false;
    };

    int writeVideo(const uint8_t *data, uint32_t size, uint64_t timestamp);
    int writeAudio(const uint8_t *data, uint32_t size, uint64_t timestamp);
    int encodeFifo(bool final);
    int emitVideo(const std::vector<uint8_t> &sample, bool sync, int64_t duration);
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
    uint64_t m_lastAudioTs = 0;
    uint64_t m_lastVideoTs = 0;
    bool m_audioTrack = false;
    bool m_videoTrack = false;
    AVFormatContext *m_ctx = nullptr;

    std::string m_path;
    AacEncoder m_aac;
    std::vector<uint8_t> m_sps, m_pps;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    bool m_headerWritten = false;
    bool m_headerFailed = false;
    std::deque<Pending> m_waiting;     // samples before the file's header
    std::vector<uint8_t> m_heldSample; // the last video sample, until its duration is known
    bool m_heldSync = false;
    bool m_haveHeld = false;
    int64_t m_videoDts = 0;
    uint32_t m_defaultDuration = 3600;
    uint32_t m_aacFrames = 0;
    uint32_t m_videoSamples = 0;
    uint32_t m_audioPackets = 0;
};
