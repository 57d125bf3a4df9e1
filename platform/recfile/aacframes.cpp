#include "platform/recfile/aacframes.h"

namespace varno::recfile {

namespace {

constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
constexpr size_t kMaxFrameSize = 0x1FFF; // 13-bit length field

} // namespace

bool parseAdts(const uint8_t *data, size_t size, AdtsFrame *frame)
{
    if (!data || size < 7 || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0)
        return false; // no sync word, or a layer other than 0
    AdtsFrame f;
    const bool crc = (data[1] & 0x01) == 0;
    f.objectType = ((data[2] >> 6) & 0x03) + 1;
    f.frequencyIndex = (data[2] >> 2) & 0x0F;
    f.channelConfig = ((data[2] & 0x01) << 2) | ((data[3] >> 6) & 0x03);
    f.frameSize = (size_t(data[3] & 0x03) << 11) | (size_t(data[4]) << 3) | (size_t(data[5]) >> 5);
    f.rawBlocks = (data[6] & 0x03) + 1;
    f.headerSize = crc ? 9 : 7;
    if (f.frequencyIndex > 12 || f.frameSize <= f.headerSize || f.frameSize > size)
        return false;
    *frame = f;
    return true;
}

int aacSampleRate(int frequencyIndex)
{
    return frequencyIndex >= 0 && frequencyIndex < 13 ? kRates[frequencyIndex] : 0;
}

int aacFrequencyIndexOf(int sampleRate)
{
    for (int i = 0; i < 13; ++i)
        if (sampleRate >= kRates[i])
            return i;
    return 15;
}

std::vector<uint8_t> aacConfig(int objectType, int frequencyIndex, int channelConfig)
{
    return {uint8_t((objectType & 0x1F) << 3 | (frequencyIndex & 0x0F) >> 1),
            uint8_t((frequencyIndex & 0x01) << 7 | (channelConfig & 0x0F) << 3)};
}

bool parseAacConfig(const uint8_t *config, size_t size, int *objectType, int *frequencyIndex, int *channelConfig)
{
    if (!config || size < 2)
        return false;
    const int type = config[0] >> 3;
    const int index = ((config[0] & 0x07) << 1) | (config[1] >> 7);
    const int channels = (config[1] >> 3) & 0x0F;
    // ADTS can carry object types 1 to 4 and the table's rates only.
    if (type < 1 || type > 4 || index > 12 || channels > 7)
        return false;
    *objectType = type;
    *frequencyIndex = index;
    *channelConfig = channels;
    return true;
}

bool makeAdtsHeader(int objectType, int frequencyIndex, int channelConfig, size_t payloadSize, uint8_t out[7])
{
    const size_t total = payloadSize + 7;
    if (objectType < 1 || objectType > 4 || frequencyIndex < 0 || frequencyIndex > 12 || channelConfig < 0
        || channelConfig > 7 || total > kMaxFrameSize)
        return false;
    out[0] = 0xFF;
    out[1] = 0xF1; // MPEG-4, layer 0, no CRC
    out[2] = uint8_t((objectType - 1) << 6 | frequencyIndex << 2 | channelConfig >> 2);
    out[3] = uint8_t((channelConfig & 0x03) << 6 | (total >> 11));
    out[4] = uint8_t((total >> 3) & 0xFF);
    out[5] = uint8_t((total & 0x07) << 5 | 0x1F); // buffer fullness 0x7FF: variable rate
    out[6] = 0xFC;                                 // fullness, one raw data block
    return true;
}

} // namespace varno::recfile
