#pragma once

#include "common/devicerecords.h"

#include <QString>

namespace varno {

// A zeroed operation-log entry made now: time "yyyy-MM-dd hh:mm:ss", the
// operator's user name (read from a 32-byte field, a missing terminator is
// tolerated) and the content, cut to 255 bytes without splitting a letter.
LogInfo_s makeLogInfo(const char *user, const QString &content);

} // namespace varno
