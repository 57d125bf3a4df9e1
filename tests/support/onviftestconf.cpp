#include "onviftestconf.h"

#include "testenv.h"

#include <QDir>
#include <QFile>

namespace varno::test {

bool writeOnvifConf(const QStringList &lines)
{
    const QString dir = installDir();
    if (!QDir().mkpath(dir))
        return false;
    QFile f(dir + QStringLiteral("/onvif.conf"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const QString &l : lines)
        f.write(l.toUtf8() + '\n');
    return true;
}

} // namespace varno::test
