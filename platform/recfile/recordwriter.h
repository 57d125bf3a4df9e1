#pragma once

#include "common/mediarecords.h"
#include "platform/recfile/nalunits.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;
struct AVPacket;

namespace varno::recfile {

// Writes one recording into a Matroska file. Pictures are collected from the
// recorder's NAL units (parameter sets and SEI go in front of the next
// picture) and each occupies one frame slot of 1/frameRate seconds; a filler
// frame occupies a slot without a picture. Audio is 16-bit PCM timed by its
// sample count, or, for an AAC stream (audio format 106), the camera's AAC
// frames as they are (ADTS headers removed, 1,024 samples each). Clusters close at least every second and every packet is
// flushed to the file, so a process killed mid-write loses at most the last
// cluster; the index is written by finish().
class RecordWriter
{
public:
    RecordWriter();
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // cachedParams: Annex B parameter sets of the device's previous file,
    // used only when this file's first key picture arrives without its own.
    int open(const std::string &path, const RECORD_INFO_S &info, const MEDIA_TIME_S &start,
             const std::vector<uint8_t> &cachedParams);
    int write(uint32_t type, const uint8_t *data, size_t size);
    // Writes the pending picture and the index and closes the file.
    int finish();

    // Nothing decodable was written (the file holds no header).
    bool empty() const { return !m_headerWritten; }
    uint32_t frameSlots() const { return static_cast<uint32_t>(m_nextSlot); }
    uint32_t frameRate() const { return static_cast<uint32_t>(m_fps); }
    int64_t lengthMs() const;
    bool hasAudio() const { return m_audio != nullptr; }
    // Audio settings of the track (an AAC stream's own once its first frame came).
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    // MEDIA_AUDIO_AAC or MEDIA_AUDIO_PCM16: what the audio track holds.
    uint32_t audioType() const { return m_aac ? MEDIA_AUDIO_AAC : MEDIA_AUDIO_PCM16; }
    // Current parameter sets, Annex B (empty until complete).
    std::vector<uint8_t> parameterSets() const;

private:
    bool parametersComplete() const;
    int startMuxer();
    int flushPicture();
    int writeAac(const uint8_t *data, size_t size);
    int writePacket(AVStream *stream, const uint8_t *data, size_t size, int64_t pts, int64_t duration,
                    int tbNum, int tbDen, bool key);
    void release();

    AVFormatContext *m_ctx = nullptr;
    AVStream *m_video = nullptr;
    AVStream *m_audio = nullptr;
    AVPacket *m_packet = nullptr;
    VideoCodec m_codec = VideoCodec::H264;
    int m_fps = 25;
    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_headerWritten = false;
    bool m_failed = false;
    bool m_sawKey = false;
    bool m_dropping = false;
    std::vector<uint8_t> m_vps, m_sps, m_pps;
    std::vector<uint8_t> m_prefix;
    std::vector<uint8_t> m_picture;
    bool m_pictureKey = false;
    int64_t m_pictureSlot = 0;
    int64_t m_nextSlot = 0;
    int64_t m_audioSamples = 0;
    bool m_aac = false;
    std::vector<uint8_t> m_aacConfig; // AudioSpecificConfig of the track
    bool m_aacConfigFixed = false;    // taken from the stream (else from the record information)
    bool m_aacMismatchLogged = false;
};

} // namespace varno::recfile
