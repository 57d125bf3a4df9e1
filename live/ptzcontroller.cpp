#include "live/ptzcontroller.h"

#include "common/logfile.h"
#include "common/uithread.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifptz.h"
#include "platform/onvif/onvifsoap.h"

#include <QMetaObject>

namespace varno::live {

namespace {

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
    m_cv.notify_all();
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
        // The P2P cameras' PTZ messages are not part of this client yet.
        if (cmd.kind == Kind::Probe)
            post([this, devId] { emit capabilityKnown(devId, false, false); });
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
