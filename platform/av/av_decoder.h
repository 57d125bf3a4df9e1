#pragma once

// Video decoder library: decodes H.264 / H.265 video and camera audio.
//
// Live streams use AV_FrameDecoderStream, which hands each decoded picture
// back to the caller; playback uses AV_FrameDecoder, which decodes and draws
// into the window the decoder was created for. Audio goes to the audio
// output of the decoder (its own thread; silent when the machine has no
// audio device). The code tables are in docs/av.md.
//
// Results are 0 or positive for success, negative for failure.

#include <cstddef>
#include <cstdint>

extern "C" {

typedef struct AV_Decoder *AV_HANDLE;

// Video decoder codes.
enum {
    AV_VIDEO_H264 = 1,
    AV_VIDEO_H265 = 2,
};

// Audio decoder codes (the first decoder parameter).
enum {
    AV_AUDIO_AAC = 100,   // AAC with ADTS headers
    AV_AUDIO_G711U = 101, // G.711 mu-law, one byte per sample
    AV_AUDIO_G711A = 102, // G.711 A-law, one byte per sample
    AV_AUDIO_PCM16 = 103, // 16-bit signed little-endian PCM, passed unchanged
};

// Frame types of AV_FrameDecoderStream and AV_FrameDecoder.
enum {
    AV_FRAME_OTHER = 0,
    AV_FRAME_AUDIO = 1,
    AV_FRAME_VIDEO = 2,
};

// Results.
enum {
    AV_OK = 0,             // picture ready (stream) / shown (playback) / audio played
    AV_ERR_FAILED = -1,    // bad argument, corrupt data or nothing more to hand back
    AV_ERR_NEED_DATA = -2, // no picture yet: feed the next frame
    AV_ERR_AUDIO = -3,     // audio cannot be decoded with these parameters
    AV_ERR_NO_PICTURE = -4,
    AV_ERR_FILE = -5,
};

// Decoder parameters: 16 bytes, four unsigned 32-bit values.
struct AV_DECODER_PARAM_S
{
    uint32_t audioCode;     // AV_AUDIO_*
    uint32_t channels;      // 1 or 2
    uint32_t bitsPerSample; // informative; the codes fix the sample format
    uint32_t sampleRate;    // Hz; AAC takes its rate from the stream
};
static_assert(sizeof(AV_DECODER_PARAM_S) == 16);

// Output descriptor of a decoded picture: planar YUV 4:2:0 with packed rows
// (luma stride = width, chroma stride = width / 2). The planes belong to the
// decoder and stay valid until the next AV_FrameDecoderStream call that
// returns a picture, or until the decoder is closed.
struct AV_FRAME_OUT_S
{
    uint8_t *y;
    uint8_t *u;
    uint8_t *v;
    int32_t width;
    int32_t height;
    int32_t keyFrame;    // 1 for a picture decoded from an IDR / IRAP
    int32_t videoCode;   // AV_VIDEO_*
    int32_t pictureNumber; // pictures output by this decoder so far, from 1
    int32_t reserved[13];
};
static_assert(offsetof(AV_FRAME_OUT_S, width) == 3 * sizeof(void *));
static_assert(offsetof(AV_FRAME_OUT_S, height) == 3 * sizeof(void *) + 4);
static_assert(sizeof(AV_FRAME_OUT_S) == 3 * sizeof(void *) + 72);

// Creates a decoder. window: native window handle the playback calls draw
// into (0: no display). videoCode: AV_VIDEO_*. params may be null (no
// audio). Returns 1 and the handle on success, 0 on failure.
int AV_CreateDecoder(int32_t window, int32_t videoCode, const AV_DECODER_PARAM_S *params,
                     AV_HANDLE *decoder);

// Live decoding. frameType AV_FRAME_VIDEO: data holds one or more NAL units
// with start codes. Returns 0 with *out filled when a picture is ready,
// -2 when the decoder needs more data, -1 on error.
//
// Calling again with the same frame (same buffer, size and bytes as the last
// frame fed) neither feeds it again nor takes a picture: it returns -2 and a
// waiting picture stays for the next call. Calling with no data (null, 0)
// hands back a further waiting picture (0) or returns -2. The decoder is
// never drained to its end, so the stream goes on after such calls.
//
// frameType AV_FRAME_AUDIO: one audio frame in the format of params
// (the 4-byte header {0, 1, n / 2, 0} the callers put in front of G.711 and
// AAC frames is recognised and removed). Returns 0 when played, -3 when
// audio cannot be decoded with these parameters, -1 for a bad frame.
int AV_FrameDecoderStream(AV_HANDLE decoder, const uint8_t *data, int32_t size,
                          int32_t frameType, const AV_DECODER_PARAM_S *params, int32_t reserved,
                          AV_FRAME_OUT_S *out);
int AV_CloseDecoderStream(AV_HANDLE decoder);

// Playback decoding: decodes and draws the pictures into the decoder's
// window. Returns 0 when shown (or played), -2 when more data is needed
// (also for frameType AV_FRAME_OTHER, which is ignored), another negative
// value on error.
int AV_FrameDecoder(AV_HANDLE decoder, const uint8_t *data, int32_t size, int32_t frameType,
                    const AV_DECODER_PARAM_S *params);
// Draws the last picture again. 0, or -4 when there is none.
int AV_ShowLastFrame(AV_HANDLE decoder);
// Writes the last picture as a 24-bit BMP file (bottom-up BGR rows, 54-byte
// header, rows of 3 x width bytes). 0, -4 without a picture, -5 when the file
// cannot be written, -1 for a bad argument.
int AV_CapPicture(AV_HANDLE decoder, const char *path);
int AV_CloseDecoder(AV_HANDLE decoder);

} // extern "C"
