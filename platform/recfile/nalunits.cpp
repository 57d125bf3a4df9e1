#include "platform/recfile/nalunits.h"

namespace varno::recfile {

std::vector<NalUnit> splitAnnexB(const uint8_t *data, size_t size)
{
    std::vector<NalUnit> units;
    if (!data || size < 4)
        return units;
    // Positions of the first byte after each start code, and where each start code begins.
    size_t i = 0;
    size_t begin = 0;
    bool inUnit = false;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            size_t codeStart = i;
            if (codeStart > 0 && data[codeStart - 1] == 0)
                --codeStart;
            if (inUnit && codeStart > begin)
                units.push_back({data + begin, codeStart - begin});
            begin = i + 3;
            inUnit = true;
            i += 3;
            continue;
        }
        ++i;
    }
    if (inUnit && size > begin)
        units.push_back({data + begin, size - begin});
    return units;
}

int nalType(VideoCodec codec, const NalUnit &nal)
{
    if (nal.size < 1)
        return -1;
    if (codec == VideoCodec::H264)
        return nal.data[0] & 0x1F;
    return (nal.data[0] >> 1) & 0x3F;
}

bool isSlice(VideoCodec codec, const NalUnit &nal)
{
    const int t = nalType(codec, nal);
    if (codec == VideoCodec::H264)
        return t >= 1 && t <= 5;
    return t >= 0 && t <= 31 && nal.size >= 2;
}

bool isKeySlice(VideoCodec codec, const NalUnit &nal)
{
    const int t = nalType(codec, nal);
    if (codec == VideoCodec::H264)
        return t == 5;
    return t >= 16 && t <= 23;
}

bool isFirstSliceOfPicture(VideoCodec codec, const NalUnit &nal)
{
    if (!isSlice(codec, nal))
        return false;
    // H.264: first_mb_in_slice is ue(v) right after the 1-byte header; the
    // value 0 is the single bit 1. H.265: the first bit after the 2-byte header.
    const size_t at = codec == VideoCodec::H264 ? 1 : 2;
    if (nal.size <= at)
        return true;
    return (nal.data[at] & 0x80) != 0;
}

int parameterSetKind(VideoCodec codec, const NalUnit &nal)
{
    const int t = nalType(codec, nal);
    if (codec == VideoCodec::H264) {
        if (t == 7)
            return 2;
        if (t == 8)
            return 3;
        return 0;
    }
    if (t == 32)
        return 1;
    if (t == 33)
        return 2;
    if (t == 34)
        return 3;
    return 0;
}

void appendWithStartCode(std::vector<uint8_t> &out, const NalUnit &nal)
{
    static const uint8_t code[4] = {0, 0, 0, 1};
    out.insert(out.end(), code, code + 4);
    out.insert(out.end(), nal.data, nal.data + nal.size);
}

} // namespace varno::recfile
