#pragma once

#include <string>

// The installation directory holds every file of the program's own:
// stores, settings, the log folder and crash dumps. On Linux it is the
// per-user data directory ~/.local/share/varno (XDG_DATA_HOME honoured).
namespace varno {

// Absolute path without a trailing slash. Computed once; later changes of
// the environment do not move it.
const std::string &installDir();

// Creates the directory (with missing parents) and makes it the working
// directory, so that paths relative to the working directory land there.
// Returns false when either step failed. The directory is readable by the
// user only (0700), also when an earlier version left it open to others.
bool enterInstallDir();

// Creates a directory and all missing parents; true when it exists afterwards.
// Folders created at or below the installation directory are the user's
// only (0700), those above it 0755.
bool makePath(const std::string &path);

// Footage and settings of a security system are the user's only: sets the
// process's file mode mask to 077, so that every file and folder the
// program creates from then on (stores, settings, logs, recordings and
// their filelists, snapshots, downloads and exports, record folders) is
// made 0600 or 0700, whichever writer makes it (QSaveFile, QSettings,
// FFmpeg, plain open/mkdir). Called first thing at start-up.
void keepNewFilesPrivate();

// Makes an existing directory of the installation the user's only (0700)
// when it is open to others; true when it is private afterwards.
bool makePrivate(const std::string &path);

} // namespace varno
