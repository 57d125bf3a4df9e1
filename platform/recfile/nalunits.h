#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Annex B byte streams of H.264 and H.265: splitting into NAL units and the
// few facts the recording files need about each unit.
namespace varno::recfile {

enum class VideoCodec { H264, H265 };

struct NalUnit
{
    const uint8_t *data = nullptr; // first byte of the NAL header (after the start code)
    size_t size = 0;               // up to the next start code or the end
};

// Every NAL unit of an Annex B buffer (3- or 4-byte start codes). Bytes
// before the first start code are ignored; a buffer without any start code
// yields nothing.
std::vector<NalUnit> splitAnnexB(const uint8_t *data, size_t size);

// NAL unit type (H.264: low 5 bits of byte 0; H.265: bits 1..6 of byte 0).
int nalType(VideoCodec codec, const NalUnit &nal);

// The unit carries a coded picture slice.
bool isSlice(VideoCodec codec, const NalUnit &nal);
// The slice belongs to a key picture (H.264 IDR; H.265 IRAP).
bool isKeySlice(VideoCodec codec, const NalUnit &nal);
// The slice is the first of its picture (first_mb_in_slice 0, or H.265
// first_slice_segment_in_pic_flag).
bool isFirstSliceOfPicture(VideoCodec codec, const NalUnit &nal);

// Parameter-set kinds: 0 none, 1 VPS (H.265), 2 SPS, 3 PPS.
int parameterSetKind(VideoCodec codec, const NalUnit &nal);

// Calls f(NalUnit) for every NAL unit of an Annex B buffer, like
// splitAnnexB but without building a list; f returns false to stop early.
template <typename F>
void forEachNalUnit(const uint8_t *data, size_t size, F f)
{
    if (!data || size < 4)
        return;
    size_t begin = 0;
    bool inUnit = false;
    size_t i = 0;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            size_t codeStart = i;
            if (codeStart > 0 && data[codeStart - 1] == 0)
                --codeStart;
            if (inUnit && codeStart > begin && !f(NalUnit {data + begin, codeStart - begin}))
                return;
            begin = i + 3;
            inUnit = true;
            i += 3;
            continue;
        }
        ++i;
    }
    if (inUnit && size > begin)
        f(NalUnit {data + begin, size - begin});
}

// Length of the start code the buffer begins with: 4 (00 00 00 01), 3
// (00 00 01) or 0 (none).
size_t startCodeLength(const uint8_t *data, size_t size);

// The first NAL unit of a buffer that begins with a start code (up to the
// next start code); size 0 when the buffer does not begin with one.
NalUnit firstNalUnit(const uint8_t *data, size_t size);

// The frame type a recording file and the recorder's queue give a NAL unit
// (MEDIA_FRAME_IDR, _SLICE, _SEI, _SPS, _PPS or _OTHER). H.265 maps by
// meaning: IRAP slices are key slices, VPS and SPS both open the
// parameter sets (_SPS), prefix and suffix SEI are _SEI.
int mediaFrameType(VideoCodec codec, const NalUnit &nal);
// The same for the first unit of a buffer that begins with a start code
// (_OTHER when it does not).
int mediaFrameType(VideoCodec codec, const uint8_t *data, size_t size);

// The buffer holds a slice of a key picture (anywhere in it).
bool containsKeySlice(VideoCodec codec, const uint8_t *data, size_t size);
// A decoder can begin with this buffer: it holds a parameter set (VPS or
// SPS) or a key slice anywhere, behind AUD or SEI units or not.
bool startsDecodable(VideoCodec codec, const uint8_t *data, size_t size);
// The buffer begins with the stream's parameter sets (H.264 SPS; H.265 VPS
// or SPS), behind an access unit delimiter or SEI units or not.
bool startsWithParameterSets(VideoCodec codec, const uint8_t *data, size_t size);

// Appends 00 00 00 01 and the unit.
void appendWithStartCode(std::vector<uint8_t> &out, const NalUnit &nal);

// What a sequence parameter set says about the pictures: the displayed size
// (cropping applied) and, when the stream carries timing information, the
// picture rate (0 when it does not).
struct SequenceInfo
{
    int width = 0;
    int height = 0;
    double frameRate = 0;
    int profile = 0; // profile_idc (H.264) / general_profile_idc (H.265)
    int level = 0;
};

// Reads an SPS unit (header included); false when it is not one or is cut short.
bool parseSequenceParameterSet(VideoCodec codec, const NalUnit &nal, SequenceInfo *info);

// The unit's payload without its emulation-prevention bytes (00 00 03).
std::vector<uint8_t> unescapeRbsp(const uint8_t *data, size_t size);

} // namespace varno::recfile
