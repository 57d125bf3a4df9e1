#include "common/loginfo.h"

#include "common/textfield.h"

#include <QDateTime>

#include <cstring>

namespace varno {

LogInfo_s makeLogInfo(const char *user, const QString &content)
{
    LogInfo_s info;
    std::memset(&info, 0, sizeof(info));
    setText(info.time, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1());
    if (user)
        setText(info.user, fieldText(user, sizeof(info.user)));
    setText(info.content, content);
    return info;
}

} // namespace varno
