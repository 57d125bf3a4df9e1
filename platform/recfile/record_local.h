#pragma once

// Local recording file library: writes the recorder's frames into Matroska
// files, keeps each record folder's "filelist", searches it, reads files
// back frame by frame and repairs files cut short by a crash. Results are 0
// for success and a negative RECORD_LOCAL_ERR_* code for failure. Details in
// docs/recfile.md.

#include "common/mediarecords.h"

#include <cstdint>
#include <set>
#include <string>

extern "C" {

// A file handle: a positive number, unique for the life of the process. The
// same number space serves files being written (MediaFileCreat) and files
// being read (MediaFileOpen); Record_local_MediaFileClose closes either kind.
typedef int32_t RECORD_HANDLE;

enum {
    RECORD_LOCAL_ERR_PARAM = -1281,     // null or bad argument
    RECORD_LOCAL_ERR_HANDLE = -1282,    // unknown or closed handle, or a handle of the other kind
    RECORD_LOCAL_ERR_CREATE = -1283,    // the file or its filelist record cannot be created
    RECORD_LOCAL_ERR_WRITE = -1284,     // a write to the file failed
    RECORD_LOCAL_ERR_OPEN = -1285,      // the file cannot be opened or holds no video
    RECORD_LOCAL_ERR_END = -1286,       // no further frame (end of the file)
    RECORD_LOCAL_ERR_READ = -1287,      // the file cannot be read further
    RECORD_LOCAL_ERR_SEEK = -1288,      // seek failed
    RECORD_LOCAL_ERR_DIR = -1289,       // the record folder does not exist
    RECORD_LOCAL_ERR_NOT_INIT = -1290,  // Record_local_InitSdk has not been called
    RECORD_LOCAL_ERR_CODEC = -1291,     // video codec not supported
};

// Size of the path buffer of Record_local_MediaFileCreat.
enum { RECORD_LOCAL_PATH_SIZE = 256 };

// Seek mode of Record_local_MediaFileSeek: offset in milliseconds from the
// start of the file (the unit of the length that MediaFileOpen returns).
enum { RECORD_LOCAL_SEEK_TIME = 1 };

// Initialises the library (FFmpeg logging, handle table). Counted: every
// call needs one Record_local_UnInitSdk.
int Record_local_InitSdk();
// Closes every handle still open when the last initialisation is undone.
int Record_local_UnInitSdk();

// Creates a new recording file directly in the record folder given in path
// (a buffer of RECORD_LOCAL_PATH_SIZE bytes) for the stream described by
// info, whose first member is the device ID text, and appends its record to
// the folder's filelist. On success path holds the full path of the new
// file, *file its handle and *startTick the monotonic clock in milliseconds
// at creation (the clock of std::chrono::steady_clock).
int Record_local_MediaFileCreat(const RECORD_INFO_S *info, char *path, RECORD_HANDLE *file,
                                uint64_t *startTick);
// Writes one frame of the recorder: type MEDIA_FRAME_AUDIO with 16-bit PCM,
// or a video type (MEDIA_FRAME_IDR ... MEDIA_FRAME_PPS, or 0) with Annex B
// data (one or more NAL units with start codes). The data's own NAL types
// decide what it is. A MEDIA_FRAME_SLICE of one zero byte is a filler frame:
// it advances the clock by one frame and writes nothing.
int Record_local_MediaFileWrite(RECORD_HANDLE file, uint32_t type, const unsigned char *data,
                                uint32_t size);
// Stores the alarm type in the file's filelist record at close.
int Record_local_setMediaFileAlarmType(RECORD_HANDLE file, int type);

// Lists the recordings of query->dir whose device ID matches query->devId
// (empty matches all) and which overlap [startTime, endTime]. The records'
// fileName is relative to the folder. list->files stays valid until the next
// query on the same thread or the thread's end; the caller never frees it.
int Record_local_MediaFileQuery(MEDIA_QUERY_S query, MEDIA_LIST_S *list);

// Opens a recording for playback. *length: the length in milliseconds (the
// unit of Record_local_MediaFileSeek); *totalFrames: the number of video
// frame slots; *frameRate: frames per second (0 when unknown).
int Record_local_MediaFileOpen(const char *path, RECORD_HANDLE *handle, uint32_t *length,
                               uint32_t *totalFrames, uint32_t *frameRate);
// Next frame in file order: *type 1 audio (16-bit PCM), MEDIA_FRAME_IDR for a
// key picture (parameter sets in front), MEDIA_FRAME_SLICE for another
// picture; gaps of the recording come back as filler frames
// (MEDIA_FRAME_SLICE, one zero byte). The data stays owned by the library
// until the next call on the handle. RECORD_LOCAL_ERR_END at the end.
int Record_local_MediaFileGetNextFrame(RECORD_HANDLE handle, uint32_t *type, unsigned char **data,
                                       uint32_t *size);
// Moves to the key picture at or before offset; mode RECORD_LOCAL_SEEK_TIME.
int Record_local_MediaFileSeek(RECORD_HANDLE handle, int64_t offset, int mode);

// Closes a handle of either kind. A file being written gets its index and
// its filelist record is completed.
int Record_local_MediaFileClose(RECORD_HANDLE handle);

// Makes the folder whole after a crash: files cut short are rewritten
// readable with an index and their records completed, files the filelist
// lost get records again (in time order), records of files that are gone
// are dropped. Files open for writing in this process are left alone.
int Record_local_MediaFileRepair(const char *dir);

// The one lock that guards every filelist. The storage manager's overwrite
// pass holds it while it reads and rewrites a filelist.
void Record_local_LockFilelist();
void Record_local_UnlockFilelist();

// 1 when this process has the file (full path) open for writing, else 0.
// The overwrite pass keeps the records of files still being written.
int Record_local_IsFileBeingWritten(const char *path);

} // extern "C"

// Name of the filelist in every record folder.
inline constexpr const char *kRecordFilelistName = "filelist";

// Holds the filelist lock for a scope.
class RecordFilelistLocker
{
public:
    RecordFilelistLocker() { Record_local_LockFilelist(); }
    ~RecordFilelistLocker() { Record_local_UnlockFilelist(); }
    RecordFilelistLocker(const RecordFilelistLocker &) = delete;
    RecordFilelistLocker &operator=(const RecordFilelistLocker &) = delete;
};

namespace varno::recfile {
// Full paths of the files this process has open for writing now.
std::set<std::string> filesBeingWritten();
} // namespace varno::recfile
