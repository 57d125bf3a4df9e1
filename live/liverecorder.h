#pragma once

#include <cstdint>

// A running recording of one camera as the window grid drives it: frames of
// the live stream go in, the alarm type can change, and it stops. The
// real-time recorder implements it; the grid keeps one per camera in its
// record table.
class LiveRecorder
{
public:
    virtual ~LiveRecorder() = default;

    // Report codes of a recording that lost its stream (it goes on when one
    // comes, the record button shows it waiting) and that has one again.
    enum : int {
        kStreamLost = -1045,
        kStreamBack = -1046,
    };

    // Frame types: 1 audio; video 101 IDR slice, 102 non-IDR slice, 103 SEI,
    // 104 SPS, 105 PPS, 0 anything else. Called on the stream's thread.
    virtual void pushFrame(int type, const char *data, int size, uint64_t timeStampMs) = 0;
    // The recording's video is H.265 (its NAL types are read by H.265 rules).
    virtual bool isH265() const { return false; }
    // Turns the running file into an alarm recording of the given file alarm
    // type; 0 on success.
    virtual int setAlarmType(int type) = 0;
    // Ends the recording (waits a bounded time for the record thread).
    virtual void stop() = 0;
};
