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

// Makes an existing directory of the installation the user's only (0700)
// when it is open to others; true when it is private afterwards.
bool makePrivate(const std::string &path);

} // namespace varno
