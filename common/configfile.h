#pragma once

#include <cstdint>
#include <string>

// The program's small files in the installation directory: configuration
// files read line by line ("p2p.conf", "onvif.conf") or as settings
// ("login.conf", "live.conf"), and stores that are set aside when they are
// damaged instead of being written over.
namespace varno {

// A configuration file larger than this is not one of ours: it is not read.
inline constexpr int64_t kMaxConfigFileBytes = 1024 * 1024;

enum class ConfigFileState {
    Missing, // nothing there: the defaults apply
    Usable,  // a regular file of at most kMaxConfigFileBytes
    Refused, // a directory, FIFO, device, or a file over the limit (logged)
};

// Looks at a configuration file before it is opened (a FIFO would block the
// reader, a huge file would fill memory and the log). A refused file is
// logged once per call with its path and the reason; name is the file's
// name as the log shows it ("p2p.conf").
ConfigFileState checkConfigFile(const std::string &path, const char *name);

// For a settings file (INI, read through QSettings) that is read and
// written back whole: a refused file, or one QSettings cannot read (random
// bytes, no permission), is set aside first (logged), so that the next write
// starts a fresh file instead of failing on, or replacing, what could not be
// read (QSettings writes its reading of a damaged file back over it). True
// when the file may be read and written afterwards (usable or missing now);
// aside, when given, receives where a damaged file went (empty when none).
bool prepareSettingsFile(const std::string &path, const char *name, std::string *aside = nullptr);

// Renames a damaged file (or whatever stands at path) to
// path + ".corrupt-yyyyMMdd-hhmmss", with "-n" added when that exists.
// Returns the new path; empty when it could not be renamed (errno set).
std::string setAsideFile(const std::string &path);

// Bounds what a damaged configuration file can write to the log: the first
// ignored line is logged by the reader in its own words, the others only
// counted, and finish() writes one line with the count when there were more.
class IgnoredLines
{
public:
    explicit IgnoredLines(const char *name) : m_name(name) {}
    // Counts one ignored line; true for the first, which the caller logs.
    bool add() { return ++m_count == 1; }
    int count() const { return m_count; }
    // One line "<name>: N lines ignored" when more than one was ignored.
    void finish(const char *function) const;

private:
    const char *m_name;
    int m_count = 0;
};

} // namespace varno
