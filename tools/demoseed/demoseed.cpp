#include "tools/demoseed/demoseed.h"

#include "common/devicerecords.h"
#include "common/textfield.h"
#include "device/passwordcipher.h"
#include "platform/devmgr/sdk_dvrmgr.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>

#include <cstring>

namespace varno::demo {

namespace {

bool writeFile(const QString &path, const QByteArray &data, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

QString serviceAddr(uint16_t port)
{
    return QStringLiteral("http://127.0.0.1:%1/onvif/device_service").arg(port);
}

DeviceInfo_s storedRecord(const DemoCamera &c)
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof(d));
    varno::setText(d.devId, c.deviceId.toUtf8().constData());
    varno::setText(d.ipAddr, "127.0.0.1");
    varno::setText(d.devName, c.name.toUtf8().constData());
    d.streamType = 0;
    d.p2pFlag = c.p2p ? 1 : 0;
    if (c.p2p) {
        varno::setText(d.p2pId, c.p2pId.toUtf8().constData());
    } else {
        varno::setText(d.serviceAddr, serviceAddr(c.httpPort).toUtf8().constData());
        varno::setText(d.discoveryText, ("urn:uuid:" + c.deviceId).toUtf8().constData());
    }
    // The store holds the cipher text; a password the cipher cannot carry
    // stays plain, as the client itself does.
    char cipherText[64] = {};
    if (encode(c.password.toUtf8().constData(), cipherText) == 0)
        std::memcpy(d.password, cipherText, sizeof(d.password));
    else
        varno::setText(d.password, c.password.toUtf8().constData());
    return d;
}

} // namespace

DemoPlan defaultPlan(uint16_t brokerPort, uint16_t discoveryPort, uint16_t httpPort1, uint16_t httpPort2)
{
    DemoPlan plan;
    plan.brokerPort = brokerPort;
    plan.discoveryPort = discoveryPort;
    const char *names[] = {"Gate", "Yard", "Garage", "Hall"};
    for (int i = 0; i < 4; ++i) {
        DemoCamera c;
        c.p2p = true;
        c.deviceId = QStringLiteral("B10000%1").arg(i + 1);
        c.p2pId = QStringLiteral("VRNB-10000%1-DEMOA").arg(i + 1);
        c.name = QString::fromLatin1(names[i]);
        c.password = QStringLiteral("demo%1").arg(i + 1);
        c.h265 = i == 3; // "Hall": one camera of the newer kind
        c.ptz = i == 2;  // "Garage" pans, tilts and zooms
        plan.cameras.append(c);
    }
    const uint16_t ports[] = {httpPort1, httpPort2};
    const char *onvifNames[] = {"Lobby", "Stairs"};
    for (int i = 0; i < 2; ++i) {
        DemoCamera c;
        c.p2p = false;
        c.deviceId = QStringLiteral("5a5a5a5a-0000-4000-8000-d3300000000%1").arg(i + 1);
        c.name = QString::fromLatin1(onvifNames[i]);
        c.password = QStringLiteral("admin");
        c.httpPort = ports[i];
        c.ptz = i == 0; // "Lobby" pans, tilts and zooms
        plan.cameras.append(c);
    }
    return plan;
}

QJsonObject simulatorConfig(const DemoPlan &plan, const QString &storageDir)
{
    QJsonArray cameras;
    QJsonArray onvif;
    int index = 0;
    for (const DemoCamera &c : plan.cameras) {
        if (c.p2p) {
            QJsonObject camera{
                {QStringLiteral("kind"), QStringLiteral("p2p")},
                {QStringLiteral("deviceId"), c.deviceId},
                {QStringLiteral("p2pId"), c.p2pId},
                {QStringLiteral("name"), c.name},
                {QStringLiteral("password"), c.password},
                {QStringLiteral("hd"), QJsonObject{{QStringLiteral("width"), 640}, {QStringLiteral("height"), 360},
                                                   {QStringLiteral("fps"), 25}, {QStringLiteral("kbps"), 1000}}},
                {QStringLiteral("sd"), QJsonObject{{QStringLiteral("width"), 320}, {QStringLiteral("height"), 180},
                                                   {QStringLiteral("fps"), 25}, {QStringLiteral("kbps"), 300}}},
                {QStringLiteral("toneHz"), 330 + 110 * index++},
                {QStringLiteral("recordings"), QJsonObject{{QStringLiteral("count"), 6},
                                                           {QStringLiteral("seconds"), 4},
                                                           {QStringLiteral("first"), QStringLiteral("-7200")}}},
                {QStringLiteral("alarms"), QJsonObject{{QStringLiteral("count"), 5},
                                                       {QStringLiteral("first"), QStringLiteral("-7200")}}},
            };
            if (c.h265)
                camera.insert(QStringLiteral("codec"), QStringLiteral("h265"));
            if (c.ptz)
                camera.insert(QStringLiteral("ptz"), true);
            cameras.append(camera);
        } else {
            onvif.append(QJsonObject{
                {QStringLiteral("uuid"), c.deviceId},
                {QStringLiteral("name"), c.name},
                {QStringLiteral("password"), c.password},
                {QStringLiteral("httpPort"), int(c.httpPort)},
                {QStringLiteral("ptz"), c.ptz},
            });
        }
    }
    if (!onvif.isEmpty())
        cameras.append(QJsonObject{
            {QStringLiteral("kind"), QStringLiteral("onvif")},
            {QStringLiteral("id"), QStringLiteral("onvif")},
            {QStringLiteral("discoveryPort"), int(plan.discoveryPort)},
            {QStringLiteral("cameras"), onvif},
        });
    return QJsonObject{
        {QStringLiteral("broker"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")},
                                               {QStringLiteral("port"), int(plan.brokerPort)}}},
        {QStringLiteral("storage"), storageDir},
        {QStringLiteral("cameras"), cameras},
    };
}

QByteArray brokerConfig(const DemoPlan &plan)
{
    return QStringLiteral("listener %1 127.0.0.1\n"
                          "allow_anonymous true\n"
                          "persistence false\n"
                          "log_dest stdout\n")
        .arg(plan.brokerPort)
        .toUtf8();
}

bool seedClientData(const DemoPlan &plan, const QString &installDir, QString *error)
{
    if (!QDir().mkpath(installDir)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(installDir);
        return false;
    }
    const QByteArray p2pConf = QStringLiteral("# demo broker (scripts/run)\nhost = 127.0.0.1\nport = %1\n")
                                   .arg(plan.brokerPort)
                                   .toUtf8();
    const QByteArray onvifConf = QStringLiteral("# demo ONVIF cameras (scripts/run)\n"
                                                "probe_target = 127.0.0.1:%1\nuser = admin\n")
                                     .arg(plan.discoveryPort)
                                     .toUtf8();
    if (!writeFile(installDir + QStringLiteral("/p2p.conf"), p2pConf, error)
        || !writeFile(installDir + QStringLiteral("/onvif.conf"), onvifConf, error))
        return false;

    int ret = SDK_DVRMGR_Init(installDir.toUtf8().constData());
    auto fail = [&](const char *step) {
        if (error)
            *error = QStringLiteral("device store: %1 failed, ret(%2)").arg(QLatin1String(step)).arg(ret);
        SDK_DVRMGR_UnInit();
        return false;
    };
    if (ret != 0)
        return fail("init");
    if ((ret = SDK_DVRMGR_BeginRewrite()) != 0)
        return fail("begin");
    if ((ret = SDK_DVRMGR_DelDevAll()) != 0) {
        SDK_DVRMGR_RollbackRewrite();
        return fail("clear");
    }
    for (const DemoCamera &c : plan.cameras) {
        if ((ret = SDK_DVRMGR_AddDevice(storedRecord(c))) != 0) {
            SDK_DVRMGR_RollbackRewrite();
            return fail("add");
        }
    }
    if ((ret = SDK_DVRMGR_CommitRewrite()) != 0) {
        SDK_DVRMGR_RollbackRewrite();
        return fail("commit");
    }
    SDK_DVRMGR_UnInit();
    return true;
}

uint16_t freeLoopbackPort(const QList<uint16_t> &taken)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        const uint16_t port = probe.serverPort();
        if (!taken.contains(port))
            return port;
    }
    return 0;
}

} // namespace varno::demo
