#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace varno::av {

// Where decoded audio goes: interleaved 16-bit PCM. write() is called on
// the decoding thread and must not wait for long.
class AudioSink
{
public:
    virtual ~AudioSink() = default;
    virtual void write(const int16_t *samples, size_t frames, int sampleRate, int channels) = 0;
};

// The audio output of one decoder: the test sink when one is set, else the
// machine's default audio device through Qt Multimedia on a thread of its
// own. With no audio device the output is silently off.
std::shared_ptr<AudioSink> createAudioOutput();

// Tests: every output created afterwards writes into this sink instead of
// the audio device (null: back to the device).
void setAudioSinkOverride(std::shared_ptr<AudioSink> sink);

} // namespace varno::av
