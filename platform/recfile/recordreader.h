#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVBSFContext;
struct AVPacket;

namespace varno::recfile {

// Reads a recording file back frame by frame: video as Annex B (parameter
// sets in front of key pictures), audio as 16-bit PCM or, for an AAC track,
// as AAC frames with ADTS headers, and gaps of the
// recording as filler frames (one zero byte), one per empty frame slot.
// A file without its index (cut short) is scanned once at open for its length.
class RecordReader
{
public:
    RecordReader();
    ~RecordReader();
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    int open(const std::string &path);
    // Reads from memory (the buffer must outlive the reader).
    int openMemory(const uint8_t *data, size_t size);
    void close();

    uint32_t lengthMs() const { return m_lengthMs; }
    uint32_t totalFrames() const { return m_totalFrames; }
    uint32_t frameRate() const { return m_fileFrameRate; }
    // The file has its index and length (closed normally or repaired).
    bool complete() const { return m_complete; }
    // A global text tag of the file ("" when absent).
    std::string tag(const char *key) const;
    // Picture size and audio settings of the streams.
    int width() const;
    int height() const;
    int sampleRate() const;
    int channels() const;
    bool isH265() const;
    // The audio track holds AAC (handed out as ADTS frames).
    bool audioIsAac() const { return m_aac; }

    // Types as Record_local_MediaFileGetNextFrame; data valid until the next call.
    int next(uint32_t *type, const uint8_t **data, uint32_t *size);
    // Raw packets in file order for copying (stream 0 video, 1 audio).
    AVFormatContext *context() const { return m_ctx; }
    int videoStream() const { return m_video; }
    int audioStream() const { return m_audio; }
    int seekMs(int64_t ms);

private:
    int openInput();
    int setup();
    int scanLength(int64_t *videoEndMs, int64_t *endMs);
    int64_t slotOf(int64_t pts, int streamIndex) const;

    std::string m_path;
    const uint8_t *m_memData = nullptr;
    size_t m_memSize = 0;
    size_t m_memPos = 0;
    AVIOContext *m_avio = nullptr;
    AVFormatContext *m_ctx = nullptr;
    AVBSFContext *m_bsf = nullptr;
    AVPacket *m_packet = nullptr;
    AVPacket *m_out = nullptr;
    int m_video = -1;
    int m_audio = -1;
    bool m_aac = false;
    int m_aacType = 2, m_aacIndex = 0, m_aacChannels = 1;
    int m_fps = 25;
    uint32_t m_fileFrameRate = 0;
    uint32_t m_lengthMs = 0;
    uint32_t m_totalFrames = 0;
    bool m_complete = false;
    int64_t m_expectedSlot = -1;
    int64_t m_fillersLeft = 0;
    bool m_pendingVideo = false;
    bool m_eof = false;
    std::vector<uint8_t> m_frame;
    uint8_t m_filler = 0;

    friend int readMemory(void *opaque, uint8_t *buf, int size);
    friend int64_t seekMemory(void *opaque, int64_t offset, int whence);
};

// Longest run of filler frames returned for one gap.
inline constexpr int64_t kMaxFillerSeconds = 600;

} // namespace varno::recfile
