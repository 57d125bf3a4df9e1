#pragma once

#include "common/camerafile.h"
#include "tools/camsim/medialoop.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace varno::camsim {

// One recording on a camera's storage.
struct Recording
{
    std::string name;        // "190225_12.30.00.h264"
    QDateTime start;         // local time of the first frame
    int seconds = 0;
    std::string path;
    uint32_t size = 0;
};

// A chunk of a camera recording file, as found by readCameraFile.
struct FileChunk
{
    bool video = false;
    bool key = false;
    uint64_t timestampUs = 0;
    uint32_t payloadOffset = 0;  // file offset of the payload
    uint32_t size = 0;           // payload bytes before padding
};

// Writes a camera recording file: the 512-byte header, then per video frame
// one "00dc" chunk (one access unit of the loop, replayed from its start)
// followed by one "01wb" chunk of 40 ms of the tone.
bool writeCameraFile(const std::string &path, const std::string &deviceId, const QDateTime &start,
                     int seconds, const VideoLoop &video, const std::vector<uint8_t> &tone,
                     std::string *error);

// Reads the header and the chunk list of a camera recording file. Every
// length is checked against the file; false with a reason on any fault.
bool readCameraFile(const std::string &path, CAMFILE_HEADER_S &header, std::vector<FileChunk> &chunks,
                    std::string *error);

// Header resolution code for a picture size (nearest listed size).
uint8_t fileResolutionCode(int width, int height);
// Resolution code of the search reply for a picture size.
uint8_t searchResolutionCode(int width, int height);

// The recordings of one camera, made at start when missing.
class CameraStorage
{
public:
    bool build(const std::string &dir, const std::string &deviceId, int count, int seconds,
               const QDateTime &first, int intervalSeconds, const VideoLoop &video,
               const std::vector<uint8_t> &tone, std::string *error);

    const std::vector<Recording> &recordings() const { return m_recordings; }
    const Recording *find(const std::string &name) const;

private:
    std::vector<Recording> m_recordings;   // ascending start time
};

} // namespace varno::camsim
