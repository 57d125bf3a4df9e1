#pragma once

// Inner names of the device manager's store (docs/devmgr.md). The calls
// themselves are the SDK_DVRMGR_ ones of sdk_dvrmgr.h.
namespace varno::devmgr {

// File name of the store in the installation directory.
inline constexpr const char *kStoreFileName = "devstore.db";
// Schema version kept in PRAGMA user_version.
inline constexpr int kSchemaVersion = 1;
// Operation-log entries kept; older ones are dropped as new ones arrive.
inline constexpr long long kKeptLogEntries = 100000;
// How long a call from another thread waits for an open rewrite to end.
inline constexpr int kRewriteWaitMs = 10000;
// How long SQLite waits for another process holding the write lock.
inline constexpr int kBusyTimeoutMs = 5000;

} // namespace varno::devmgr
