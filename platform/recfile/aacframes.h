#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varno::recfile {

// One ADTS frame as cameras send AAC: a 7-byte header (9 with a CRC) in
// front of the raw data block(s).
struct AdtsFrame
{
    int objectType = 0;        // 2 for AAC-LC (the header's profile + 1)
    int frequencyIndex = 0;    // 0..12
    int channelConfig = 0;     // 0..7
    size_t headerSize = 0;     // 7, or 9 with a CRC
    size_t frameSize = 0;      // header included
    int rawBlocks = 1;         // raw data blocks in the frame (1..4)
};

// Parses the ADTS header at data; false when there is none or it claims more
// bytes than size.
bool parseAdts(const uint8_t *data, size_t size, AdtsFrame *frame);

// Sample rate of an ADTS/AudioSpecificConfig frequency index (0 when invalid),
// and the index of a rate (the nearest lower table rate; 15 when none).
int aacSampleRate(int frequencyIndex);
int aacFrequencyIndexOf(int sampleRate);

// The two-byte AudioSpecificConfig of a frame's settings, and the settings
// back from one (false when it is shorter than two bytes or unusable).
std::vector<uint8_t> aacConfig(int objectType, int frequencyIndex, int channelConfig);
bool parseAacConfig(const uint8_t *config, size_t size, int *objectType, int *frequencyIndex, int *channelConfig);

// Writes the 7-byte ADTS header (no CRC, one raw block) for payloadSize bytes
// of raw AAC; false when the settings or the size do not fit the header.
bool makeAdtsHeader(int objectType, int frequencyIndex, int channelConfig, size_t payloadSize, uint8_t out[7]);

} // namespace varno::recfile
