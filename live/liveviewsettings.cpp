#include "live/liveviewsettings.h"

#include "common/configfile.h"
#include "common/installdir.h"
#include "common/logfile.h"

#include <QFile>
#include <QSettings>

namespace varno::live {

namespace {
QString keepAspectKey(const QString &user)
{
    return QStringLiteral("KeepAspectRatio/") + user;
}

QString autoStreamKey(const QString &user)
{
    return QStringLiteral("StreamByWindowSize/") + user;
}

bool readFlag(const QString &user, const QString &key)
{
    if (user.isEmpty())
        return true;
    if (varno::checkConfigFile(QFile::encodeName(LiveViewSettings::filePath()).toStdString(), "live.conf")
        == varno::ConfigFileState::Refused)
        return true;
    const QSettings settings(LiveViewSettings::filePath(), QSettings::IniFormat);
    return settings.value(key, true).toBool();
}

bool writeFlag(const QString &user, const QString &key, bool on, const char *caller)
{
    if (user.isEmpty())
        return true;
    const QString path = LiveViewSettings::filePath();
    if (!varno::prepareSettingsFile(QFile::encodeName(path).toStdString(), "live.conf"))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, on);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        WriteLog(2, "%s(%d):Write file(%s) failed!!!", caller, __LINE__, path.toUtf8().constData());
        return false;
    }
    return true;
}
} // namespace

QString LiveViewSettings::filePath()
{
    return QString::fromStdString(varno::installDir()) + QStringLiteral("/live.conf");
}

bool LiveViewSettings::keepAspect(const QString &user)
{
    return readFlag(user, keepAspectKey(user));
}

bool LiveViewSettings::setKeepAspect(const QString &user, bool on)
{
    return writeFlag(user, keepAspectKey(user), on, "LiveViewSettings::setKeepAspect");
}

bool LiveViewSettings::autoStream(const QString &user)
{
    return readFlag(user, autoStreamKey(user));
}

bool LiveViewSettings::setAutoStream(const QString &user, bool on)
{
    return writeFlag(user, autoStreamKey(user), on, "LiveViewSettings::setAutoStream");
}

} // namespace varno::live
