#pragma once

#include "platform/recfile/record_local.h"
#include "playback/qmediaplay.h"

#include <atomic>

// Plays a recording from this computer's disks through the recording file
// library. Position and length are counted in frames; the progress notice
// converts them to seconds. Seeks, single steps and the speed factor are
// requests the play thread carries out (the file handle is the thread's);
// each one wakes the thread from its pacing sleep, so it is taken at once.
class qlocalfileplay : public qmediaplay
{
public:
    qlocalfileplay() = default;
    ~qlocalfileplay() override;

    int StartPlay(const char *fileName, int videoCodec, const AV_DECODER_PARAM_S *params, uint32_t frameRate,
                  int32_t window) override;
    void SetPause(bool pause) override;
    void SetSuspend(bool suspend) override;
    void StopPlay(bool wait) override;
    void SetSpeed(float speed) override;
    void SeekTo(int second) override;
    int GetFrameCount() const override { return int(m_position.load()); }
    void StepFrame() override;
    bool speedSupported() const override { return true; }

    uint32_t totalFrames() const { return m_totalFrames; }
    // Seeks carried out by the play thread so far.
    uint32_t seeksDone() const { return m_seeksDone; }

private:
    void playThread();
    bool handleFrame(uint32_t type, const unsigned char *data, uint32_t size);
    // Sleeps until the next picture is due (microseconds, may move with a
    // speed change) or a seek, pause, suspend or stop wants the thread.
    void waitForNextPicture(double *due, double interval);
    bool interrupted() const { return m_stop || m_pause || m_suspend || m_seekRequest >= 0; }

    uint32_t m_totalFrames = 0;
    std::atomic<float> m_speedCopy{1.0f};
    char m_path[256] = {};
    RECORD_HANDLE m_file = 0;
    std::atomic<bool> m_speedChanged{false};
    std::atomic<int> m_seekRequest{-1};
    std::atomic<int> m_stepRequests{0};
    std::atomic<uint32_t> m_seeksDone{0};
    std::atomic<bool> m_endNotified{false};   // the end was reported and no frame came since
};
