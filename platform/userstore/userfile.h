#pragma once

#include <QByteArray>
#include <QList>

#include <string>

// The file of the local user store: a small JSON document in the
// installation directory, written atomically with mode 0600. See
// docs/userstore.md for the format.
namespace varno::userstore {

inline constexpr const char *kFileName = "userstore.json";
// A store file larger than this is not a store of ours.
inline constexpr qint64 kMaxFileSize = 64 * 1024;
// PBKDF2-HMAC-SHA256 work factor for new hashes.
inline constexpr int kIterations = 100000;
// Work factors accepted when reading a store (the count is stored per user
// so that it can be raised later): lower ones are too weak to have been
// written by us, higher ones would make a login hang.
inline constexpr int kMinIterations = 1000;
inline constexpr int kMaxIterations = 10000000;
inline constexpr int kSaltSize = 16;
inline constexpr int kHashSize = 32;

struct UserRecord
{
    QByteArray name;     // UTF-8, 1 to 31 bytes
    int iterations = 0;
    QByteArray salt;     // kSaltSize bytes
    QByteArray hash;     // kHashSize bytes
};

enum class ReadResult {
    Ok,        // users filled (possibly empty)
    Missing,   // no file
    Corrupt,   // not a store of ours, or damaged
    Unreadable // exists but cannot be read (permissions, I/O error)
};

// Reads and validates the store file.
ReadResult readStore(const std::string &path, QList<UserRecord> *users);

// Serialises the users.
QByteArray serialise(const QList<UserRecord> &users);
// Parses a store document; false when it is not a valid store.
bool parse(const QByteArray &data, QList<UserRecord> *users);

// Writes data to path atomically: a temporary file beside it (mode 0600),
// fsync, rename over the old file, fsync of the folder. False on failure,
// with the old file untouched.
bool writeAtomic(const std::string &path, const QByteArray &data);

// Renames a damaged file to path + ".corrupt-yyyyMMdd-hhmmss" (with a
// counter when that exists). Returns the new path, empty on failure.
std::string setAside(const std::string &path);

// Salted PBKDF2-HMAC-SHA256 of password.
QByteArray deriveHash(const QByteArray &password, const QByteArray &salt, int iterations);
// A new random salt from the system's secure generator.
QByteArray newSalt();
// Comparison whose time does not depend on where the inputs differ.
bool equalConstantTime(const QByteArray &a, const QByteArray &b);

// A record for name and password with a fresh salt and kIterations.
UserRecord makeRecord(const QByteArray &name, const QByteArray &password);

} // namespace varno::userstore
