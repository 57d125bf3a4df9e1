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

QVariant readValue(const QString &user, const QString &key, const QVariant &fallback)
{
    if (user.isEmpty())
        return fallback;
    if (varno::checkConfigFile(QFile::encodeName(LiveViewSettings::filePath()).toStdString(), "live.conf")
        == varno::ConfigFileState::Refused)
        return fallback;
    const QSettings settings(LiveViewSettings::filePath(), QSettings::IniFormat);
    return settings.value(key, fallback);
}

bool readFlag(const QString &user, const QString &key)
{
    return readValue(user, key, true).toBool();
}

bool writeFlag(const QString &user, const QString &key, const QVariant &on, const char *caller)
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

bool LiveViewSettings::playbackKeepAspect(const QString &user)
{
    return readFlag(user, QStringLiteral("PlaybackKeepAspectRatio/") + user);
}

bool LiveViewSettings::setPlaybackKeepAspect(const QString &user, bool on)
{
    return writeFlag(user, QStringLiteral("PlaybackKeepAspectRatio/") + user, on,
                     "LiveViewSettings::setPlaybackKeepAspect");
}

int LiveViewSettings::playbackPanelWidth(const QString &user)
{
    bool ok = false;
    const int width = readValue(user, QStringLiteral("PlaybackPanelWidth/") + user, 0).toInt(&ok);
    return ok && width > 0 && width < 100000 ? width : 0;
}

bool LiveViewSettings::setPlaybackPanelWidth(const QString &user, int width)
{
    return writeFlag(user, QStringLiteral("PlaybackPanelWidth/") + user, width,
                     "LiveViewSettings::setPlaybackPanelWidth");
}

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
