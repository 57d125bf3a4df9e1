#include "live/ptzcontroller.h"

#include "common/authtoken.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/ptzrecords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifptz.h"
#include "platform/onvif/onvifsoap.h"

#include <QMetaObject>

#include <chrono>
#include <cstring>

namespace varno::live {

namespace {

// askP2p: the controller stops; nothing is reported.
constexpr int kStopped = 1;

bool isMotion(int kind, int move, int stop)
{
    return kind == move || kind == stop;
}

} // namespace

PtzController::PtzController(QObject *parent)
    : QObject(parent)
{
    m_thread = std::thread([this] { run(); });
}

PtzController::~PtzController()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    // Also ends the wait for a P2P answer (same condition), and a P2P
    // connect the worker waits in.
    m_cv.notify_all();
    m_callAbort.raise();
    m_thread.join();
}

int PtzController::queued() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_queue.size());
}

void PtzController::setCamera(const PtzCamera &camera)
{
    VARNO_ASSERT_UI_THREAD();
    if (m_camera.devId == camera.devId && m_camera.password == camera.password &&
        m_camera.serviceAddr == camera.serviceAddr)
        return;
    stop();
    m_camera = camera;
}

void PtzController::probe(const PtzCamera &camera)
{
    VARNO_ASSERT_UI_THREAD();
    if (!camera.isValid())
        return;
    Command c;
    c.kind = Kind::Probe;
    c.camera = camera;
    enqueue(std::move(c));
}

void PtzController::move(double pan, double tilt, double zoom)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_camera.isValid())
        return;
    Command c;
    c.kind = Kind::Move;
    c.camera = m_camera;
    c.pan = pan;
    c.tilt = tilt;
    c.zoom = zoom;
    m_moving = true;
    enqueue(std::move(c));
}

bool PtzController::stop()
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_moving || !m_camera.isValid())
        return false;
    m_moving = false;
    Command c;
    c.kind = Kind::Stop;
    c.camera = m_camera;
    enqueue(std::move(c));
    return true;
}

void PtzController::refreshPresets()
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_camera.isValid())
        return;
    Command c;
    c.kind = Kind::Presets;
    c.camera = m_camera;
    enqueue(std::move(c));
}

void PtzController::gotoPreset(const QString &token)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_camera.isValid() || token.isEmpty())
        return;
    Command c;
    c.kind = Kind::Goto;
    c.camera = m_camera;
    c.token = token;
    enqueue(std::move(c));
}

void PtzController::setPreset(const QString &name)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_camera.isValid() || name.trimmed().isEmpty())
        return;
    Command c;
    c.kind = Kind::SetPreset;
    c.camera = m_camera;
    c.name = name.trimmed().left(63);
    enqueue(std::move(c));
}

void PtzController::removePreset(const QString &token, const QString &name)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_camera.isValid() || token.isEmpty())
        return;
    Command c;
    c.kind = Kind::RemovePreset;
    c.camera = m_camera;
    c.token = token;
    c.name = name;
    enqueue(std::move(c));
}

void PtzController::enqueue(Command cmd)
{
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int move = static_cast<int>(Kind::Move);
        const int stop = static_cast<int>(Kind::Stop);
        // A move or stop that still waits is replaced by the next of its
        // kind for the same camera: the camera gets the latest wish only.
        if (isMotion(static_cast<int>(cmd.kind), move, stop) && !m_queue.empty() &&
            m_queue.back().kind == cmd.kind && m_queue.back().camera.devId == cmd.camera.devId) {
            m_queue.back() = std::move(cmd);
        } else if (static_cast<int>(m_queue.size()) >= kMaxQueued && cmd.kind != Kind::Stop) {
            full = true;
        } else {
            m_queue.push_back(std::move(cmd));
        }
    }
    if (full) {
        WriteLog(3, "%s(%d):PTZ queue of %s full, command dropped!!!", "PtzController::enqueue", __LINE__,
                 qPrintable(m_camera.devId));
        emit commandFailed(m_camera.devId, tr("The camera is busy; the command was not sent."));
        return;
    }
    m_cv.notify_one();
}

void PtzController::run()
{
    const varno::CallAbortScope abortScope(&m_callAbort);
    while (true) {
        Command cmd;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            cmd = std::move(m_queue.front());
            m_queue.pop_front();
        }
        execute(cmd);
        ++m_done;
    }
}

int PtzController::targetOf(const PtzCamera &camera, bool *hasPtz, bool probeAgain)
{
    *hasPtz = false;
    const std::string addr = camera.serviceAddr.toStdString();
    onvif::setPassword(addr, camera.password.toStdString());
    const auto it = m_targets.find(camera.devId);
    if (it != m_targets.end() && !probeAgain) {
        *hasPtz = !it->second.ptzAddr.empty();
        return onvif::kSoapOk;
    }
    onvif::PtzClient client(onvif::loadConfig());
    onvif::PtzTarget t;
    const int rc = client.find(addr, camera.profileToken.toStdString(), &t, &m_stop);
    if (rc != onvif::kSoapOk)
        return rc;
    if (m_targets.size() > 512)
        m_targets.clear();
    m_targets[camera.devId] = Target{t.ptzAddr, t.profileToken};
    *hasPtz = !t.ptzAddr.empty();
    return onvif::kSoapOk;
}

void PtzController::execute(const Command &cmd)
{
    const QString devId = cmd.camera.devId;
    if (cmd.camera.p2p) {
        executeP2p(cmd);
        return;
    }
    bool hasPtz = false;
    int rc = targetOf(cmd.camera, &hasPtz, cmd.kind == Kind::Probe);
    if (cmd.kind == Kind::Probe) {
        if (rc != onvif::kSoapOk && rc != onvif::kSoapAborted)
            WriteLog(2, "%s(%d):PTZ capability of %s unknown: %s!!!", "PtzController::execute", __LINE__,
                     qPrintable(devId), onvif::soapErrorText(rc));
        const bool answered = rc == onvif::kSoapOk;
        post([this, devId, hasPtz, answered] { emit capabilityKnown(devId, hasPtz, answered); });
        return;
    }
    if (rc == onvif::kSoapOk && !hasPtz)
        rc = onvif::kSoapFault;
    const Target target = rc == onvif::kSoapOk ? m_targets[devId] : Target{};
    const onvif::PtzTarget t{target.ptzAddr, target.profileToken};
    onvif::PtzClient client(onvif::loadConfig());
    const char *what = "";
    if (rc == onvif::kSoapOk) {
        switch (cmd.kind) {
        case Kind::Move:
            what = "ContinuousMove";
            rc = client.continuousMove(t, cmd.pan, cmd.tilt, cmd.zoom, &m_stop);
            break;
        case Kind::Stop:
            what = "Stop";
            rc = client.stop(t, &m_stop);
            break;
        case Kind::Presets: {
            what = "GetPresets";
            std::vector<onvif::PtzPreset> list;
            rc = client.presets(t, &list, &m_stop);
            if (rc == onvif::kSoapOk) {
                QStringList tokens;
                QStringList names;
                for (const auto &p : list) {
                    tokens << QString::fromStdString(p.token);
                    names << QString::fromStdString(p.name);
                }
                post([this, devId, tokens, names] { emit presetsLoaded(devId, tokens, names); });
            }
            break;
        }
        case Kind::Goto:
            what = "GotoPreset";
            rc = client.gotoPreset(t, cmd.token.toStdString(), &m_stop);
            break;
        case Kind::SetPreset: {
            what = "SetPreset";
            std::string token;
            rc = client.setPreset(t, cmd.name.toStdString(), &token, &m_stop);
            if (rc == onvif::kSoapOk)
                post([this, devId, name = cmd.name] { emit presetChanged(devId, name, true); });
            break;
        }
        case Kind::RemovePreset:
            what = "RemovePreset";
            rc = client.removePreset(t, cmd.token.toStdString(), &m_stop);
            if (rc == onvif::kSoapOk)
                post([this, devId, name = cmd.name] { emit presetChanged(devId, name, false); });
            break;
        case Kind::Probe:
            break;
        }
    }
    if (rc == onvif::kSoapOk || rc == onvif::kSoapAborted)
        return;
    WriteLog(2, "%s(%d):PTZ %s of %s failed: %s!!!", "PtzController::execute", __LINE__, what, qPrintable(devId),
             onvif::soapErrorText(rc));
    if (rc == onvif::kSoapNetwork || rc == onvif::kSoapTimeout || rc == onvif::kSoapAuth)
        m_targets.erase(devId); // asked again with the next command
    post([this, devId, text = failureText(cmd.camera, rc)] { emit commandFailed(devId, text); });
}

void PtzController::recvP2pMessage(P2pMessage_S message)
{
    if (message.type != P2P_MSG_PTZ_CAPS_RSP && message.type != P2P_MSG_PTZ_RESULT &&
        message.type != P2P_MSG_PTZ_PRESET_LIST)
        return;
    if (message.payloadLen < 0 || (message.payloadLen > 0 && !message.payload))
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_awaited.active || m_awaited.arrived || m_awaited.type != message.type ||
            m_awaited.cameraId != varno::fieldText(message.devId))
            return;
        // An answer to a request given up on carries another nonce and is
        // dropped; one too short to carry any goes to the worker's reader,
        // which refuses it.
        int32_t nonce = 0;
        if (message.payloadLen >= 4)
            std::memcpy(&nonce, message.payload, sizeof nonce);
        if (message.payloadLen >= 4 && nonce != m_awaited.nonce)
            return;
        m_awaited.arrived = true;
        m_awaited.payload = QByteArray(message.payload, message.payloadLen);
    }
    m_cv.notify_all();
}

int PtzController::askP2p(const PtzCamera &camera, int32_t type, const void *request, int size, int32_t nonce,
                          int32_t answerType, QByteArray *answer)
{
    const P2P_HANDLE handle = varno::p2pHandle();
    if (!handle)
        return P2P_ERR_NOT_INIT;
    const QByteArray id = camera.p2pId.toLatin1();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_awaited = Awaited{};
        m_awaited.active = true;
        // The message's camera field holds 31 characters.
        m_awaited.cameraId = camera.p2pId.left(static_cast<int>(sizeof(P2pMessage_S::devId)) - 1);
        m_awaited.type = answerType;
        m_awaited.nonce = nonce;
    }
    const char *bytes = static_cast<const char *>(request);
    int rc = P2P_Client_SDK_Deliver_Msg(handle, id.constData(), type, bytes, size);
    if (rc == P2P_ERR_NO_SESSION && !m_stop) {
        // The pad can be used before the live window's session is up.
        rc = P2P_Client_SDK_Connect_Peer(handle, id.constData());
        if (rc == 0)
            rc = P2P_Client_SDK_Deliver_Msg(handle, id.constData(), type, bytes, size);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (rc >= 0) {
        const bool woken = m_cv.wait_for(lock, std::chrono::milliseconds(kP2pAnswerMs),
                                         [this] { return m_stop || m_awaited.arrived; });
        if (m_awaited.arrived) {
            *answer = m_awaited.payload;
            rc = 0;
        } else {
            rc = woken ? kStopped : P2P_ERR_TIMEOUT;
        }
    }
    m_awaited = Awaited{};
    return rc;
}

void PtzController::executeP2p(const Command &cmd)
{
    const QString devId = cmd.camera.devId;
    const QByteArray password = cmd.camera.password.toUtf8();
    const int32_t nonce = authNonce();
    QByteArray answer;
    const char *what = "";
    const char *why = nullptr;
    int32_t result = PTZ_RESULT_OK;
    int rc = 0;
    auto ask = [&](auto &req, int32_t type, int32_t answerType) {
        req.nonce = nonce;
        MakeAuthToken(password.constData(), nonce, req.token);
        rc = askP2p(cmd.camera, type, &req, static_cast<int>(sizeof req), nonce, answerType, &answer);
        std::memset(req.token, 0, sizeof req.token);
    };
    auto command = [&](auto &req, int32_t type) {
        ask(req, type, P2P_MSG_PTZ_RESULT);
        PTZ_RESULT_S rsp{};
        if (rc == 0 && !ptz::readResult(answer.constData(), size_t(answer.size()), nonce, type, &rsp, &why))
            rc = P2P_ERR_TIMEOUT;
        else if (rc == 0)
            result = rsp.result;
        return rsp.preset;
    };
    switch (cmd.kind) {
    case Kind::Probe: {
        what = "capability";
        PTZ_REQ_S req{};
        ask(req, P2P_MSG_PTZ_CAPS, P2P_MSG_PTZ_CAPS_RSP);
        PTZ_CAPS_RSP_S rsp{};
        if (rc == 0 && !ptz::readCaps(answer.constData(), size_t(answer.size()), nonce, &rsp, &why))
            rc = P2P_ERR_TIMEOUT;
        const bool answered = rc == 0 && (rsp.result == PTZ_RESULT_OK || rsp.result == PTZ_RESULT_NO_PTZ);
        const bool hasPtz =
            answered && rsp.result == PTZ_RESULT_OK && (rsp.caps & (PTZ_CAP_PAN_TILT | PTZ_CAP_ZOOM)) != 0;
        if (!answered && rc != kStopped)
            WriteLog(2, "%s(%d):PTZ capability of %s unknown: %s (%d, result %d)!!!", "PtzController::executeP2p",
                     __LINE__, qPrintable(devId),
                     why ? why : rc != 0 ? "no answer" : rsp.result == PTZ_RESULT_PASSWORD ? "password refused" : "refused",
                     rc, rsp.result);
        post([this, devId, hasPtz, answered] { emit capabilityKnown(devId, hasPtz, answered); });
        return;
    }
    case Kind::Move: {
        what = "move";
        PTZ_MOVE_REQ_S req{};
        req.pan = ptz::velocityUnits(cmd.pan);
        req.tilt = ptz::velocityUnits(cmd.tilt);
        req.zoom = ptz::velocityUnits(cmd.zoom);
        command(req, P2P_MSG_PTZ_MOVE);
        break;
    }
    case Kind::Stop: {
        what = "stop";
        PTZ_REQ_S req{};
        command(req, P2P_MSG_PTZ_STOP);
        break;
    }
    case Kind::Presets: {
        what = "preset list";
        PTZ_REQ_S req{};
        ask(req, P2P_MSG_PTZ_PRESETS, P2P_MSG_PTZ_PRESET_LIST);
        std::vector<ptz::Preset> list;
        if (rc == 0 && !ptz::readPresetList(answer.constData(), size_t(answer.size()), nonce, &result, &list, &why))
            rc = P2P_ERR_TIMEOUT;
        if (rc == 0 && result == PTZ_RESULT_OK) {
            QStringList tokens;
            QStringList names;
            for (const auto &p : list) {
                tokens << QString::number(p.number);
                names << QString::fromUtf8(p.name.data(), static_cast<qsizetype>(p.name.size()));
            }
            post([this, devId, tokens, names] { emit presetsLoaded(devId, tokens, names); });
        }
        break;
    }
    case Kind::Goto:
    case Kind::RemovePreset: {
        what = cmd.kind == Kind::Goto ? "go to preset" : "remove preset";
        bool ok = false;
        PTZ_PRESET_REQ_S req{};
        req.preset = cmd.token.toInt(&ok);
        if (!ok || req.preset < PTZ_PRESET_MIN || req.preset > PTZ_PRESET_MAX) {
            result = PTZ_RESULT_BAD_REQUEST;
            break;
        }
        command(req, cmd.kind == Kind::Goto ? P2P_MSG_PTZ_PRESET_GOTO : P2P_MSG_PTZ_PRESET_REMOVE);
        if (rc == 0 && result == PTZ_RESULT_OK && cmd.kind == Kind::RemovePreset)
            post([this, devId, name = cmd.name] { emit presetChanged(devId, name, false); });
        break;
    }
    case Kind::SetPreset: {
        what = "set preset";
        PTZ_PRESET_SET_REQ_S req{};
        req.preset = 0; // a new one
        varno::setText(req.name, cmd.name);
        command(req, P2P_MSG_PTZ_PRESET_SET);
        if (rc == 0 && result == PTZ_RESULT_OK)
            post([this, devId, name = cmd.name] { emit presetChanged(devId, name, true); });
        break;
    }
    }
    if (m_stop || (rc == 0 && result == PTZ_RESULT_OK))
        return;
    int code = onvif::kSoapFault;
    if (rc != 0)
        code = onvif::kSoapTimeout;
    else if (result == PTZ_RESULT_PASSWORD)
        code = onvif::kSoapAuth;
    WriteLog(2, "%s(%d):PTZ %s of %s failed: %s (%d, result %d)!!!", "PtzController::executeP2p", __LINE__, what,
             qPrintable(devId), why ? why : rc != 0 ? "no answer" : result == PTZ_RESULT_PASSWORD ? "password refused" : "refused",
             rc, result);
    post([this, devId, text = failureText(cmd.camera, code)] { emit commandFailed(devId, text); });
}

template <typename F>
void PtzController::post(F &&f)
{
    // Every answer is emitted on the owner's thread, never on the worker's.
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

QString PtzController::failureText(const PtzCamera &camera, int code) const
{
    QString cause;
    switch (code) {
    case onvif::kSoapNetwork:
    case onvif::kSoapTimeout: cause = tr("the camera does not answer"); break;
    case onvif::kSoapAuth: cause = tr("the camera refuses the password"); break;
    default: cause = tr("the camera refuses the command"); break;
    }
    return tr("Pan/tilt/zoom of %1 failed: %2").arg(camera.name.isEmpty() ? camera.devId : camera.name, cause);
}

} // namespace varno::live
