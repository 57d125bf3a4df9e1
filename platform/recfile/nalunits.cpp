#include "platform/recfile/nalunits.h"

#include "common/mediarecords.h"

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
    return t >= 16 && t <= 23 && nal.size >= 2;
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

size_t startCodeLength(const uint8_t *data, size_t size)
{
    if (!data || size < 3 || data[0] != 0 || data[1] != 0)
        return 0;
    if (data[2] == 1)
        return 3;
    if (size >= 4 && data[2] == 0 && data[3] == 1)
        return 4;
    return 0;
}

NalUnit firstNalUnit(const uint8_t *data, size_t size)
{
    const size_t code = startCodeLength(data, size);
    if (code == 0 || size <= code)
        return {};
    NalUnit first;
    forEachNalUnit(data, size, [&](const NalUnit &nal) {
        first = nal;
        return false;
    });
    return first;
}

int mediaFrameType(VideoCodec codec, const NalUnit &nal)
{
    const int t = nalType(codec, nal);
    if (t < 0)
        return MEDIA_FRAME_OTHER;
    if (codec == VideoCodec::H264) {
        switch (t) {
        case 5: return MEDIA_FRAME_IDR;
        case 1: return MEDIA_FRAME_SLICE;
        case 6: return MEDIA_FRAME_SEI;
        case 7: return MEDIA_FRAME_SPS;
        case 8: return MEDIA_FRAME_PPS;
        default: return MEDIA_FRAME_OTHER;
        }
    }
    if (isKeySlice(codec, nal))
        return MEDIA_FRAME_IDR;
    if (t <= 9) // the VCL types 10..15 are reserved
        return MEDIA_FRAME_SLICE;
    switch (t) {
    case 32:
    case 33: return MEDIA_FRAME_SPS;
    case 34: return MEDIA_FRAME_PPS;
    case 39:
    case 40: return MEDIA_FRAME_SEI;
    default: return MEDIA_FRAME_OTHER;
    }
}

int mediaFrameType(VideoCodec codec, const uint8_t *data, size_t size)
{
    const NalUnit first = firstNalUnit(data, size);
    return first.size ? mediaFrameType(codec, first) : int(MEDIA_FRAME_OTHER);
}

bool containsKeySlice(VideoCodec codec, const uint8_t *data, size_t size)
{
    bool key = false;
    forEachNalUnit(data, size, [&](const NalUnit &nal) {
        key = isKeySlice(codec, nal);
        return !key;
    });
    return key;
}

bool startsDecodable(VideoCodec codec, const uint8_t *data, size_t size)
{
    bool key = false;
    forEachNalUnit(data, size, [&](const NalUnit &nal) {
        const int kind = parameterSetKind(codec, nal);
        key = kind == 1 || kind == 2 || isKeySlice(codec, nal);
        return !key;
    });
    return key;
}

bool startsWithParameterSets(VideoCodec codec, const uint8_t *data, size_t size)
{
    if (!startCodeLength(data, size))
        return false;
    bool opens = false;
    forEachNalUnit(data, size, [&](const NalUnit &nal) {
        const int t = nalType(codec, nal);
        const bool lead = codec == VideoCodec::H264 ? (t == 9 || t == 6) : (t == 35 || t == 39);
        if (lead)
            return true; // an access unit delimiter or SEI before them
        const int kind = parameterSetKind(codec, nal);
        opens = kind == 1 || kind == 2;
        return false;
    });
    return opens;
}

void appendWithStartCode(std::vector<uint8_t> &out, const NalUnit &nal)
{
    static const uint8_t code[4] = {0, 0, 0, 1};
    out.insert(out.end(), code, code + 4);
    out.insert(out.end(), nal.data, nal.data + nal.size);
}

} // namespace varno::recfile

namespace varno::recfile {

std::vector<uint8_t> unescapeRbsp(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

namespace {

// MSB-first bit reader over an RBSP; reading past the end sets failed().
class BitReader
{
public:
    explicit BitReader(const std::vector<uint8_t> &bytes)
        : m_bytes(bytes)
    {
    }
    uint32_t bits(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (m_pos >= m_bytes.size() * 8) {
                m_failed = true;
                return 0;
            }
            v = (v << 1) | ((m_bytes[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u);
            ++m_pos;
        }
        return v;
    }
    bool flag() { return bits(1) != 0; }
    void skip(size_t n)
    {
        m_pos += n;
        if (m_pos > m_bytes.size() * 8)
            m_failed = true;
    }
    uint32_t ue()
    {
        int leading = 0;
        while (!m_failed && bits(1) == 0)
            if (++leading > 31) {
                m_failed = true;
                return 0;
            }
        if (m_failed)
            return 0;
        return ((1u << leading) - 1u) + bits(leading);
    }
    int32_t se()
    {
        const uint32_t k = ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    bool failed() const { return m_failed; }

private:
    const std::vector<uint8_t> &m_bytes;
    size_t m_pos = 0;
    bool m_failed = false;
};

void skipScalingList(BitReader &r, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size && !r.failed(); ++j) {
        if (next != 0)
            next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

// Aspect ratio, overscan, signal type and chroma location: the VUI fields
// in front of the timing information (the same in both codecs).
void skipVuiHead(BitReader &r)
{
    if (r.flag() && r.bits(8) == 255)
        r.skip(32);
    if (r.flag())
        r.skip(1);
    if (r.flag()) {
        r.skip(4);
        if (r.flag())
            r.skip(24);
    }
    if (r.flag()) {
        r.ue();
        r.ue();
    }
}

bool parseH264Sps(BitReader &r, SequenceInfo *info)
{
    info->profile = int(r.bits(8));
    r.skip(8);
    info->level = int(r.bits(8));
    r.ue();
    uint32_t chroma = 1;
    bool separatePlanes = false;
    switch (info->profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
        chroma = r.ue();
        if (chroma == 3)
            separatePlanes = r.flag();
        r.ue();
        r.ue();
        r.skip(1);
        if (r.flag())
            for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i)
                if (r.flag())
                    skipScalingList(r, i < 6 ? 16 : 64);
        break;
    default: break;
    }
    r.ue(); // log2_max_frame_num_minus4
    const uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.skip(1);
        r.se();
        r.se();
        const uint32_t n = r.ue();
        if (n > 255)
            return false;
        for (uint32_t i = 0; i < n; ++i)
            r.se();
    }
    r.ue(); // max_num_ref_frames
    r.skip(1);
    const uint32_t widthMbs = r.ue() + 1;
    const uint32_t heightUnits = r.ue() + 1;
    const bool frameMbsOnly = r.flag();
    if (!frameMbsOnly)
        r.skip(1);
    r.skip(1);
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.flag()) {
        cropLeft = r.ue();
        cropRight = r.ue();
        cropTop = r.ue();
        cropBottom = r.ue();
    }
    if (r.failed() || widthMbs > 1024 || heightUnits > 1024)
        return false;
    const uint32_t arrayType = separatePlanes ? 0 : chroma;
    const uint32_t cropX = arrayType == 0 ? 1 : (chroma == 3 ? 1 : 2);
    const uint32_t cropY = (arrayType == 0 ? 1 : (chroma == 1 ? 2 : 1)) * (frameMbsOnly ? 1 : 2);
    const int64_t width = int64_t(widthMbs) * 16 - int64_t(cropX) * (cropLeft + cropRight);
    const int64_t height = int64_t(heightUnits) * 16 * (frameMbsOnly ? 1 : 2) - int64_t(cropY) * (cropTop + cropBottom);
    if (width <= 0 || height <= 0)
        return false;
    info->width = int(width);
    info->height = int(height);
    if (r.flag()) {
        skipVuiHead(r);
        if (!r.failed() && r.flag()) {
            const uint32_t unitsInTick = r.bits(32);
            const uint32_t timeScale = r.bits(32);
            if (!r.failed() && unitsInTick > 0)
                info->frameRate = double(timeScale) / (2.0 * unitsInTick);
        }
    }
    return true;
}

// H.265: size only (the timing information sits behind the reference
// picture sets, which are not read).
bool parseH265Sps(BitReader &r, SequenceInfo *info)
{
    r.skip(4);
    const uint32_t subLayers = r.bits(3);
    r.skip(1);
    // profile_tier_level(1, subLayers)
    r.skip(3);
    info->profile = int(r.bits(5));
    r.skip(32 + 48);
    info->level = int(r.bits(8));
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (uint32_t i = 0; i < subLayers; ++i) {
        profilePresent[i] = r.flag();
        levelPresent[i] = r.flag();
    }
    if (subLayers > 0)
        r.skip(2 * (8 - subLayers));
    for (uint32_t i = 0; i < subLayers; ++i) {
        if (profilePresent[i])
            r.skip(88);
        if (levelPresent[i])
            r.skip(8);
    }
    r.ue();
    const uint32_t chroma = r.ue();
    if (chroma == 3)
        r.skip(1);
    const uint32_t width = r.ue();
    const uint32_t height = r.ue();
    uint32_t left = 0, right = 0, top = 0, bottom = 0;
    if (r.flag()) {
        left = r.ue();
        right = r.ue();
        top = r.ue();
        bottom = r.ue();
    }
    if (r.failed() || chroma > 3 || width == 0 || height == 0 || width > 16888 || height > 16888)
        return false;
    const uint32_t subW = chroma == 1 || chroma == 2 ? 2 : 1;
    const uint32_t subH = chroma == 1 ? 2 : 1;
    const int64_t w = int64_t(width) - int64_t(subW) * (left + right);
    const int64_t h = int64_t(height) - int64_t(subH) * (top + bottom);
    if (w <= 0 || h <= 0)
        return false;
    info->width = int(w);
    info->height = int(h);
    return true;
}

} // namespace

bool parseSequenceParameterSet(VideoCodec codec, const NalUnit &nal, SequenceInfo *info)
{
    if (!info || parameterSetKind(codec, nal) != 2)
        return false;
    const size_t header = codec == VideoCodec::H264 ? 1 : 2;
    if (nal.size <= header)
        return false;
    const std::vector<uint8_t> rbsp = unescapeRbsp(nal.data + header, nal.size - header);
    BitReader r(rbsp);
    SequenceInfo out;
    const bool ok = codec == VideoCodec::H264 ? parseH264Sps(r, &out) : parseH265Sps(r, &out);
    if (!ok)
        return false;
    *info = out;
    return true;
}

} // namespace varno::recfile
