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
} // namespace

QString LiveViewSettings::filePath()
{
    return QString::fromStdString(varno::installDir()) + QStringLiteral("/live.conf");
}

bool LiveViewSettings::keepAspect(const QString &user)
{
    if (user.isEmpty())
        return true;
    if (varno::checkConfigFile(QFile::encodeName(filePath()).toStdString(), "live.conf")
        == varno::ConfigFileState::Refused)
        return true;
    const QSettings settings(filePath(), QSettings::IniFormat);
    return settings.value(keepAspectKey(user), true).toBool();
}

bool LiveViewSettings::setKeepAspect(const QString &user, bool on)
{
    if (user.isEmpty())
        return true;
    if (!varno::prepareSettingsFile(QFile::encodeName(filePath()).toStdString(), "live.conf"))
        return false;
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(keepAspectKey(user), on);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        WriteLog(2, "%s(%d):Write file(%s) failed!!!", "LiveViewSettings::setKeepAspect", __LINE__,
                 filePath().toUtf8().constData());
        return false;
    }
    return true;
}

} // namespace varno::live
