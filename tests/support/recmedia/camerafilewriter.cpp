#include "tests/support/recmedia/camerafilewriter.h"

#include "common/camerafile.h"
#include "tests/support/files.h"

#include <cstring>

namespace varno::test {

CameraFileWriter::CameraFileWriter(uint32_t sampleRate, uint8_t frameRate, uint8_t resolution, uint8_t channel)
    : m_sampleRate(sampleRate), m_frameRate(frameRate), m_resolution(resolution), m_channel(channel)
{
}

void CameraFileWriter::chunk(const char *tag, const std::vector<uint8_t> &head, const std::vector<uint8_t> &payload)
{
    m_body.insert(m_body.end(), tag, tag + 4);
    m_body.insert(m_body.end(), head.begin(), head.end());
    m_body.insert(m_body.end(), payload.begin(), payload.end());
    m_body.resize(m_body.size() + (varno::camfile::paddedSize(static_cast<uint32_t>(payload.size())) - payload.size()),
                  0);
}

void CameraFileWriter::video(const std::vector<uint8_t> &annexB, uint64_t timestampUs, bool key, const char *tag)
{
    CAMFILE_VIDEO_HEAD_S head {};
    head.size = static_cast<uint32_t>(annexB.size());
    head.frameNo = m_videoFrames++;
    head.flags = key ? CAMFILE_VIDEO_KEY : 0;
    head.timestamp = timestampUs;
    std::vector<uint8_t> h(sizeof(head));
    std::memcpy(h.data(), &head, sizeof(head));
    chunk(tag, h, annexB);
}

void CameraFileWriter::audio(const std::vector<uint8_t> &aLaw, uint64_t timestampUs)
{
    CAMFILE_AUDIO_HEAD_S head {};
    head.size = static_cast<uint32_t>(aLaw.size());
    head.timestamp = timestampUs;
    std::vector<uint8_t> h(sizeof(head));
    std::memcpy(h.data(), &head, sizeof(head));
    chunk(varno::camfile::kTagAudio, h, aLaw);
}

void CameraFileWriter::raw(const std::vector<uint8_t> &bytes)
{
    m_body.insert(m_body.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> CameraFileWriter::bytes() const
{
    CAMFILE_HEADER_S header {};
    std::memcpy(header.magic, varno::camfile::kMagic, sizeof(header.magic));
    std::memcpy(header.devId, "test-camera", 11);
    header.audioSampleRate = m_sampleRate;
    header.chunkEnd = m_chunkEndSet ? m_chunkEnd : size();
    header.videoType = m_videoType;
    header.audioType = 0;
    header.audioBits = 8;
    header.audioChannels = 1;
    header.channel = m_channel;
    header.frameRate = m_frameRate;
    header.resolution = m_resolution;
    std::vector<uint8_t> out(sizeof(header));
    std::memcpy(out.data(), &header, sizeof(header));
    out.insert(out.end(), m_body.begin(), m_body.end());
    return out;
}

bool CameraFileWriter::save(const std::string &path) const
{
    const std::vector<uint8_t> b = bytes();
    return writeFile(QString::fromStdString(path),
                     QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())));
}

} // namespace varno::test
