#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes camera recording files (common/camerafile.h) for the tests and
// benchmarks of the MP4 export.
namespace varno::test {

class CameraFileWriter
{
public:
    // An empty path keeps the file in memory only (bytes()).
    CameraFileWriter(uint32_t sampleRate, uint8_t frameRate, uint8_t resolution, uint8_t channel = 1);

    void video(const std::vector<uint8_t> &annexB, uint64_t timestampUs, bool key, const char *tag = "00dc");
    void audio(const std::vector<uint8_t> &aLaw, uint64_t timestampUs);
    // Raw bytes (e.g. a damaged chunk).
    void raw(const std::vector<uint8_t> &bytes);
    // Sets the header's end-of-chunk-data field (0 = to the end of the file).
    void setChunkEnd(uint32_t offset) { m_chunkEnd = offset; m_chunkEndSet = true; }
    // The header's video type (camera code: 0 H.264, 1 H.265).
    void setVideoType(uint8_t type) { m_videoType = type; }
    uint32_t size() const { return static_cast<uint32_t>(m_body.size() + 512); }
    // Cuts the file to size bytes (at least the header) while the header
    // still claims the chunks written so far: a download that stopped.
    void truncate(uint32_t size)
    {
        if (!m_chunkEndSet)
            setChunkEnd(this->size());
        m_body.resize(size > 512 ? size - 512 : 0);
    }

    // The file as it stands; the end field is the current size unless set.
    std::vector<uint8_t> bytes() const;
    bool save(const std::string &path) const;

private:
    void chunk(const char *tag, const std::vector<uint8_t> &head, const std::vector<uint8_t> &payload);

    uint32_t m_sampleRate;
    uint8_t m_frameRate;
    uint8_t m_resolution;
    uint8_t m_channel;
    uint32_t m_videoFrames = 0;
    uint32_t m_chunkEnd = 0;
    uint8_t m_videoType = 0;
    bool m_chunkEndSet = false;
    std::vector<uint8_t> m_body;
};

} // namespace varno::test
