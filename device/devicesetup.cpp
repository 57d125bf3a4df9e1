#include "device/devicesetup.h"

#include "common/authtoken.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "device/devicestore.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QMetaObject>
#include <QThread>

#include <cstring>

namespace varno::device {

#define VARNO_ASSERT_OWN_THREAD() \
    Q_ASSERT_X(QThread::currentThread() == thread(), Q_FUNC_INFO, "not on the controller's thread")

namespace {

// Stores a camera that is not listed yet: 0 or the store's error. When the
// store still holds cameras deleted since its last rewrite (full), the list
// as it is now is written with the new camera.
int storeNew(const DvrListInfo_s &info, const QList<DvrListInfo_s> &list, const char *where)
{
    int ret = SDK_DVRMGR_AddDevice(storedForm(info.dev));
    if (ret == DVRMGR_ERR_FULL && list.size() < kMaxDevices) {
        QList<DvrListInfo_s> all = list;
        all.append(info);
        const int stored = rewriteStore(all, where, __LINE__, 2);
        ret = stored == all.size() ? 0 : (stored < 0 ? stored : int(DVRMGR_ERR_STORE));
    }
    return ret;
}

int deliver(P2P_HANDLE handle, const char *p2pId, int32_t type, const void *body, int32_t size)
{
    return P2P_Client_SDK_Deliver_Msg(handle, p2pId, type, static_cast<const char *>(body), size);
}

} // namespace

DeviceSetup::DeviceSetup(QObject *parent)
    : QObject(parent)
{
}

DeviceSetup::~DeviceSetup()
{
    VARNO_ASSERT_OWN_THREAD();
    // Every job is cancelled and joined: the running one's library call
    // ends at once, the queued ones see the cancel at once, except
    // a store rewrite, which is never dropped. Results still queued go with
    // this object.
    m_worker.cancel();
    m_worker.finish();
}

void DeviceSetup::run(std::function<std::function<void(bool)>(const JobToken &)> work)
{
    VARNO_ASSERT_OWN_THREAD();
    const uint64_t ticket = m_ticket;
    ++m_inFlight;
    auto job = [this, ticket, work](const JobToken &token) {
        std::function<void(bool)> done = work(token);
        QMetaObject::invokeMethod(
            this,
            [this, ticket, done = std::move(done)] {
                --m_inFlight;
                if (done)
                    done(ticket != m_ticket);
            },
            Qt::QueuedConnection);
    };
    // No thread: the job sees itself cancelled and reports its failure.
    if (!m_worker.post(job))
        job(JobToken::cancelledToken());
}

void DeviceSetup::cancel()
{
    VARNO_ASSERT_OWN_THREAD();
    ++m_ticket;
    m_worker.cancel();
}

// ---------------------------------------------------------------------------
// Add device

void DeviceSetup::addCamera(const AddRequest &request)
{
    run([this, request](const JobToken &token) -> std::function<void(bool)> {
        const AddResult result = request.listedIndex >= 0 ? moveListed(request, token) : addNew(request, token);
        return [this, result](bool cancelled) {
            AddResult r = result;
            r.cancelled = cancelled;
            // Cancelled before anything was stored: nothing to tell.
            if (cancelled && r.outcome != AddResult::Added && r.outcome != AddResult::Moved)
                return;
            emit cameraAdded(r);
        };
    });
}

AddResult DeviceSetup::addNew(AddRequest request, const JobToken &token)
{
    AddResult result;
    result.password = request.password;
    if (token.cancelled())
        return result;
    DvrListInfo_s info = request.info;
    const char *devId = info.dev.devId;
    const QString idText = fieldText(info.dev.devId);
    if (isP2pCameraId(QByteArray(devId))) {
        const int ret = P2P_Client_SDK_Get_Device_License(p2pHandle(), devId, info.dev.p2pId);
        info.dev.p2pId[sizeof(info.dev.p2pId) - 1] = '\0';
        if (ret < 0) {
            WriteLog(2, "%s(%d):Get device(%s) license failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked",
                     __LINE__, devId, ret);
            result.ret = ret;
            return result;
        }
        setText(info.dev.devName, QByteArray("Varno_") + QByteArray(devId));
        info.dev.p2pFlag = 1;
    } else {
        // Asked with the password it will be stored with.
        SDK_DVRMGR_SetOnvifCredentials(info.dev.serviceAddr, request.password.constData());
        const int ret = SDK_DVRMGR_GetDevConfig(info.dev.serviceAddr, &info.config);
        if (ret == DVRMGR_ERR_AUTH) {
            WriteLog(3, "%s(%d):Device(%s) refused the password, ret(%d)!!!", "QAddDevice::fetchConfig", __LINE__,
                     devId, ret);
            result.outcome = AddResult::Refused;
            result.ret = ret;
            return result;
        }
        if (ret != 0) {
            WriteLog(2, "%s(%d):Get device(%s) config failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked",
                     __LINE__, devId, ret);
            result.ret = ret;
            return result;
        }
        // Named as the camera calls itself: the name of its discovery
        // answer, else its model, else its ID (cut to the field).
        QString name = request.foundName;
        char model[sizeof(info.dev.devName)] = {};
        if (name.isEmpty() && SDK_DVRMGR_GetDevModel(info.dev.serviceAddr, model, int(sizeof(model))) == 0)
            name = QString::fromUtf8(model);
        setText(info.dev.devName, name.isEmpty() ? idText : name);
    }
    setText(info.dev.password, request.password);
    if (token.cancelled())
        return result;
    const int ret = m_writesStore ? storeNew(info, request.list, "QAddDevice::on_addButton_clicked") : 0;
    if (ret != 0) {
        WriteLog(2, "%s(%d):Add device(%s) failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked", __LINE__, devId,
                 ret);
        result.ret = ret;
        return result;
    }
    WriteLog(0, "[DEVICE]Add device(%s) success!!!", devId);
    result.outcome = AddResult::Added;
    result.info = info;
    return result;
}

AddResult DeviceSetup::moveListed(AddRequest request, const JobToken &token)
{
    AddResult result;
    result.password = request.password;
    result.listedIndex = request.listedIndex;
    if (token.cancelled() || request.listedIndex >= request.list.size())
        return result;
    // The camera's configuration is fetched at the new address first; the
    // entry changes only when that succeeds.
    DvrListInfo_s entry = request.list[request.listedIndex];
    DevConfig_s config;
    std::memset(&config, 0, sizeof(config));
    SDK_DVRMGR_SetOnvifCredentials(request.info.dev.serviceAddr, request.password.constData());
    const int ret = SDK_DVRMGR_GetDevConfig(request.info.dev.serviceAddr, &config);
    if (ret == DVRMGR_ERR_AUTH) {
        WriteLog(3, "%s(%d):Device(%s) refused the password, ret(%d)!!!", "QAddDevice::fetchConfig", __LINE__,
                 entry.dev.devId, ret);
        result.outcome = AddResult::Refused;
        result.ret = ret;
        return result;
    }
    if (ret != 0) {
        WriteLog(2, "%s(%d):GetDevConfig failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked", __LINE__, ret);
        result.ret = ret;
        return result;
    }
    if (token.cancelled())
        return result;
    std::memcpy(entry.dev.ipAddr, request.info.dev.ipAddr, sizeof(entry.dev.ipAddr));
    std::memcpy(entry.dev.serviceAddr, request.info.dev.serviceAddr, sizeof(entry.dev.serviceAddr));
    entry.config = config;
    setText(entry.dev.password, request.password);
    request.list[request.listedIndex] = entry;
    if (m_writesStore)
        rewriteStore(request.list, "QAddDevice::on_addButton_clicked", __LINE__, 3);
    result.outcome = AddResult::Moved;
    result.info = entry;
    return result;
}

void DeviceSetup::storeCamera(const DvrListInfo_s &info, const QList<DvrListInfo_s> &list)
{
    run([this, info, list](const JobToken &) -> std::function<void(bool)> {
        const int ret = m_writesStore ? storeNew(info, list, "QAddDevice::RecvManualInfo") : 0;
        if (ret != 0)
            WriteLog(2, "%s(%d):AddDevice(%s) failed, ret(%d)!!!", "QAddDevice::RecvManualInfo", __LINE__,
                     info.dev.devId, ret);
        return [this, info, ret](bool cancelled) { emit cameraStored(info, ret, cancelled); };
    });
}

void DeviceSetup::rewriteList(const QList<DvrListInfo_s> &list, const char *where, int line)
{
    // A rewrite is never dropped: the store follows the list asked.
    if (!m_writesStore)
        return;
    run([list, where, line](const JobToken &) -> std::function<void(bool)> {
        rewriteStore(list, where, line, 3);
        return nullptr;
    });
}

// ---------------------------------------------------------------------------
// Manual add

void DeviceSetup::checkPassword(const PendingCheck &asked)
{
    run([this, asked](const JobToken &token) -> std::function<void(bool)> {
        PendingCheck check = asked;
        const QString devId = QString::fromUtf8(check.devId);
        auto failed = [this, devId](int step, int ret) -> std::function<void(bool)> {
            return [this, devId, step, ret](bool cancelled) {
                if (!cancelled)
                    emit checkSent(devId, step, ret);
            };
        };
        if (token.cancelled())
            return failed(Connect, kConnectCancelled);
        const intptr_t handle = p2pHandle();
        int r = P2P_Client_SDK_Get_Device_License(handle, check.devId, check.p2pId);
        if (r < 0) {
            WriteLog(2, "%s(%d):Get device(%s) license failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                     __LINE__, check.devId, r);
            return failed(LookUp, r);
        }
        check.p2pId[sizeof(check.p2pId) - 1] = '\0';
        if (check.p2pId[0] == '\0') {
            WriteLog(2, "%s(%d):ID(%s) is not correct!!!", "QManualDial::on_addButton_clicked", __LINE__,
                     check.devId);
            return failed(LookUp, 0);
        }
        static const ConnectNames names{"QManualDial::connectDevice", "%s(%d):handle is NULL!!!", 500};
        r = connectPeer(handle, check.p2pId, names, token);
        if (r == 0 && token.cancelled())
            r = kConnectCancelled;
        if (r != 0) {
            WriteLog(2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                     __LINE__, check.devId, r);
            return failed(Connect, r);
        }
        // Pending from before the first request leaves: the reply may come
        // back before this job reports. One check per camera: a newer check
        // replaces an older one still waiting, so that its reply decides
        // with the password typed last.
        {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            for (int i = 0; i < m_pending.size(); ++i) {
                if (std::strcmp(m_pending[i].p2pId, check.p2pId) == 0) {
                    m_pending.removeAt(i);
                    break;
                }
            }
            m_pending.append(check);
        }
        auto withdraw = [this, &check] {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            for (int i = 0; i < m_pending.size(); ++i) {
                if (std::memcmp(&m_pending[i], &check, sizeof(check)) == 0) {
                    m_pending.removeAt(i);
                    break;
                }
            }
        };
        PASSWORD_CHECK2_REQ_S req2;
        std::memset(&req2, 0, sizeof(req2));
        req2.random = authNonce();
        MakeAuthToken(check.password, req2.random, req2.token);
        r = deliver(handle, check.p2pId, P2P_MSG_PASSWORD_CHECK2, &req2, sizeof(req2));
        if (r < 0) {
            WriteLog(2, "%s(%d):Check device(%s) password2 failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                     __LINE__, check.devId, r);
            withdraw();
            return failed(Deliver, r);
        }
        PASSWORD_CHECK_REQ_S req;
        std::memset(&req, 0, sizeof(req));
        req.random = authNonce();
        MakeAuthToken(check.password, req.random, req.token);
        r = deliver(handle, check.p2pId, P2P_MSG_PASSWORD_CHECK, &req, sizeof(req));
        if (r < 0) {
            WriteLog(2, "%s(%d):Check device(%s) password failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                     __LINE__, check.devId, r);
            withdraw();
            return failed(Deliver, r);
        }
        return failed(0, 0);
    });
}

bool DeviceSetup::takeCheck(const P2pMessage_S &reply, PendingCheck *out)
{
    VARNO_ASSERT_OWN_THREAD();
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    for (int i = 0; i < m_pending.size(); ++i) {
        if (sameP2pId(reply.devId, m_pending[i].p2pId)) {
            if (out)
                *out = m_pending[i];
            m_pending.removeAt(i);
            return true;
        }
    }
    return false;
}

QList<PendingCheck> DeviceSetup::pending() const
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    return m_pending;
}

// ---------------------------------------------------------------------------
// Password change

void DeviceSetup::changePassword(const QByteArray &devId, const QByteArray &p2pId, const QByteArray &oldPassword,
                                 const QByteArray &newPassword)
{
    run([this, devId, p2pId, oldPassword, newPassword](const JobToken &token) -> std::function<void(bool)> {
        const QString id = QString::fromUtf8(devId);
        auto report = [this, id](int step, int ret) -> std::function<void(bool)> {
            return [this, id, step, ret](bool cancelled) {
                if (!cancelled)
                    emit changeSent(id, step, ret);
            };
        };
        if (token.cancelled())
            return report(Connect, kConnectCancelled);
        const intptr_t handle = p2pHandle();
        static const ConnectNames names{"QPasswdFrm::connectDevice", "%s(%d):Handle is NULL!!!", 1000};
        int r = connectPeer(handle, p2pId.constData(), names, token);
        if (r == 0 && token.cancelled())
            r = kConnectCancelled;
        if (r != 0) {
            WriteLog(2, "%s(%d):Unable to connect device(%s), ret(%d)!!!", "QPasswdFrm::on_changeButton_clicked",
                     __LINE__, devId.constData(), r);
            return report(Connect, r);
        }
        PASSWORD_CHANGE_REQ_S req;
        std::memset(&req, 0, sizeof(req));
        req.random = authNonce();
        MakeAuthToken(oldPassword.constData(), req.random, req.token);
        setText(req.newPassword, newPassword);
        r = deliver(handle, p2pId.constData(), P2P_MSG_PASSWORD_CHANGE, &req, sizeof(req));
        std::memset(&req, 0, sizeof(req));
        if (r < 0) {
            WriteLog(2, "%s(%d):Set device(%s) passwowd failed, ret(%d)!!!", "QPasswdFrm::on_changeButton_clicked",
                     __LINE__, devId.constData(), r);
            return report(Deliver, r);
        }
        WriteLog(0, "[DEVICE]Change device(%s) password finished!!!", devId.constData());
        return report(0, 0);
    });
}

} // namespace varno::device
