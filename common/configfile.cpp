#include "common/configfile.h"

#include "common/logfile.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace varno {

namespace {

// What QSettings writes is text: UTF-8 (in fact ASCII, it escapes the
// rest) without control characters other than tab, CR and LF. Random bytes
// are mostly read without an error, and written back mangled.
bool isSettingsText(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.read(kMaxConfigFileBytes + 1);
    for (const char c : bytes)
        if ((uchar(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f)
            return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

ConfigFileState checkConfigFile(const std::string &path, const char *name)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return ConfigFileState::Missing;
        WriteLog(2, "%s(%d):%s(%s) cannot be read, errno(%d)!!!", "varno::checkConfigFile", __LINE__, name,
                 path.c_str(), errno);
        return ConfigFileState::Refused;
    }
    if (!S_ISREG(st.st_mode)) {
        WriteLog(2, "%s(%d):%s(%s) is not a file, not read!!!", "varno::checkConfigFile", __LINE__, name,
                 path.c_str());
        return ConfigFileState::Refused;
    }
    if (st.st_size > kMaxConfigFileBytes) {
        WriteLog(2, "%s(%d):%s(%s) is too large, length(%lld), not read!!!", "varno::checkConfigFile", __LINE__,
                 name, path.c_str(), static_cast<long long>(st.st_size));
        return ConfigFileState::Refused;
    }
    return ConfigFileState::Usable;
}

bool prepareSettingsFile(const std::string &path, const char *name, std::string *asideOut)
{
    if (asideOut)
        asideOut->clear();
    const ConfigFileState state = checkConfigFile(path, name);
    if (state == ConfigFileState::Missing)
        return true;
    if (state == ConfigFileState::Usable) {
        const QString file = QFile::decodeName(QByteArray::fromStdString(path));
        const QSettings settings(file, QSettings::IniFormat);
        if (settings.status() == QSettings::NoError && isSettingsText(file))
            return true;
        WriteLog(2, "%s(%d):%s(%s) cannot be read, status(%d)!!!", "varno::prepareSettingsFile", __LINE__, name,
                 path.c_str(), int(settings.status()));
    }
    const std::string aside = setAsideFile(path);
    if (aside.empty()) {
        WriteLog(2, "%s(%d):%s(%s) cannot be set aside, errno(%d)!!!", "varno::prepareSettingsFile", __LINE__, name,
                 path.c_str(), errno);
        return false;
    }
    WriteLog(2, "%s(%d):%s(%s) set aside as(%s)!!!", "varno::prepareSettingsFile", __LINE__, name, path.c_str(),
             aside.c_str());
    if (asideOut)
        *asideOut = aside;
    return true;
}

std::string setAsideFile(const std::string &path)
{
    const std::string stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")).toStdString();
    const std::string base = path + ".corrupt-" + stamp;
    for (int i = 0; i < 1000; ++i) {
        const std::string target = i == 0 ? base : base + "-" + std::to_string(i);
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0)
            continue;
        if (::rename(path.c_str(), target.c_str()) == 0)
            return target;
        return {};
    }
    errno = EEXIST;
    return {};
}

void IgnoredLines::finish(const char *function) const
{
    if (m_count > 1)
        WriteLog(3, "%s(%d):%s: %d lines ignored, the first one logged!!!", function, __LINE__, m_name, m_count);
}

} // namespace varno
