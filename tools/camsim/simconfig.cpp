#include "tools/camsim/simconfig.h"

#include "platform/p2p/p2p_wire.h"

#include <QFile>

#include <algorithm>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>

namespace varno::camsim {

namespace {

QDateTime parseTime(const QJsonValue &v, const QDateTime &fallback)
{
    if (v.isDouble())
        return QDateTime::currentDateTime().addSecs(qint64(v.toDouble()));
    const QString text = v.toString();
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const qint64 rel = text.toLongLong(&ok);
    if (ok)
        return QDateTime::currentDateTime().addSecs(rel);
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return t.isValid() ? t : fallback;
}

VideoSettings parseVideo(const QJsonObject &o, VideoSettings d)
{
    d.width = o.value(QStringLiteral("width")).toInt(d.width);
    d.height = o.value(QStringLiteral("height")).toInt(d.height);
    d.fps = o.value(QStringLiteral("fps")).toInt(d.fps);
    d.kbps = o.value(QStringLiteral("kbps")).toInt(d.kbps);
    d.noise = o.value(QStringLiteral("noise")).toInt(d.noise);
    d.loopSeconds = o.value(QStringLiteral("loopSeconds")).toInt(d.loopSeconds);
    d.keySeconds = o.value(QStringLiteral("keySeconds")).toInt(d.keySeconds);
    return d;
}

} // namespace

bool loadSimConfig(const QString &path, SimConfig &out, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    return parseSimConfig(f.readAll(), out, error);
}

bool parseSimConfig(const QByteArray &json, SimConfig &out, QString *error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (!doc.isObject()) {
        if (error)
            *error = QStringLiteral("not a JSON object: %1").arg(pe.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonObject broker = root.value(QStringLiteral("broker")).toObject();
    out.broker.host = broker.value(QStringLiteral("host")).toString(out.broker.host);
    out.broker.port = broker.value(QStringLiteral("port")).toInt(out.broker.port);
    out.broker.user = broker.value(QStringLiteral("user")).toString();
    out.broker.password = broker.value(QStringLiteral("password")).toString();
    out.broker.caFile = broker.value(QStringLiteral("cafile")).toString();
    out.storage = root.value(QStringLiteral("storage")).toString();
    const QHostAddress addr(out.broker.host);
    if (out.broker.host != QLatin1String("localhost") && !addr.isLoopback()) {
        if (error)
            *error = QStringLiteral("broker must be on loopback, not %1").arg(out.broker.host);
        return false;
    }
    out.cameras.clear();
    for (const QJsonValue &v : root.value(QStringLiteral("cameras")).toArray()) {
        const QJsonObject o = v.toObject();
        CameraEntry e;
        e.kind = o.value(QStringLiteral("kind")).toString(QStringLiteral("p2p"));
        e.raw = o;
        out.cameras.append(e);
    }
    return true;
}

bool parseP2pCamera(const QJsonObject &raw, P2pCameraConfig &out, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    out.deviceId = raw.value(QStringLiteral("deviceId")).toString();
    out.p2pId = raw.value(QStringLiteral("p2pId")).toString();
    out.name = raw.value(QStringLiteral("name")).toString(out.deviceId);
    out.password = raw.value(QStringLiteral("password")).toString();
    out.protocol = raw.value(QStringLiteral("protocol")).toInt(varno::p2p::kVersion);
    if (out.protocol < 1 || out.protocol > varno::p2p::kVersion)
        return fail(QStringLiteral("protocol %1 not known").arg(out.protocol));
    out.brokerUser = raw.value(QStringLiteral("user")).toString();
    out.brokerPassword = raw.value(QStringLiteral("userPassword")).toString();
    if (!varno::p2p::validTopicId(out.deviceId.toStdString()))
        return fail(QStringLiteral("bad deviceId \"%1\"").arg(out.deviceId));
    if (out.p2pId.isEmpty())
        out.p2pId = QString::fromStdString(
            varno::p2p::cameraIdForDevice(out.deviceId.toStdString(), "KXPQT"));
    if (!varno::p2p::validTopicId(out.p2pId.toStdString()))
        return fail(QStringLiteral("bad p2pId \"%1\"").arg(out.p2pId));
    VideoSettings sd;
    sd.width = 160;
    sd.height = 90;
    sd.kbps = 100;
    out.hd = parseVideo(raw.value(QStringLiteral("hd")).toObject(), VideoSettings());
    out.sd = parseVideo(raw.value(QStringLiteral("sd")).toObject(), sd);
    const QString codec = raw.value(QStringLiteral("codec")).toString(QStringLiteral("h264"));
    if (codec != QLatin1String("h264") && codec != QLatin1String("h265"))
        return fail(QStringLiteral("codec \"%1\" not known (h264 or h265)").arg(codec));
    out.hd.h265 = out.sd.h265 = codec == QLatin1String("h265");
    out.toneHz = raw.value(QStringLiteral("toneHz")).toInt(out.toneHz);
    out.ptz = raw.value(QStringLiteral("ptz")).toBool(false);
    out.answerDelayMs = std::max(0, raw.value(QStringLiteral("answerDelayMs")).toInt(0));
    const QDateTime defaultFirst = QDateTime::currentDateTime().addSecs(-6 * 3600);
    const QJsonObject rec = raw.value(QStringLiteral("recordings")).toObject();
    out.recordings.count = rec.value(QStringLiteral("count")).toInt(0);
    out.recordings.seconds = std::max(1, rec.value(QStringLiteral("seconds")).toInt(4));
    out.recordings.first = parseTime(rec.value(QStringLiteral("first")), defaultFirst);
    out.recordings.intervalSeconds = std::max(1, rec.value(QStringLiteral("intervalSeconds")).toInt(600));
    out.recordings.extendedForm = rec.value(QStringLiteral("form")).toString(QStringLiteral("extended"))
                                  != QLatin1String("basic");
    const QJsonObject al = raw.value(QStringLiteral("alarms")).toObject();
    out.alarms.count = al.value(QStringLiteral("count")).toInt(0);
    out.alarms.first = parseTime(al.value(QStringLiteral("first")), defaultFirst);
    out.alarms.intervalSeconds = std::max(1, al.value(QStringLiteral("intervalSeconds")).toInt(300));
    return true;
}

} // namespace varno::camsim
