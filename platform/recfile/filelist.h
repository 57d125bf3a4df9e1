#pragma once

#include "common/mediarecords.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class QDateTime;

// The "filelist" of a record folder: 384-byte MEDIA_FILE_S records, oldest
// first. Every function here expects the caller to hold filelistMutex().
namespace varno::recfile {

std::mutex &filelistMutex();

std::string filelistPath(const std::string &dir);

// The whole records of a filelist image; a torn tail is ignored.
std::vector<MEDIA_FILE_S> parseFilelist(const uint8_t *data, size_t size);

// Reads the folder's filelist. A missing file is an empty list (true).
// Something in its place that is no regular file or cannot be read is set
// aside ("filelist.corrupt-<time>", logged; *setAside true) and taken as an
// empty list; false only when it cannot even be set aside. tailBytes
// receives the length of a torn last record.
bool readFilelist(const std::string &dir, std::vector<MEDIA_FILE_S> &records, size_t *tailBytes = nullptr,
                  bool *setAside = nullptr);

// Appends one record; a torn tail left by a crash is cut off first.
bool appendRecord(const std::string &dir, const MEDIA_FILE_S &record);

// Rewrites in place the last record whose fileName equals record.fileName.
// Returns false when no such record exists (e.g. dropped by an overwrite pass).
bool updateRecord(const std::string &dir, const MEDIA_FILE_S &record);

// Replaces the filelist with records (written to a temporary file, then renamed).
bool writeFilelist(const std::string &dir, const std::vector<MEDIA_FILE_S> &records);

// A plain file name inside the folder: not empty, terminated within the
// field, no '/', not "." or "..".
bool isPlainFileName(const char *field, size_t size);

// Local calendar time conversions and a sortable key (yyyyMMddhhmmss).
MEDIA_TIME_S mediaTime(const QDateTime &local);
QDateTime dateTime(const MEDIA_TIME_S &time);
int64_t timeKey(const MEDIA_TIME_S &time);
MEDIA_TIME_S addMilliseconds(const MEDIA_TIME_S &time, int64_t ms);

} // namespace varno::recfile
