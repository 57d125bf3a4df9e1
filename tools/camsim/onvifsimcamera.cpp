#include "tools/camsim/onvifsimcamera.h"

#include "tools/camsim/onvifsimulation.h"

#include <QJsonArray>
#include <QMap>

namespace varno::camsim {

namespace {

class OnvifSetCamera final : public SimCamera
{
public:
    OnvifSetCamera(QString id, std::vector<COnvifSimulation::CameraSetup> setups, uint16_t discoveryPort)
        : m_id(std::move(id)), m_setups(std::move(setups)), m_discoveryPort(discoveryPort)
    {
    }
    QString id() const override { return m_id; }
    QString kind() const override { return QStringLiteral("onvif"); }
    bool start(QString *error) override
    {
        if (m_sim.start(m_setups, m_discoveryPort))
            return true;
        if (error)
            *error = QStringLiteral("ONVIF cameras of \"%1\" could not start (ports taken?)").arg(m_id);
        return false;
    }
    void stop() override { m_sim.stop(); }
    QString control(const QStringList &args) override
    {
        const QString cmd = args.value(0);
        if (cmd == QLatin1String("list")) {
            QStringList parts;
            for (int i = 0; i < m_sim.count(); ++i)
                parts << QString::fromStdString(m_sim.camera(i)->settings().uuid + " "
                                                + m_sim.camera(i)->serviceAddr());
            return QStringLiteral("OK discovery 127.0.0.1:%1 %2").arg(m_sim.discoveryPort()).arg(parts.join(' '));
        }
        if (cmd == QLatin1String("offline") || cmd == QLatin1String("online")) {
            bool ok = false;
            const int index = args.value(1).toInt(&ok);
            if (!ok || index < 0 || index >= m_sim.count())
                return QStringLiteral("ERR no camera %1").arg(args.value(1));
            m_sim.setDiscoverable(index, cmd == QLatin1String("online"));
            return QStringLiteral("OK");
        }
        if (cmd == QLatin1String("rtsp-down") || cmd == QLatin1String("rtsp-up")
            || cmd == QLatin1String("rtsp-move")) {
            // The camera's stream goes away (and comes back on the same port,
            // or on another one that GetStreamUri hands out from then on)
            // while the camera itself still answers.
            bool ok = false;
            const int index = args.value(1).toInt(&ok);
            CRtspServer *rtsp = ok ? m_sim.rtsp(index) : nullptr;
            if (!rtsp)
                return QStringLiteral("ERR no camera %1").arg(args.value(1));
            if (cmd == QLatin1String("rtsp-down")) {
                rtsp->stop();
                return QStringLiteral("OK rtsp-down");
            }
            if (cmd == QLatin1String("rtsp-move")) {
                rtsp->stop();
                if (!rtsp->start(0))
                    return QStringLiteral("ERR rtsp-move");
                m_sim.camera(index)->setRtspPort(rtsp->port());
                return QStringLiteral("OK rtsp-move %1").arg(rtsp->port());
            }
            return rtsp->restart() ? QStringLiteral("OK rtsp-up") : QStringLiteral("ERR rtsp-up");
        }
        if (cmd == QLatin1String("refuse-password") || cmd == QLatin1String("password")) {
            bool ok = false;
            const int index = args.value(1).toInt(&ok);
            if (!ok || index < 0 || index >= m_sim.count())
                return QStringLiteral("ERR no camera %1").arg(args.value(1));
            const QString value = args.value(2);
            if (cmd == QLatin1String("password")) {
                if (value.isEmpty())
                    return QStringLiteral("ERR password <index> <new password>");
                m_sim.camera(index)->setPassword(value.toStdString());
                return QStringLiteral("OK");
            }
            if (value != QLatin1String("on") && value != QLatin1String("off"))
                return QStringLiteral("ERR refuse-password <index> on|off");
            m_sim.setRefusePassword(index, value == QLatin1String("on"));
            return QStringLiteral("OK");
        }
        if (cmd == QLatin1String("event")) {
            // event <i> <motion|motion-alarm|io|tamper|signal-loss> on|off
            static const QMap<QString, COnvifCamera::Event> kinds = {
                {QStringLiteral("motion"), COnvifCamera::Event::Motion},
                {QStringLiteral("motion-alarm"), COnvifCamera::Event::MotionAlarm},
                {QStringLiteral("io"), COnvifCamera::Event::DigitalInput},
                {QStringLiteral("tamper"), COnvifCamera::Event::Tamper},
                {QStringLiteral("signal-loss"), COnvifCamera::Event::SignalLoss},
            };
            bool ok = false;
            const int index = args.value(1).toInt(&ok);
            if (!ok || index < 0 || index >= m_sim.count())
                return QStringLiteral("ERR no camera %1").arg(args.value(1));
            const QString state = args.value(3);
            if (!kinds.contains(args.value(2)) || (state != QLatin1String("on") && state != QLatin1String("off")))
                return QStringLiteral("ERR usage: event <i> <motion|motion-alarm|io|tamper|signal-loss> on|off");
            m_sim.camera(index)->raiseEvent(kinds.value(args.value(2)), state == QLatin1String("on"));
            return QStringLiteral("OK");
        }
        return QStringLiteral("ERR unknown command \"%1\"").arg(cmd);
    }

private:
    QString m_id;
    std::vector<COnvifSimulation::CameraSetup> m_setups;
    uint16_t m_discoveryPort = 0;
    COnvifSimulation m_sim;
};

bool portValue(const QJsonObject &o, const char *key, uint16_t &out)
{
    const int v = o.value(QLatin1String(key)).toInt(0);
    if (v < 0 || v > 65535)
        return false;
    out = static_cast<uint16_t>(v);
    return true;
}

} // namespace

void registerOnvifCameraKind()
{
    registerCameraKind(QStringLiteral("onvif"),
                       [](const CameraEntry &entry, const SimConfig &, QString *error) -> std::unique_ptr<SimCamera> {
        auto fail = [&](const QString &why) -> std::unique_ptr<SimCamera> {
            if (error)
                *error = why;
            return nullptr;
        };
        const QJsonObject &raw = entry.raw;
        uint16_t discoveryPort = 0;
        if (!portValue(raw, "discoveryPort", discoveryPort))
            return fail(QStringLiteral("bad discoveryPort"));
        std::vector<COnvifSimulation::CameraSetup> setups;
        for (const QJsonValue &v : raw.value(QStringLiteral("cameras")).toArray()) {
            const QJsonObject c = v.toObject();
            COnvifSimulation::CameraSetup setup;
            setup.uuid = c.value(QStringLiteral("uuid")).toString().toStdString();
            setup.name = c.value(QStringLiteral("name")).toString().toStdString();
            setup.password = c.value(QStringLiteral("password")).toString(QStringLiteral("admin")).toStdString();
            setup.nameScope = c.value(QStringLiteral("nameScope")).toBool(true);
            setup.model = c.value(QStringLiteral("model")).toString().toStdString();
            setup.httpDigest = c.value(QStringLiteral("httpDigest")).toBool(false);
            setup.h265 = c.value(QStringLiteral("codec")).toString() == QLatin1String("h265");
            setup.ptz = c.value(QStringLiteral("ptz")).toBool(false);
            if (!portValue(c, "httpPort", setup.httpPort))
                return fail(QStringLiteral("bad httpPort"));
            setups.push_back(setup);
        }
        if (setups.empty())
            return fail(QStringLiteral("an \"onvif\" entry needs at least one camera"));
        return std::make_unique<OnvifSetCamera>(raw.value(QStringLiteral("id")).toString(QStringLiteral("onvif")),
                                                std::move(setups), discoveryPort);
    });
}

} // namespace varno::camsim
