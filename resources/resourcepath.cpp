#include "resources/resourcepath.h"

#include <QFileInfo>

namespace varno {

QString resourcePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char(':')))
        return name;
    if (QFileInfo(name).isFile())
        return name;
    QString relative = name;
    while (relative.startsWith(QLatin1String("./")))
        relative.remove(0, 2);
    if (relative.startsWith(QLatin1Char('/')))
        return name; // an absolute path has no built-in copy
    const QString embedded = QStringLiteral(":/") + relative;
    if (QFileInfo(embedded).isFile())
        return embedded;
    return name;
}

} // namespace varno
