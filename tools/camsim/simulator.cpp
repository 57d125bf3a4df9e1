#include "tools/camsim/simulator.h"

#include "tools/camsim/p2pcamera.h"

namespace varno::camsim {

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(const SimConfig &config, QString *error)
{
    stop();
    for (const CameraEntry &entry : config.cameras) {
        std::unique_ptr<SimCamera> camera;
        QString why;
        if (entry.kind == QLatin1String("p2p")) {
            P2pCameraConfig c;
            if (parseP2pCamera(entry.raw, c, &why))
                camera = std::make_unique<P2pCamera>(c, config.broker, config.storage);
        } else if (CameraFactory factory = cameraFactory(entry.kind)) {
            camera = factory(entry, config, &why);
        } else {
            why = QStringLiteral("unknown camera kind \"%1\"").arg(entry.kind);
        }
        if (!camera || !camera->start(&why)) {
            if (error)
                *error = why;
            stop();
            return false;
        }
        m_cameras.push_back(std::move(camera));
    }
    return true;
}

void Simulator::stop()
{
    for (auto &c : m_cameras)
        c->stop();
    m_cameras.clear();
}

SimCamera *Simulator::camera(const QString &id) const
{
    for (const auto &c : m_cameras)
        if (c->id() == id)
            return c.get();
    return nullptr;
}

QString Simulator::control(const QString &line)
{
    QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("ERR empty command");
    const QString target = words.takeFirst();
    if (target == QLatin1String("ping"))
        return QStringLiteral("OK pong");
    if (target == QLatin1String("list")) {
        QStringList ids;
        for (const auto &c : m_cameras)
            ids << c->kind() + QLatin1Char(':') + c->id();
        return QStringLiteral("OK ") + ids.join(QLatin1Char(' '));
    }
    if (target == QLatin1String("all")) {
        for (const auto &c : m_cameras) {
            const QString r = c->control(words);
            if (!r.startsWith(QLatin1String("OK")))
                return r;
        }
        return QStringLiteral("OK all");
    }
    SimCamera *c = camera(target);
    if (!c)
        return QStringLiteral("ERR no camera ") + target;
    return c->control(words);
}

} // namespace varno::camsim
