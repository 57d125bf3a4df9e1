#pragma once

// Helpers shared by the main window's tests: camera records, the camera
// store as an earlier run leaves it, and what the window wrote.

#include "common/devicerecords.h"
#include "common/installdir.h"
#include "common/textfield.h"
#include "device/passwordcipher.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstring>
#include <vector>

namespace clienttest {

inline DeviceInfo_s camera(const QByteArray &id, const QByteArray &name, const QByteArray &password, bool p2p,
                           const QByteArray &ip = "127.0.0.1", const QByteArray &service = QByteArray())
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof(d));
    varno::setText(d.devId, id);
    varno::setText(d.ipAddr, ip);
    varno::setText(d.devName, name);
    varno::setText(d.serviceAddr, service.isEmpty() ? "http://" + ip + ":1/onvif/device_service" : service);
    d.p2pFlag = p2p ? 1 : 0;
    varno::setText(d.password, password);
    if (p2p)
        varno::setText(d.p2pId, id);
    return d;
}

// A P2P camera whose relay ID differs from its device ID.
inline DeviceInfo_s p2pCamera(const QByteArray &id, const QByteArray &p2pId, const QByteArray &name,
                              const QByteArray &password)
{
    DeviceInfo_s d = camera(id, name, password, true);
    std::memset(d.p2pId, 0, sizeof(d.p2pId));
    varno::setText(d.p2pId, p2pId);
    return d;
}

inline DvrListInfo_s listed(const DeviceInfo_s &d)
{
    DvrListInfo_s l;
    std::memset(&l, 0, sizeof(l));
    l.dev = d;
    return l;
}

inline DeviceInfo_s enciphered(DeviceInfo_s d)
{
    char out[64] = {};
    if (encode(d.password, out) == 0)
        std::memcpy(d.password, out, sizeof(out));
    return d;
}

inline QByteArray deciphered(const DeviceInfo_s &d)
{
    char in[65] = {};
    std::memcpy(in, d.password, 64);
    char plain[64] = {};
    if (decode(in, plain) != 0)
        return QByteArray("<undecodable>");
    return QByteArray(plain, int(strnlen(plain, sizeof(plain))));
}

// Replaces the store's camera list, passwords enciphered unless told
// otherwise; the store is closed afterwards.
inline bool seedStore(const std::vector<DeviceInfo_s> &cameras, bool encipher = true)
{
    if (SDK_DVRMGR_Init(varno::installDir().c_str()) != 0 || SDK_DVRMGR_BeginRewrite() != 0
        || SDK_DVRMGR_DelDevAll() != 0)
        return false;
    for (const DeviceInfo_s &d : cameras)
        if (SDK_DVRMGR_AddDevice(encipher ? enciphered(d) : d) != 0)
            return false;
    return SDK_DVRMGR_CommitRewrite() == 0 && SDK_DVRMGR_UnInit() == 0;
}

// The stored list; open says whether the store is open already (a window
// is alive), else it is opened and closed around the read.
inline std::vector<DeviceInfo_s> readStore(bool open = false)
{
    std::vector<DeviceInfo_s> records(kMaxDevices);
    int count = 0;
    if (!open && SDK_DVRMGR_Init(varno::installDir().c_str()) != 0)
        return {};
    const int ret = SDK_DVRMGR_GetDevInfo(records.data(), &count);
    if (!open)
        SDK_DVRMGR_UnInit();
    if (ret != 0 || count < 0)
        return {};
    records.resize(size_t(count));
    return records;
}

// Empty when the store holds the expected records in order, each password
// enciphered (never in plain) and deciphering to the expected one; else the
// first difference.
inline QString storeDiffers(const std::vector<DeviceInfo_s> &stored, const std::vector<DeviceInfo_s> &expected)
{
    if (stored.size() != expected.size())
        return QStringLiteral("%1 records stored, %2 expected").arg(stored.size()).arg(expected.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        DeviceInfo_s s = stored[i];
        DeviceInfo_s m = expected[i];
        const QString id = varno::fieldText(m.devId);
        if (m.password[0] != '\0' && std::memcmp(s.password, m.password, sizeof(s.password)) == 0)
            return QStringLiteral("password of %1 stored in plain").arg(id);
        if (deciphered(s) != QByteArray(m.password))
            return QStringLiteral("password of %1 deciphers to %2").arg(id, QString::fromLatin1(deciphered(s)));
        std::memset(s.password, 0, sizeof(s.password));
        std::memset(m.password, 0, sizeof(m.password));
        if (std::memcmp(&s, &m, sizeof(s)) != 0)
            return QStringLiteral("record %1 differs").arg(id);
    }
    return {};
}

inline QString storeDiffers(const std::vector<DeviceInfo_s> &stored, const QList<DvrListInfo_s> &expected)
{
    std::vector<DeviceInfo_s> records;
    for (const DvrListInfo_s &l : expected)
        records.push_back(l.dev);
    return storeDiffers(stored, records);
}

// The operation log, oldest first (open as for readStore).
inline std::vector<LogInfo_s> operationEntries(bool open = false)
{
    std::vector<LogInfo_s> entries(kMaxLogEntries);
    int count = 0;
    if (!open && SDK_DVRMGR_Init(varno::installDir().c_str()) != 0)
        return {};
    const int ret = SDK_DVRMGR_ReadLog(entries.data(), &count);
    if (!open)
        SDK_DVRMGR_UnInit();
    entries.resize(ret == 0 && count > 0 ? size_t(count) : 0);
    return entries;
}

inline QStringList operations(bool open = false)
{
    QStringList out;
    for (const LogInfo_s &e : operationEntries(open))
        out << varno::fieldText(e.content);
    return out;
}

using varno::test::logText;

// Discovery probes go to a loopback port where nobody answers.
inline bool quietDiscovery()
{
    return varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 200"),
                                        QStringLiteral("probe_target = 127.0.0.1:%1")
                                            .arg(varno::test::freeLoopbackPort())});
}

inline QByteArray bytes(const void *p, size_t n)
{
    return QByteArray(static_cast<const char *>(p), int(n));
}

} // namespace clienttest
