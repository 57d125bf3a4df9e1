#include "playback/localexport.h"

#include "common/logfile.h"
#include "platform/recfile/record_local.h"
#include "playback/mp4writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <memory>
#include <vector>

namespace varno::playback {

namespace {

// Turns a recording's AAC frames (ADTS) back into 16-bit PCM of the first
// channel, for the writer's A-law input.
class AacToPcm
{
public:
    AacToPcm()
    {
        const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
        m_ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_ctx || !m_frame || !m_packet || avcodec_open2(m_ctx, codec, nullptr) < 0)
            avcodec_free_context(&m_ctx);
    }
    ~AacToPcm()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_ctx);
    }
    AacToPcm(const AacToPcm &) = delete;
    AacToPcm &operator=(const AacToPcm &) = delete;

    // Appends the PCM of one ADTS frame to out; false on a frame the decoder refuses.
    bool decode(const uint8_t *data, uint32_t size, std::vector<int16_t> *out)
    {
        if (!m_ctx || av_new_packet(m_packet, int(size)) < 0)
            return false;
        std::copy(data, data + size, m_packet->data);
        const int sent = avcodec_send_packet(m_ctx, m_packet);
        av_packet_unref(m_packet);
        if (sent < 0)
            return false;
        while (avcodec_receive_frame(m_ctx, m_frame) == 0) {
            const int n = m_frame->nb_samples;
            for (int i = 0; i < n; ++i) {
                float v = 0;
                if (m_frame->format == AV_SAMPLE_FMT_FLTP || m_frame->format == AV_SAMPLE_FMT_FLT)
                    v = reinterpret_cast<const float *>(m_frame->data[0])[m_frame->format == AV_SAMPLE_FMT_FLT
                                                                              ? i * m_frame->ch_layout.nb_channels
                                                                              : i];
                else if (m_frame->format == AV_SAMPLE_FMT_S16P)
                    v = float(reinterpret_cast<const int16_t *>(m_frame->data[0])[i]) / 32768.0f;
                out->push_back(int16_t(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
            }
            av_frame_unref(m_frame);
        }
        return true;
    }

private:
    AVCodecContext *m_ctx = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
};

} // namespace

uint8_t linearToAlaw(int16_t sample)
{
    int pcm = sample;
    int mask;
    if (pcm >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static const int segEnd[8] = {0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF};
    pcm >>= 3;
    int seg = 0;
    while (seg < 8 && pcm > segEnd[seg])
        ++seg;
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0F : (pcm >> seg) & 0x0F;
    return uint8_t(aval ^ mask);
}

int exportLocalToMp4(const char *sourcePath, const char *targetPath, const MEDIA_FILE_S &file,
                     const std::function<bool(int percent)> &progress)
{
    if (file.videoType == 4) {
        WriteLog(3, "%s(%d):File(%s) is not H.264, not exported!!!", "fileplay::exportLocalFile", __LINE__,
                 sourcePath ? sourcePath : "");
        return kExportUnsupported;
    }
    RECORD_HANDLE handle = 0;
    uint32_t length = 0, totalFrames = 0, frameRate = 0;
    const int ret = Record_local_MediaFileOpen(sourcePath, &handle, &length, &totalFrames, &frameRate);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "fileplay::exportLocalFile", __LINE__,
                 sourcePath ? sourcePath : "", ret);
        return kExportOpenFailed;
    }
    if (frameRate == 0)
        frameRate = 25;
    const uint32_t sampleRate = file.sampleRate ? file.sampleRate : 8000;
    Mp4Writer writer;
    if (writer.open(targetPath, file.width, file.height, frameRate, sampleRate) < 0) {
        Record_local_MediaFileClose(handle);
        return kExportWriteFailed;
    }
    int result = 0;
    uint64_t slot = 0;
    uint64_t samples = 0;
    int lastPercent = -1;
    std::vector<uint8_t> alaw;
    std::vector<int16_t> pcm;
    std::unique_ptr<AacToPcm> aac;
    bool aacErrorLogged = false;
    if (file.audioType == MEDIA_AUDIO_AAC)
        aac = std::make_unique<AacToPcm>();
    for (;;) {
        uint32_t type = 0, size = 0;
        unsigned char *data = nullptr;
        if (Record_local_MediaFileGetNextFrame(handle, &type, &data, &size) != 0)
            break;
        if (type == 1) {
            // 16-bit PCM of the recording, or its AAC decoded; the writer takes A-law.
            uint32_t n = 0;
            if (aac) {
                pcm.clear();
                if (!aac->decode(data, size, &pcm) && !aacErrorLogged) {
                    aacErrorLogged = true;
                    WriteLog(3, "%s(%d):File(%s) has an AAC frame that does not decode, skipped!!!",
                             "fileplay::exportLocalFile", __LINE__, sourcePath);
                }
                n = uint32_t(pcm.size());
                alaw.resize(n);
                for (uint32_t i = 0; i < n; ++i)
                    alaw[i] = linearToAlaw(pcm[i]);
            } else {
                n = size / 2;
                alaw.resize(n);
                for (uint32_t i = 0; i < n; ++i)
                    alaw[i] = linearToAlaw(int16_t(uint16_t(data[2 * i]) | uint16_t(data[2 * i + 1]) << 8));
            }
            const uint64_t ts = samples * 1000000 / sampleRate;
            samples += n;
            if (n > 0 && writer.writeFrame(2, alaw.data(), n, ts) < 0) {
                result = kExportWriteFailed;
                break;
            }
            continue;
        }
        const uint64_t ts = slot * 1000000 / frameRate;
        ++slot;
        if (size > 1 && writer.writeFrame(1, data, size, ts) < 0) {
            result = kExportWriteFailed;
            break;
        }
        const int percent = totalFrames > 0 ? int(std::min<uint64_t>(slot * 100 / totalFrames, 100)) : 0;
        if (percent != lastPercent) {
            lastPercent = percent;
            if (progress && !progress(percent)) {
                result = kExportCancelled;
                break;
            }
        }
    }
    if (writer.finish() < 0 && result == 0)
        result = kExportWriteFailed;
    Record_local_MediaFileClose(handle);
    if (result == 0 && progress)
        progress(100);
    return result;
}

} // namespace varno::playback
