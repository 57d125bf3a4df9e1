#include "platform/userstore/userfile.h"

#include "platform/userstore/user_local.h"
#include "common/configfile.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varno::userstore {

namespace {

const QLatin1String kFormat("varno-userstore");
constexpr int kVersion = 1;

bool validName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 31 || name.contains('\0'))
        return false;
    // Must survive the round trip through JSON text unchanged.
    return QString::fromUtf8(name).toUtf8() == name;
}

bool decodeBase64(const QJsonValue &value, QByteArray *out)
{
    if (!value.isString())
        return false;
    const auto result = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    *out = result.decoded;
    return true;
}

std::string directoryOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

QByteArray serialise(const QList<UserRecord> &users)
{
    QJsonArray list;
    for (const UserRecord &u : users) {
        QJsonObject o;
        o.insert(QStringLiteral("name"), QString::fromUtf8(u.name));
        o.insert(QStringLiteral("kdf"), QStringLiteral("pbkdf2-sha256"));
        o.insert(QStringLiteral("iterations"), u.iterations);
        o.insert(QStringLiteral("salt"), QString::fromLatin1(u.salt.toBase64()));
        o.insert(QStringLiteral("hash"), QString::fromLatin1(u.hash.toBase64()));
        list.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("format"), kFormat);
    root.insert(QStringLiteral("version"), kVersion);
    root.insert(QStringLiteral("users"), list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool parse(const QByteArray &data, QList<UserRecord> *users)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat)
        return false;
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != kVersion)
        return false;
    const QJsonValue listValue = root.value(QStringLiteral("users"));
    if (!listValue.isArray())
        return false;
    const QJsonArray list = listValue.toArray();
    if (list.size() > USER_LOCAL_MAX_USERS)
        return false;

    QList<UserRecord> result;
    QSet<QByteArray> names;
    for (const QJsonValue &v : list) {
        if (!v.isObject())
            return false;
        const QJsonObject o = v.toObject();
        UserRecord u;
        const QJsonValue name = o.value(QStringLiteral("name"));
        if (!name.isString())
            return false;
        u.name = name.toString().toUtf8();
        if (!validName(u.name) || names.contains(u.name))
            return false;
        if (o.value(QStringLiteral("kdf")).toString() != QLatin1String("pbkdf2-sha256"))
            return false;
        const QJsonValue iterations = o.value(QStringLiteral("iterations"));
        const double it = iterations.toDouble(-1);
        if (!iterations.isDouble() || it != static_cast<double>(static_cast<int>(it))
            || it < kMinIterations || it > kMaxIterations) {
            return false;
        }
        u.iterations = static_cast<int>(it);
        if (!decodeBase64(o.value(QStringLiteral("salt")), &u.salt)
            || u.salt.size() < 8 || u.salt.size() > 64) {
            return false;
        }
        if (!decodeBase64(o.value(QStringLiteral("hash")), &u.hash) || u.hash.size() != kHashSize)
            return false;
        names.insert(u.name);
        result.append(u);
    }
    *users = result;
    return true;
}

ReadResult readStore(const std::string &path, QList<UserRecord> *users)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        // A symbolic link or a FIFO in place of the store is not ours.
        if (errno == ELOOP)
            return ReadResult::Corrupt;
        return ReadResult::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return ReadResult::Unreadable;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        ::close(fd);
        return ReadResult::Corrupt;
    }
    QByteArray data;
    data.resize(static_cast<qsizetype>(st.st_size) + 1);
    qsizetype total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, data.data() + total, static_cast<size_t>(data.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return ReadResult::Unreadable;
        }
        if (n == 0)
            break;
        total += n;
        if (total == data.size()) {
            // Grew while being read beyond its announced size.
            if (total > kMaxFileSize) {
                ::close(fd);
                return ReadResult::Corrupt;
            }
            data.resize(data.size() + 4096);
        }
    }
    ::close(fd);
    data.truncate(total);
    if (data.trimmed().isEmpty()) {
        users->clear();
        return ReadResult::Ok;
    }
    return parse(data, users) ? ReadResult::Ok : ReadResult::Corrupt;
}

bool writeAtomic(const std::string &path, const QByteArray &data)
{
    const std::string tmp = path + ".tmp";
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    qsizetype done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += n;
    }
    if (ok)
        ok = ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (ok)
        ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

std::string setAside(const std::string &path)
{
    return varno::setAsideFile(path);
}

QByteArray deriveHash(const QByteArray &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password, salt,
                                              iterations, kHashSize);
}

QByteArray newSalt()
{
    QByteArray salt(kSaltSize, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    return salt;
}

bool equalConstantTime(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    volatile unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff = diff | static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return diff == 0;
}

UserRecord makeRecord(const QByteArray &name, const QByteArray &password)
{
    UserRecord u;
    u.name = name;
    u.iterations = kIterations;
    u.salt = newSalt();
    u.hash = deriveHash(password, u.salt, u.iterations);
    return u;
}

} // namespace varno::userstore
