#pragma once

// Fake disks and filelists for the storage manager's and the recorder's
// tests: folders below the test's temporary root with made-up capacities,
// recording files as sparse files with their filelist records.

#include "common/mediarecords.h"
#include "common/textfield.h"
#include "platform/recfile/filelist.h"
#include "platform/recfile/record_local.h"
#include "record/cstorage.h"
#include "record/disksource.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <memory>
#include <vector>

namespace storagetest {

constexpr quint64 kMiB = 1024ull * 1024;
constexpr quint64 kGiB = 1024ull * kMiB;

// A fresh folder for one case.
inline QString freshDir(const QString &name)
{
    const QString dir = varno::test::tempRoot() + QStringLiteral("/") + name + QStringLiteral("-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    QDir().mkpath(dir);
    return dir;
}

struct Disks
{
    std::shared_ptr<varno::record::FakeDiskSource> source = std::make_shared<varno::record::FakeDiskSource>();
    QString base = freshDir(QStringLiteral("disks"));
    QString appDir = freshDir(QStringLiteral("app"));

    QString add(const QString &root, quint64 capacity, int type = kDiskFixed)
    {
        QString name = root;
        name.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('~'), QLatin1Char('h'));
        const QString dir = base + QStringLiteral("/") + name;
        source->addDisk(root, dir, capacity, type);
        return dir;
    }
    std::unique_ptr<CStorage> storage() const { return std::make_unique<CStorage>(source, appDir); }
};

inline StorageDisk_s disk(const char *name, int selected, int percent)
{
    StorageDisk_s d{};
    varno::setText(d.name, name);
    d.selected = uint16_t(selected);
    d.percent = int16_t(percent);
    return d;
}

// Saves a configuration of the given disks with "Varno/Record".
inline bool save(CStorage &s, std::vector<StorageDisk_s> disks, int cover = 1, const char *dir = "Varno/Record")
{
    StorageInfo_s info{};
    varno::setText(info.recordDir, dir);
    info.cover = uint32_t(cover);
    info.count = int32_t(disks.size());
    info.disks = disks.data();
    return s.SaveStorageConfig(QString(), &info);
}

// A recording file of the given (apparent) size and its filelist record.
inline void addRecording(const QString &folder, const QString &name, quint64 size, bool createFile = true,
                         const MEDIA_TIME_S &start = {})
{
    QDir().mkpath(folder);
    if (createFile) {
        QFile f(folder + QStringLiteral("/") + name);
        f.open(QIODevice::WriteOnly);
        f.write("x", 1);
        f.resize(qint64(size));
    }
    MEDIA_FILE_S r{};
    varno::setText(r.devId, "CAM0001");
    varno::setText(r.fileName, name);
    r.state = MEDIA_FILE_STATE_CLOSED;
    r.startTime = start;
    RecordFilelistLocker lock;
    varno::recfile::appendRecord(folder.toStdString(), r);
}

inline QStringList listed(const QString &folder)
{
    std::vector<MEDIA_FILE_S> records;
    {
        RecordFilelistLocker lock;
        varno::recfile::readFilelist(folder.toStdString(), records);
    }
    QStringList names;
    for (const MEDIA_FILE_S &r : records)
        names << varno::fieldText(r.fileName);
    return names;
}

inline QString savePath(CStorage &s, int *ret = nullptr)
{
    char out[256] = {};
    const int r = s.getRecordSavePath(out);
    if (ret)
        *ret = r;
    return r == 0 ? QString::fromUtf8(out) : QString();
}

} // namespace storagetest
