#include "platform/onvif/onvif_event_sdk.h"
#include "platform/onvif/onvifparse.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"
#include "tools/camsim/onvifcamera.h"

#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <mutex>

namespace {

struct Alarms
{
    std::mutex mutex;
    std::vector<EVENT_alarm_info> list;

    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return list.size();
    }
    std::vector<EVENT_alarm_info> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<EVENT_alarm_info> out;
        out.swap(list);
        return out;
    }
};

int onAlarm(const EVENT_alarm_info *info, void *user)
{
    auto *a = static_cast<Alarms *>(user);
    std::lock_guard<std::mutex> lock(a->mutex);
    a->list.push_back(*info);
    return 0;
}

int threadCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

COnvifCamera::Settings settings(int i)
{
    COnvifCamera::Settings s;
    s.uuid = QStringLiteral("aaaaaaaa-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0')).toStdString();
    s.password = "secret" + std::to_string(i);
    return s;
}

std::unique_ptr<COnvifCamera> startCamera(int i, uint16_t port = 0)
{
    auto cam = std::make_unique<COnvifCamera>(settings(i));
    if (!cam->start(port))
        return nullptr;
    onvif::setPassword(cam->serviceAddr(), cam->settings().password);
    return cam;
}

} // namespace

class TestOnvifEvents : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("event_termination_s = 4"),
                                             QStringLiteral("event_pull_timeout_s = 1"),
                                             QStringLiteral("event_retry_ms = 200"),
                                             QStringLiteral("connect_timeout_ms = 500"),
                                             QStringLiteral("request_timeout_ms = 2000")}));
        onvif::clearPasswords();
        m_alarms.take();
        ONVIF_EVENT_SDK_SetAlarmCB(&onAlarm, &m_alarms);
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    }

    void cleanup()
    {
        QCOMPARE(ONVIF_EVENT_SDK_Cleanup(), 0);
    }

    void topicMapping()
    {
        QCOMPARE(onvif::alarmTypeOf("tns1:RuleEngine/CellMotionDetector/Motion", "true"), int(EVENT_ALARM_MOTION));
        QCOMPARE(onvif::alarmTypeOf("tns1:VideoSource/MotionAlarm", "true"), int(EVENT_ALARM_MOTION));
        QCOMPARE(onvif::alarmTypeOf("tns1:Device/Trigger/DigitalInput", "true"), int(EVENT_ALARM_IO));
        QCOMPARE(onvif::alarmTypeOf("tns1:RuleEngine/TamperDetector/Tamper", "true"), int(EVENT_ALARM_VIDEO_BLOCK));
        QCOMPARE(onvif::alarmTypeOf("tns1:VideoSource/GlobalSceneChange/ImagingService", "true"),
                 int(EVENT_ALARM_VIDEO_BLOCK));
        QCOMPARE(onvif::alarmTypeOf("tns1:VideoSource/SignalLoss", "false"), int(EVENT_ALARM_DISARM));
        QCOMPARE(onvif::alarmTypeOf("tns1:Device/Trigger/DigitalInput", "false"), int(EVENT_ALARM_DISARM));
        QCOMPARE(onvif::alarmTypeOf("tns1:Monitoring/ProcessorUsage", "true"), -1);
        QCOMPARE(onvif::alarmTypeOf("tns1:VideoSource/MotionAlarm", "maybe"), -1);
        QCOMPARE(onvif::alarmTypeOf("", ""), -1);

        // A pull answer with more messages than taken at once.
        std::string resp = "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>"
                           "<PullMessagesResponse><CurrentTime>2024-01-01T00:00:00Z</CurrentTime>"
                           "<TerminationTime>2024-01-01T00:01:00Z</TerminationTime>";
        for (int i = 0; i < 300; ++i)
            resp += "<NotificationMessage><Topic>tns1:VideoSource/MotionAlarm</Topic><Message><Message "
                    "UtcTime=\"2024-01-01T00:00:00Z\"><Data><SimpleItem Name=\"State\" Value=\"true\"/></Data>"
                    "</Message></Message></NotificationMessage>";
        resp += "</PullMessagesResponse></e:Body></e:Envelope>";
        pugi::xml_document doc;
        QVERIFY(onvif::parseSafely(doc, resp.data(), resp.size(), 1 << 20, "test"));
        std::vector<onvif::EventItem> items;
        long long cur = 0;
        long long term = 0;
        QVERIFY(onvif::parsePullMessages(onvif::child(doc.document_element(), "Body"), &items, &cur, &term));
        QCOMPARE(items.size(), size_t(onvif::kMaxEventsPerPull));
        QCOMPARE(term - cur, 60LL);
        QCOMPARE(items[0].alarmType, int(EVENT_ALARM_MOTION));
    }

    void alarmsDelivered()
    {
        auto cam = startCamera(1);
        QVERIFY(cam);
        const std::string source = cam->endpoint();
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(cam->eventAddr().c_str(), source.c_str(), ONVIF_EVENT_MODE_PULLPOINT), 0);
        // Subscribing again to a running address is no error and no second subscription.
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(cam->eventAddr().c_str(), source.c_str(), 3), 0);
        QCOMPARE(cam->subscriptionsCreated(), 1);
        // The initial states (all inactive) are no alarms.
        QTRY_VERIFY(cam->pullCount() >= 2);
        QCOMPARE(m_alarms.size(), size_t(0));

        using E = COnvifCamera::Event;
        const std::vector<std::pair<E, bool>> script = {
            {E::Motion, true}, {E::DigitalInput, true}, {E::Tamper, true},
            {E::Motion, false}, {E::SignalLoss, true}, {E::MotionAlarm, true}, {E::DigitalInput, false},
        };
        const std::vector<int> expected = {3, 2, 1, 0, 1, 3, 0};
        // One at a time: each change is one alarm, in order.
        for (size_t i = 0; i < script.size(); ++i) {
            cam->raiseEvent(script[i].first, script[i].second);
            QTRY_COMPARE_WITH_TIMEOUT(m_alarms.size(), i + 1, 5000);
        }
        const auto got = m_alarms.take();
        const QRegularExpression timeText(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        for (size_t i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].alarmType, expected[i]);
            QCOMPARE(QByteArray(got[i].source), QByteArray(source.c_str()));
            QVERIFY2(timeText.match(QString::fromLatin1(got[i].time)).hasMatch(), got[i].time);
        }
        QCOMPARE(cam->authFailures(), 0);
    }

    void renewedBeforeExpiry()
    {
        auto cam = startCamera(2);
        QVERIFY(cam);
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(cam->eventAddr().c_str(), cam->endpoint().c_str(), 3), 0);
        // A lifetime of 4 s: renewed about every 2 s, never lost.
        QTRY_VERIFY_WITH_TIMEOUT(cam->renewCount() >= 2, 30000);
        QCOMPARE(cam->subscriptionsCreated(), 1);
        QCOMPARE(cam->activeSubscriptions(), 1);
        cam->raiseEvent(COnvifCamera::Event::Tamper, true);
        QTRY_COMPARE(m_alarms.size(), size_t(1));
    }

    void subscribeFailures()
    {
        auto cam = startCamera(3);
        QVERIFY(cam);
        const std::string addr = cam->eventAddr();
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), "urn:uuid:x", 1), int(ONVIF_EVENT_ERR_PARAM));
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(nullptr, "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_PARAM));
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe("rtsp://127.0.0.1/", "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_PARAM));
        onvif::setPassword(cam->serviceAddr(), "wrong");
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_AUTH));
        cam->setGarbageReplies(true);
        onvif::setPassword(cam->serviceAddr(), cam->settings().password);
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_REPLY));
        cam->stop();
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_NETWORK));
        QCOMPARE(ONVIF_EVENT_SDK_Unsubscribe(addr.c_str()), int(ONVIF_EVENT_ERR_NOT_FOUND));
        QCOMPARE(ONVIF_EVENT_SDK_Cleanup(), 0);
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), "urn:uuid:x", 3), int(ONVIF_EVENT_ERR_NOT_INIT));
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    }

    void unsubscribeAndCleanupWhileRunning()
    {
        std::vector<std::unique_ptr<COnvifCamera>> cams;
        for (int i = 0; i < 5; ++i) {
            cams.push_back(startCamera(10 + i));
            QVERIFY(cams.back());
        }
        const int before = threadCount(); // the cameras' own threads included
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(ONVIF_EVENT_SDK_Subscribe(cams[size_t(i)]->eventAddr().c_str(), cams[size_t(i)]->endpoint().c_str(), 3), 0);
        }
        QTRY_VERIFY(threadCount() >= before + 5);

        QCOMPARE(ONVIF_EVENT_SDK_Unsubscribe(cams[0]->eventAddr().c_str()), 0);
        QCOMPARE(cams[0]->unsubscribeCount(), 1);
        QCOMPARE(cams[0]->activeSubscriptions(), 0);
        QCOMPARE(ONVIF_EVENT_SDK_Unsubscribe(cams[0]->eventAddr().c_str()), int(ONVIF_EVENT_ERR_NOT_FOUND));

        // Events keep flowing to the others while one went away.
        cams[1]->raiseEvent(COnvifCamera::Event::Motion, true);
        QTRY_COMPARE(m_alarms.size(), size_t(1));

        QCOMPARE(ONVIF_EVENT_SDK_Cleanup(), 0);
        for (int i = 1; i < 5; ++i) {
            QCOMPARE(cams[size_t(i)]->unsubscribeCount(), 1);
            QCOMPARE(cams[size_t(i)]->activeSubscriptions(), 0);
        }
        QTRY_COMPARE(threadCount(), before);
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    }

    void cameraVanishesMidSubscription()
    {
        auto cam = startCamera(20);
        QVERIFY(cam);
        const uint16_t port = cam->port();
        const std::string addr = cam->eventAddr();
        QCOMPARE(ONVIF_EVENT_SDK_Subscribe(addr.c_str(), cam->endpoint().c_str(), 3), 0);
        QTRY_VERIFY(cam->pullCount() >= 1);

        // Gone (its subscriptions with it): the library notices.
        const QByteArray pullFailed = QByteArray("Pull for device(") + cam->endpoint().c_str() + ") failed";
        const qsizetype failuresBefore = varno::test::logText().count(pullFailed);
        cam.reset();
        QTRY_VERIFY_WITH_TIMEOUT(varno::test::logText().count(pullFailed) > failuresBefore, 20000);
        QCOMPARE(m_alarms.size(), size_t(0));

        // Back on the same port: the library subscribes again by itself.
        cam = startCamera(20, port);
        QVERIFY(cam);
        QTRY_COMPARE_WITH_TIMEOUT(cam->subscriptionsCreated(), 1, 8000);
        QTRY_VERIFY(cam->pullCount() >= 1);
        cam->raiseEvent(COnvifCamera::Event::DigitalInput, true);
        QTRY_COMPARE(m_alarms.size(), size_t(1));
        QCOMPARE(m_alarms.take()[0].alarmType, int(EVENT_ALARM_IO));

        // Gone again, then unsubscribed while the library is retrying.
        const qsizetype failuresAgain = varno::test::logText().count(pullFailed);
        cam.reset();
        QTRY_VERIFY_WITH_TIMEOUT(varno::test::logText().count(pullFailed) > failuresAgain, 20000);
        QCOMPARE(ONVIF_EVENT_SDK_Unsubscribe(addr.c_str()), 0);
    }

private:
    Alarms m_alarms;
};

QTEST_GUILESS_MAIN(TestOnvifEvents)
#include "tst_onvifevents.moc"
