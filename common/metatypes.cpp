#include "common/metatypes.h"

namespace varno {

void registerMetaTypes()
{
    // One line per record, under the name it is known by in signals.
    qRegisterMetaType<DeviceInfo_s>("DeviceInfo_s");
    qRegisterMetaType<DvrListInfo_s>("DvrListInfo_s");
    qRegisterMetaType<QList<DvrListInfo_s>>("QList<DvrListInfo_s>");
    qRegisterMetaType<STATE_E>("STATE_E");
    qRegisterMetaType<LogInfo_s>("LogInfo_s");
    qRegisterMetaType<P2pMessage_S>("P2pMessage_S");
    qRegisterMetaType<DiskInfo_s>("DiskInfo_s");
    qRegisterMetaType<QList<DiskInfo_s>>("QList<DiskInfo_s>");
    qRegisterMetaType<RecordDisk_s>("RecordDisk_s");
    qRegisterMetaType<QList<RecordDisk_s>>("QList<RecordDisk_s>");
    qRegisterMetaType<StorageDisk_s>("StorageDisk_s");
    qRegisterMetaType<MEDIA_FILE_S>("MEDIA_FILE_S");
    qRegisterMetaType<QMap<QString, MEDIA_FILE_S>>("QMap<QString,MEDIA_FILE_S>");
    qRegisterMetaType<EVENT_alarm_info>("EVENT_alarm_info");
}

} // namespace varno
