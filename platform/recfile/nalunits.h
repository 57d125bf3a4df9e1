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
