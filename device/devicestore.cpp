#include "device/devicestore.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "device/passwordcipher.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2psession.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace varno::device {

QList<DvrListInfo_s> readStoredDevices(const char *where, int line)
{
    QList<DvrListInfo_s> list;
    std::unique_ptr<DeviceInfo_s[]> records(new (std::nothrow) DeviceInfo_s[kMaxDevices]);
    if (!records) {
        WriteLog(1, "%s(%d):Allocate device buffer failed!!!", where, line);
        return list;
    }
    std::memset(records.get(), 0, sizeof(DeviceInfo_s) * kMaxDevices);
    int count = 0;
    const int ret = SDK_DVRMGR_GetDevInfo(records.get(), &count);
    if (ret != 0)
        WriteLog(2, "%s(%d):GetDevInfo failed, ret(%d)!!!", where, line, ret);
    count = std::clamp(count, 0, kMaxDevices);
    for (int i = 0; i < count; ++i) {
        DvrListInfo_s entry;
        std::memset(&entry, 0, sizeof(entry));
        entry.dev = records[i];
        // A stored field without its terminator is not text: end it.
        entry.dev.password[sizeof(entry.dev.password) - 1] = '\0';
        char plain[64];
        std::memset(plain, 0, sizeof(plain));
        if (decode(entry.dev.password, plain) == 0) {
            std::memset(entry.dev.password, 0, sizeof(entry.dev.password));
            std::memcpy(entry.dev.password, plain, sizeof(entry.dev.password) - 1);
        }
        std::memset(plain, 0, sizeof(plain));
        list.append(entry);
    }
    return list;
}

DeviceInfo_s storedForm(const DeviceInfo_s &info)
{
    DeviceInfo_s stored = info;
    char cipher[64];
    std::memset(cipher, 0, sizeof(cipher));
    char plain[64];
    std::memcpy(plain, info.password, sizeof(plain));
    plain[sizeof(plain) - 1] = '\0';
    if (encode(plain, cipher) == 0) {
        std::memset(stored.password, 0, sizeof(stored.password));
        std::memcpy(stored.password, cipher, sizeof(stored.password) - 1);
    }
    std::memset(plain, 0, sizeof(plain));
    return stored;
}

int rewriteStore(const QList<DvrListInfo_s> &list, const char *where, int line, int failLevel)
{
    int ret = SDK_DVRMGR_BeginRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):BeginRewrite failed, ret(%d)!!!", where, line, ret);
        return ret;
    }
    ret = SDK_DVRMGR_DelDevAll();
    if (ret != 0) {
        WriteLog(2, "%s(%d):DelDevAll failed, ret(%d)!!!", where, line, ret);
        SDK_DVRMGR_RollbackRewrite();
        return ret;
    }
    int stored = 0;
    for (const DvrListInfo_s &entry : list) {
        const int r = SDK_DVRMGR_AddDevice(storedForm(entry.dev));
        if (r != 0)
            WriteLog(failLevel, "%s(%d):Add device(%s) failed, ret(%d)!!!", where, line,
                     fieldText(entry.dev.devId).toUtf8().constData(), r);
        else
            ++stored;
    }
    ret = SDK_DVRMGR_CommitRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):CommitRewrite failed, ret(%d)!!!", where, line, ret);
        return ret;
    }
    return stored;
}

int indexOfDevice(const QList<DvrListInfo_s> &list, const char *devId)
{
    if (!devId)
        return -1;
    const size_t len = ::strnlen(devId, sizeof(DeviceInfo_s::devId));
    for (int i = 0; i < list.size(); ++i) {
        const char *id = list[i].dev.devId;
        if (textLength(list[i].dev.devId) == len && std::memcmp(id, devId, len) == 0)
            return i;
    }
    return -1;
}

bool isP2pCameraId(const QByteArray &id)
{
    if (id.size() != 7)
        return false;
    const char c = id.at(0);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool sameP2pId(const char *messageId, const char *p2pId)
{
    if (!messageId || !p2pId)
        return false;
    constexpr size_t kMessageField = 32;
    const size_t msgLen = ::strnlen(messageId, kMessageField);
    const size_t idLen = ::strnlen(p2pId, sizeof(DeviceInfo_s::p2pId));
    if (msgLen == 0 || idLen == 0)
        return false;
    // The message field holds at most 31 characters of a longer ID.
    const size_t want = std::min(idLen, kMessageField - 1);
    return msgLen == want && std::memcmp(messageId, p2pId, want) == 0;
}

int connectPeer(intptr_t handle, const char *p2pId, const ConnectNames &names, const JobToken &token)
{
    Q_ASSERT_X(!onUiThread(), "varno::device::connectPeer", "waits on the network");
    if (!handle) {
        WriteLog(2, names.nullHandle, names.function, __LINE__);
        return -101;
    }
    p2p::SessionTries tries;
    tries.retries = 3;
    tries.waitMs = names.waitMs;
    tries.pause = [&token](int ms) { return token.pause(ms); };
    const int ret = p2p::ensureSession(handle, p2pId, nullptr, tries);
    if (ret == kConnectCancelled)
        return ret;
    if (ret != 0)
        WriteLog(2, "%s(%d):Connect device failed, ret(%d)!!!", names.function, __LINE__, ret);
    return ret;
}

int32_t payloadInt(const char *payload, int32_t length, int offset, int32_t fallback)
{
    if (!payload || offset < 0 || length < offset + 4)
        return fallback;
    return qFromLittleEndian<int32_t>(payload + offset);
}

} // namespace varno::device
