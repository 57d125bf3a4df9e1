#pragma once

#include "common/mediarecords.h"
#include "live/liverecorder.h"
#include "record/recordfault.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// The stream's parameter sets: the 46 bytes the camera's stream description
// carries (lengths, SPS, PPS), then a 16-bit value of the recorder's own.
#pragma pack(push, 1)
struct RECORD_PARAM_SETS_S
{
    uint8_t spsLen;
    uint8_t ppsLen;
    uint8_t sps[36];
    uint8_t pps[8];
    uint16_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(RECORD_PARAM_SETS_S) == 48);
static_assert(offsetof(RECORD_PARAM_SETS_S, reserved) == 46);
static_assert(offsetof(RECORD_PARAM_SETS_S, sps) == 2);
static_assert(offsetof(RECORD_PARAM_SETS_S, pps) == 38);

// Where a recorder's files go and what writes them; the defaults are the
// storage manager and the recording file library. Tests replace parts.
struct RecorderEnv
{
    struct Sink
    {
        virtual ~Sink() = default;
        virtual int create(const RECORD_INFO_S &info, char path[256], int32_t *file) = 0;
        virtual int write(int32_t file, uint32_t type, const unsigned char *data, uint32_t size) = 0;
        virtual int close(int32_t file) = 0;
        virtual int setAlarmType(int32_t file, int type) = 0;
    };
    std::shared_ptr<Sink> sink;                 // null: the recording file library
    std::function<int(char out[256])> savePath; // null: CStorage::getRecordSavePath
    std::function<bool()> haveRecordDisk;       // null: the storage manager has record disks
    std::function<uint64_t()> clock;            // milliseconds; null: the monotonic clock
    // Why a file failed, from its folder and the folder's file system at
    // the file's start; null: varno::record::diagnoseFolder.
    std::function<varno::record::FolderFault(const std::string &folder, dev_t device)> diagnose;
};

// The real-time recorder of one camera: frames pushed from the stream's
// thread are queued; the record thread waits for an SPS (or a key frame when
// the parameter sets are known), asks the storage manager for a folder,
// creates a recording file, writes the frames with filler frames for gaps,
// splits the file every 1,800 s, closes it after 10 s without frames and
// ends an alarm recording after 6,000 s.
//
// Stream watch: the recording "loses" its stream after kStreamLostMs
// without a frame, or at once when its owner says the stream broke
// (noteStreamLost); it reports kStreamLost, and kStreamBack with the next
// frame. Frames of the returned stream wait for a key frame when a file is
// still open, and their time stamps go on from the recorder's clock, so the
// gap lies in the file's time stamps; after 10 s the silence rule has
// closed the file and the next key frame opens the next one.
//
// Lifetime: the recorder owns its record thread. stop() (also run by the
// destructor) sets the stop flag and joins the thread: a write in progress
// (a slow disk) finishes, the file is closed, and then stop() returns. No
// callback runs after stop() has returned, so the recorder and its owner may
// be destroyed at once. stop() may wait on the disk: owners call it off the
// window's thread (varno::record::RecordingController).
//
// The queue is bounded (kMaxQueueBytes): when it overflows, every queued
// frame is dropped and frames are dropped up to the next SPS or key frame.
class qmediarealrecord : public LiveRecorder
{
    Q_DISABLE_COPY_MOVE(qmediarealrecord)

public:
    // Callback codes (the file path is that of the current file, or the
    // record folder when no file could be made). A create failure that is
    // none of these is reported with the create call's own result.
    enum : int {
        kFileCreated = -1043,
        kAlarmLimit = -1044,
        kWriteFailed = -1027,  // a write failed, not for lack of space
        kNoSavePath = -259,    // every disk full and overwriting off (or no room after retries)
        kThreadFailed = -513,
        // LiveRecorder::kStreamLost (-1045) and kStreamBack (-1046): the
        // recording has no stream (it goes on when one comes), and has one again.
        kCoverFailed = -1049,  // overwriting freed no room: something else fills the disk
        kDiskGone = -1050,     // the file's disk went away; recording goes on on the next disk
        kNoDiskLeft = -1051,   // every record disk went away
        kNotWritable = -1052,  // the record folder cannot be written (read-only, permissions)
    };
    static constexpr uint64_t kStreamLostMs = 3000;
    // Files in a row that failed for lack of space before recording stops.
    static constexpr int kMaxFullRetries = 3;
    // How often the open file's folder is checked for its disk going away.
    static constexpr uint64_t kDiskCheckMs = 5000;
    static constexpr size_t kMaxQueueBytes = 6u << 20;
    static constexpr size_t kMaxQueueFrames = 1500;

    using Callback = std::function<void(const char *deviceId, const char *filePath, int code,
                                        qmediarealrecord *recorder)>;

    explicit qmediarealrecord(RecorderEnv env = {});
    ~qmediarealrecord() override;

    // Starts the record thread; 0, or kThreadFailed.
    int startRecord(const RECORD_INFO_S &info, const RECORD_PARAM_SETS_S &params);
    void setCallback(Callback callback);
    // Run once by stop() before the thread stops (closes a stream of the
    // recorder's own, so no frame arrives any more).
    void setStopAction(std::function<void()> action);

    void pushFrame(int type, const char *data, int size, uint64_t timeStampMs) override;
    bool isH265() const override;
    // The stream broke and its owner reopens it (any thread): queued behind
    // the frames already pushed, so the recording loses its stream after them.
    void noteStreamLost();
    int setAlarmType(int type) override;
    void stop() override;

    // Observation for tests.
    size_t queuedBytes() const;
    // The recording has no stream now (between kStreamLost and kStreamBack).
    bool waitingForStream() const;
    // Every frame pushed so far is handled and the thread waits for more.
    bool idle() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::function<void()> m_stopAction;
    std::thread m_thread;
    bool m_started = false;
    bool m_stopped = false;
};

// G.711 expansion (ITU-T) into 16-bit PCM: out receives 2 bytes per input byte.
void g711Expand(const unsigned char *in, size_t size, bool muLaw, int16_t *out);
