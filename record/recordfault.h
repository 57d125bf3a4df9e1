#pragma once

#include <string>
#include <sys/types.h>

// Why a recording file could not be created or written: what the record
// folder and its file system say right after the failure. The recorder turns
// the answer into the cause it reports, so that the user is told what
// happened instead of always "disk full".
namespace varno::record {

enum class FolderFault {
    None,        // the folder takes a small file now: the failure was the file's own
    Full,        // no space left (or less than a megabyte)
    NotWritable, // read-only file system, or no permission to write
    Gone,        // the folder vanished, or lies on another file system than expected
};

// The file system a folder lies on; (dev_t)-1 when it cannot be reached.
dev_t folderDevice(const std::string &folder);

// Looks at the folder: reachable, on the expected file system (unless
// expected is (dev_t)-1), mounted writable, with room, and finally whether a
// small probe file can be written there (removed again).
FolderFault diagnoseFolder(const std::string &folder, dev_t expected);

} // namespace varno::record
