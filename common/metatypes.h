#pragma once

#include "common/alarmrecords.h"
#include "common/devicerecords.h"
#include "common/mediarecords.h"
#include "common/p2pmessage.h"
#include "common/storagerecords.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QMetaType>

// Records that travel by value in queued signals. Each is declared here and
// registered under its own name by varno::registerMetaTypes(); a new record
// adds its include, its declaration below and one line in metatypes.cpp.
// Lists of declared records (QList<DvrListInfo_s>) need no declaration of
// their own, only their registration.
//
// StorageInfo_s is left out on purpose: it holds a pointer to disk records
// owned by the storage manager, which a queued copy must not outlive.

Q_DECLARE_METATYPE(DeviceInfo_s)
Q_DECLARE_METATYPE(DvrListInfo_s)
Q_DECLARE_METATYPE(STATE_E)
Q_DECLARE_METATYPE(LogInfo_s)
Q_DECLARE_METATYPE(P2pMessage_S)
Q_DECLARE_METATYPE(DiskInfo_s)
Q_DECLARE_METATYPE(RecordDisk_s)
Q_DECLARE_METATYPE(StorageDisk_s)
Q_DECLARE_METATYPE(MEDIA_FILE_S)
Q_DECLARE_METATYPE(EVENT_alarm_info)

namespace varno {

// Registers every record above (and the lists that travel) with Qt's
// meta-type system under the record's own name. Safe to call more than
// once and from any thread; call it before the first queued signal.
void registerMetaTypes();

} // namespace varno
