// The whole ONVIF road against a set of simulated cameras: discovery,
// configuration, stream address and events, as the client walks it.
#include "tools/camsim/onvifsimulation.h"

#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "platform/onvif/onvif_event_sdk.h"
#include "tests/support/onviftestconf.h"

#include <QtTest>

#include <map>
#include <mutex>

namespace {

struct Found
{
    std::mutex mutex;
    std::vector<OnvifDiscoveryInfo_s> results;
    int lastCalls = 0;
};

int onFound(OnvifDiscoveryInfo_s *r, int n, int last, void *user)
{
    auto *f = static_cast<Found *>(user);
    std::lock_guard<std::mutex> lock(f->mutex);
    for (int i = 0; i < n; ++i)
        f->results.push_back(r[i]);
    f->lastCalls += last;
    return 0;
}

struct Alarms
{
    std::mutex mutex;
    std::vector<EVENT_alarm_info> list;
};

int onAlarm(const EVENT_alarm_info *info, void *user)
{
    auto *a = static_cast<Alarms *>(user);
    std::lock_guard<std::mutex> lock(a->mutex);
    a->list.push_back(*info);
    return 0;
}

} // namespace

class TestOnvifSimulation : public QObject
{
    Q_OBJECT

private slots:
    void discoverConfigureStreamAndEvents();
    void namesModelsAndRefusedPasswords();
};

void TestOnvifSimulation::discoverConfigureStreamAndEvents()
{
    COnvifSimulation sim;
    std::vector<COnvifSimulation::CameraSetup> setups(3);
    setups[0].password = "first";
    setups[1].password = "second pw";
    setups[2].password = "third";
    setups[2].clockOffsetS = -4000;
    QVERIFY(sim.start(setups));
    QVERIFY(varno::test::writeOnvifConf({QString::fromStdString(sim.probeTargetLine()),
                                         QStringLiteral("probe_window_ms = 400"),
                                         QStringLiteral("event_pull_timeout_s = 1")}));

    // Discovery.
    Found found;
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(&onFound, &found);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Startup("127.0.0.1"), 0);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(found.lastCalls, 1, 5000);
    std::map<std::string, OnvifDiscoveryInfo_s> byEndpoint;
    for (const auto &r : found.results)
        byEndpoint[r.endpoint] = r;
    QCOMPARE(byEndpoint.size(), size_t(3));

    // The client stores each camera's password, then reads its configuration.
    Alarms alarms;
    ONVIF_EVENT_SDK_SetAlarmCB(&onAlarm, &alarms);
    QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    for (int i = 0; i < 3; ++i) {
        COnvifCamera *cam = sim.camera(i);
        const auto it = byEndpoint.find(cam->endpoint());
        QVERIFY(it != byEndpoint.end());
        QCOMPARE(QByteArray(it->second.name), QByteArray(cam->settings().name.c_str()));
        QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(it->second.serviceAddr, setups[size_t(i)].password.c_str()), 0);
        DevConfig_s cfg{};
        QCOMPARE(SDK_DVRMGR_GetDevConfig(it->second.serviceAddr, &cfg), 0);
        QCOMPARE(cfg.profileCount, 2);

        OnvifStreamUriReq_s req{};
        std::memcpy(req.serviceAddr, it->second.serviceAddr, sizeof(req.serviceAddr));
        std::memcpy(req.mainToken, cfg.mainToken, sizeof(req.mainToken));
        req.channel = 1;
        req.transport = 1;
        char uri[kOnvifUriSize];
        QCOMPARE(SDK_DVRMGR_GetStreamUri(req, nullptr, uri), 0);
        QVERIFY2(QByteArray(uri).endsWith(QByteArray("@127.0.0.1:") + QByteArray::number(sim.rtsp(i)->port()) + "/" +
                                          QByteArray(cam->settings().uuid.c_str()) + "/sub"),
                 uri);

        const std::string source = "urn:uuid:" + cam->settings().uuid;
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(cfg.eventAddr, source.c_str(), 3), 0);
    }

    // An alarm from each camera, with its own source.
    sim.camera(0)->raiseEvent(COnvifCamera::Event::Motion, true);
    sim.camera(1)->raiseEvent(COnvifCamera::Event::DigitalInput, true);
    sim.camera(2)->raiseEvent(COnvifCamera::Event::Tamper, true);
    QTRY_COMPARE_WITH_TIMEOUT(alarms.list.size(), size_t(3), 5000);
    std::map<std::string, int> types;
    {
        std::lock_guard<std::mutex> lock(alarms.mutex);
        for (const auto &a : alarms.list)
            types[a.source] = a.alarmType;
    }
    QCOMPARE(types["urn:uuid:" + sim.camera(0)->settings().uuid], int(EVENT_ALARM_MOTION));
    QCOMPARE(types["urn:uuid:" + sim.camera(1)->settings().uuid], int(EVENT_ALARM_IO));
    QCOMPARE(types["urn:uuid:" + sim.camera(2)->settings().uuid], int(EVENT_ALARM_VIDEO_BLOCK));

    QCOMPARE(ONVIF_EVENT_SDK_Cleanup(), 0);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(sim.camera(i)->unsubscribeCount(), 1);
}

void TestOnvifSimulation::namesModelsAndRefusedPasswords()
{
    COnvifSimulation sim;
    std::vector<COnvifSimulation::CameraSetup> setups(2);
    setups[0].nameScope = false;
    setups[0].model = "Dome M-42 Überkopf";
    setups[0].password = "one";
    setups[1].name = "Hall";
    QVERIFY(sim.start(setups));
    QVERIFY(varno::test::writeOnvifConf({QString::fromStdString(sim.probeTargetLine()),
                                         QStringLiteral("probe_window_ms = 300")}));
    Found found;
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(&onFound, &found);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Startup("127.0.0.1"), 0);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(found.lastCalls, 1, 5000);
    QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);
    std::map<std::string, OnvifDiscoveryInfo_s> byEndpoint;
    for (const auto &r : found.results)
        byEndpoint[r.endpoint] = r;
    QCOMPARE(byEndpoint.size(), size_t(2));
    // Without name and hardware scopes the answer carries no name.
    QCOMPARE(QByteArray(byEndpoint[sim.camera(0)->endpoint()].name), QByteArray());
    QCOMPARE(QByteArray(byEndpoint[sim.camera(1)->endpoint()].name), QByteArray("Hall"));

    // The model is known once the configuration was read, cut whole.
    const std::string addr = sim.camera(0)->serviceAddr();
    char model[32] = "stale";
    QCOMPARE(SDK_DVRMGR_GetDevModel(addr.c_str(), model, int(sizeof(model))), int(DVRMGR_ERR_REPLY));
    QCOMPARE(QByteArray(model), QByteArray());
    QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(addr.c_str(), "one"), 0);
    DevConfig_s cfg{};
    QCOMPARE(SDK_DVRMGR_GetDevConfig(addr.c_str(), &cfg), 0);
    QCOMPARE(SDK_DVRMGR_GetDevModel(addr.c_str(), model, int(sizeof(model))), 0);
    QCOMPARE(QByteArray(model), QByteArray("Dome M-42 Überkopf"));
    // 11 bytes would end inside the "Ü": 10 are given.
    QCOMPARE(SDK_DVRMGR_GetDevModel(addr.c_str(), model, 12), 0);
    QCOMPARE(QByteArray(model), QByteArray("Dome M-42 "));
    QCOMPARE(SDK_DVRMGR_GetDevModel(addr.c_str(), nullptr, 13), int(DVRMGR_ERR_PARAM));

    // Refusing our password is an authentication failure, not an
    // unreachable camera.
    sim.setRefusePassword(0, true);
    QCOMPARE(SDK_DVRMGR_GetDevConfig(addr.c_str(), &cfg), int(DVRMGR_ERR_AUTH));
}

QTEST_GUILESS_MAIN(TestOnvifSimulation)
#include "tst_onvifsimulation.moc"
