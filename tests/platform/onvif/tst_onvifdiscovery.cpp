#include "platform/onvif/onvif_discovery_sdk.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifprobe.h"
#include "tools/camsim/discoveryresponder.h"

#include "common/crashhandler.h"
#include "common/installdir.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QtTest>

#include <memory>
#include <mutex>
#include <set>

namespace {

struct Call
{
    std::vector<OnvifDiscoveryInfo_s> results;
    int n = 0;
    int last = 0;
    bool crashStack = false;   // the discovery thread has the crash handler's stack
};

struct Collector
{
    std::mutex mutex;
    std::vector<Call> calls;

    int lastCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        int c = 0;
        for (const auto &call : calls)
            c += call.last;
        return c;
    }
    std::vector<Call> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Call> out;
        out.swap(calls);
        return out;
    }
};

int onResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user)
{
    auto *c = static_cast<Collector *>(user);
    Call call;
    call.n = n;
    call.last = last;
    call.crashStack = CrashHandlerOnThisThread();
    for (int i = 0; i < n; ++i)
        call.results.push_back(results[i]);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->calls.push_back(std::move(call));
    return 0;
}

CDiscoveryResponder::Entry camera(int i, uint16_t httpPort = 8080)
{
    CDiscoveryResponder::Entry e;
    e.endpoint = QStringLiteral("urn:uuid:00000000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0')).toStdString();
    e.serviceAddr = "http://127.0.0.1:" + std::to_string(httpPort) + "/onvif/device_service";
    e.name = "Cam " + std::to_string(i);
    return e;
}

QString target(quint16 port)
{
    return QStringLiteral("probe_target = 127.0.0.1:%1").arg(port);
}

// The matches parsed from datagram d (sent from 10.1.1.1) as the answer to
// probe: one empty entry when their count is not the one expected, so that
// the checks after it fail.
std::vector<OnvifDiscoveryInfo_s> parse(const std::string &d, const char *probe, int expected)
{
    std::vector<OnvifDiscoveryInfo_s> out;
    const int n = onvif::parseProbeMatches(d.data(), d.size(), probe, "10.1.1.1", &out);
    return n == expected && out.size() == size_t(n) ? out : std::vector<OnvifDiscoveryInfo_s>(1);
}

} // namespace

class TestOnvifDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_collector.take();
        ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(&onResult, &m_collector);
    }

    void cleanup()
    {
        QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);
    }

    void parserFields()
    {
        // Name scope percent-decoded; the IP comes from the service address
        // when it is dotted, else from the sender.
        CDiscoveryResponder::Entry e = camera(7);
        e.name = "Front door";
        auto out = parse(CDiscoveryResponder::probeMatch(e, "urn:uuid:probe-1"), "urn:uuid:probe-1", 1);
        QCOMPARE(QByteArray(out[0].endpoint), QByteArray(e.endpoint.c_str()));
        QCOMPARE(QByteArray(out[0].name), QByteArray("Front door"));
        QCOMPARE(QByteArray(out[0].ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(out[0].serviceAddr), QByteArray(e.serviceAddr.c_str()));

        e.serviceAddr = "http://camera.local/onvif/device_service http://127.0.0.2/x";
        const std::string d = CDiscoveryResponder::probeMatch(e, "urn:uuid:probe-1");
        out = parse(d, "urn:uuid:probe-1", 1);
        QCOMPARE(QByteArray(out[0].serviceAddr), QByteArray("http://camera.local/onvif/device_service"));
        QCOMPARE(QByteArray(out[0].ipAddr), QByteArray("10.1.1.1"));
        // Answers to another probe are not taken.
        QVERIFY(parse(d, "urn:uuid:probe-2", 0).empty());

        // An endpoint longer than the field is cut, never overrun.
        e.endpoint = "urn:uuid:" + std::string(100, 'a');
        QCOMPARE(qstrlen(parse(CDiscoveryResponder::probeMatch(e, "r"), "r", 1)[0].endpoint), uint(63));

        // The Probe itself asks for network video transmitters and is valid XML.
        const std::string probe = onvif::buildProbe("urn:uuid:abc&<");
        QVERIFY(probe.find("dn:NetworkVideoTransmitter") != std::string::npos);
        QVERIFY(probe.find("urn:uuid:abc&amp;&lt;") != std::string::npos);
        QCOMPARE(onvif::percentDecode("a%20b%zz%4"), std::string("a b%zz%4"));
    }

    void severalCameras()
    {
        CDiscoveryResponder r[3];
        QStringList conf{QStringLiteral("probe_window_ms = 400")};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(r[i].start());
            r[i].addEntry(camera(i, static_cast<uint16_t>(8000 + i)));
            conf << target(r[i].port());
        }
        QVERIFY(startWith(conf));

        for (int round = 0; round < 2; ++round) {
            const auto calls = probeOnce();
            QVERIFY(!calls.empty());
            QCOMPARE(calls.back().last, 1);
            std::set<std::string> endpoints;
            for (size_t c = 0; c < calls.size(); ++c) {
                QCOMPARE(calls[c].last, c + 1 == calls.size() ? 1 : 0);
                for (const auto &res : calls[c].results) {
                    endpoints.insert(res.endpoint);
                    QCOMPARE(QByteArray(res.ipAddr), QByteArray("127.0.0.1"));
                    const int i = QByteArray(res.name).right(1).toInt();
                    QCOMPARE(QByteArray(res.serviceAddr),
                             QByteArray(camera(i, static_cast<uint16_t>(8000 + i)).serviceAddr.c_str()));
                }
            }
            QCOMPARE(endpoints.size(), size_t(3));
            for (int i = 0; i < 3; ++i)
                QVERIFY(endpoints.count(camera(i).endpoint));
        }
    }

    void noCamera()
    {
        CDiscoveryResponder silent;
        QVERIFY(silent.start());  // listens, answers nothing: no entries
        QVERIFY(startWith({QStringLiteral("probe_window_ms = 200"), target(silent.port()), target(silent.port() + 1)}));
        const auto calls = probeOnce();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].n, 0);
        QCOMPARE(calls[0].last, 1);
        QVERIFY(calls[0].crashStack);
        QTRY_COMPARE(silent.probesSeen(), 1);
    }

    void moreThan300InOneCycle()
    {
        CDiscoveryResponder crowd;
        QVERIFY(crowd.start());
        for (int i = 0; i < 350; ++i)
            crowd.addEntry(camera(i));
        QVERIFY(startWith({QStringLiteral("probe_window_ms = 1500"), QStringLiteral("probe_batch = 32"), target(crowd.port())}));
        const auto calls = probeOnce(8000);
        std::set<std::string> endpoints;
        int lastFlags = 0;
        for (const auto &c : calls) {
            QVERIFY(c.n >= 1);
            QVERIFY(c.n <= 32);
            QCOMPARE(size_t(c.n), c.results.size());
            lastFlags += c.last;
            for (const auto &res : c.results)
                endpoints.insert(res.endpoint);
        }
        QCOMPARE(lastFlags, 1);
        QCOMPARE(calls.back().last, 1);
        QCOMPARE(endpoints.size(), size_t(350));
    }

    void hostileAnswersDropped()
    {
        CDiscoveryResponder r;
        QVERIFY(r.start());
        r.addEntry(camera(1));

        const std::string head =
            "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\""
            " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
            " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\">"
            "<e:Header><a:RelatesTo>{RELATES}</a:RelatesTo></e:Header><e:Body><d:ProbeMatches>";
        auto match = [](const std::string &ep, const std::string &xaddr) {
            return "<d:ProbeMatch><a:EndpointReference><a:Address>" + ep +
                   "</a:Address></a:EndpointReference><d:XAddrs>" + xaddr + "</d:XAddrs></d:ProbeMatch>";
        };
        const std::string tail = "</d:ProbeMatches></e:Body></e:Envelope>";
        std::vector<std::string> bad;
        // Entity expansion.
        bad.push_back("<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" +
                      head.substr(21) + match("urn:uuid:&b;", "http://127.0.0.9/") + tail);
        // Deep nesting.
        std::string deep;
        for (int i = 0; i < 2000; ++i)
            deep += "<x>";
        bad.push_back(head + match("urn:uuid:deep", "http://127.0.0.9/") + deep + tail);
        // Truncated.
        const std::string whole = head + match("urn:uuid:truncated", "http://127.0.0.9/") + tail;
        bad.push_back(whole.substr(0, whole.size() / 2));
        // Oversized.
        bad.push_back(head + match("urn:uuid:big", "http://127.0.0.9/") + "<!--" + std::string(40000, 'x') + "-->" +
                      tail);
        // Another probe's answer, garbage, no usable address, an address that does not fit.
        std::string other = head + match("urn:uuid:other", "http://127.0.0.9/") + tail;
        other.replace(other.find("{RELATES}"), 9, "urn:uuid:someone-else");
        bad.push_back(other);
        bad.push_back(std::string("\x00\xff\xfe<<<>>>&&&", 12));
        bad.push_back(head + match("urn:uuid:noaddr", "ftp://127.0.0.9/ x") + tail);
        bad.push_back(head + match("urn:uuid:long", "http://127.0.0.9/" + std::string(200, 'p')) + tail);
        // Twenty matches in one datagram: only the first 16 are taken.
        std::string many = head;
        for (int i = 0; i < 20; ++i)
            many += match("urn:uuid:many-" + std::to_string(i), "http://127.0.0.8/");
        bad.push_back(many + tail);
        r.setExtraReplies(bad);

        QVERIFY(startWith({QStringLiteral("probe_window_ms = 400"), target(r.port())}));
        const auto calls = probeOnce();
        std::set<std::string> endpoints;
        for (const auto &c : calls)
            for (const auto &res : c.results)
                endpoints.insert(res.endpoint);
        QVERIFY(endpoints.count(camera(1).endpoint));
        for (int i = 0; i < 16; ++i)
            QVERIFY(endpoints.count("urn:uuid:many-" + std::to_string(i)));
        // Each hostile answer taken would add its endpoint; the declaration,
        // the nesting, the cut and the oversized document would be dropped as
        // malformed all the same, so the log shows that their own checks
        // refused them.
        QCOMPARE(endpoints.size(), size_t(17));
        const QString log = QString::fromUtf8(varno::test::logText());
        QVERIFY(log.contains(QStringLiteral("document with a declaration dropped")));
        QVERIFY(log.contains(QStringLiteral("nested deeper than")));
        QVERIFY(log.contains(QStringLiteral("malformed XML dropped")));
        QVERIFY(log.contains(QStringLiteral("ProbeMatches for another probe(urn:uuid:someone-else) dropped")));
        QVERIFY(log.contains(QStringLiteral("ProbeMatch(urn:uuid:noaddr) without usable service address")));
        QVERIFY(log.contains(QStringLiteral("ProbeMatch(urn:uuid:long) without usable service address")));
        QVERIFY(log.contains(QStringLiteral("More than 16 matches in one datagram")));
        QVERIFY(log.contains(QStringLiteral("Discovery datagram of")) || log.contains(QStringLiteral("bytes dropped")));
    }

    void duplicatesMergedAndVanishing()
    {
        CDiscoveryResponder r;
        QVERIFY(r.start());
        r.addEntry(camera(1));
        const int gone = r.addEntry(camera(2));
        r.setRepeat(true);
        // The same responder listed twice answers every probe twice more.
        QVERIFY(startWith({QStringLiteral("probe_window_ms = 300"), target(r.port()), target(r.port())}));
        auto calls = probeOnce();
        size_t total = 0;
        for (const auto &c : calls)
            total += c.results.size();
        QCOMPARE(total, size_t(2));

        r.setVisible(gone, false);
        calls = probeOnce();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].n, 1);
        QCOMPARE(QByteArray(calls[0].results[0].endpoint), QByteArray(camera(1).endpoint.c_str()));
    }

    void probeBeforeStartupAndCleanupMidCycle()
    {
        QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), int(ONVIF_DISCOVERY_ERR_NOT_INIT));
        // A window of ten minutes: a cleanup that waited for it would stall the
        // test until it is killed.
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 600000"),
                                             QStringLiteral("probe_target = 127.0.0.1:9")}));
        // A local IP that is not ours still starts (any address is used).
        QCOMPARE(ONVIF_DISCOVERY_SDK_Startup("192.0.2.77"), 0);
        QCOMPARE(ONVIF_DISCOVERY_SDK_Startup("127.0.0.1"), 0);
        QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), 0);
        QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), 0);
        QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);
        // The thread is joined: nothing more can be reported.
        QCOMPARE(m_collector.take().size(), size_t(0));
        QCOMPARE(ONVIF_DISCOVERY_SDK_Probe(), int(ONVIF_DISCOVERY_ERR_NOT_INIT));
    }

    void damagedConfigFileIsBounded()
    {
        const QString path = varno::test::tempRoot() + QStringLiteral("/onvif-bad.conf");
        QByteArray lines;
        for (int i = 0; i < 3000; ++i)
            lines += i % 3 == 0 ? "no equals sign\n" : i % 3 == 1 ? "unknown_key = 1\n" : "probe_window_ms = -5\n";
        QVERIFY(varno::test::writeFile(path, lines + "probe_batch = 7\n"));
        const QByteArray before = varno::test::logText();
        QCOMPARE(onvif::loadConfig(path.toStdString()).probeBatch, 7);
        const QByteArray added = varno::test::logText().mid(before.size());
        QCOMPARE(added.count("onvif.conf line"), 1); // the first in its own words
        QCOMPARE(added.count("onvif.conf unknown key"), 0);
        QVERIFY(added.contains("onvif.conf: 3000 lines ignored, the first one logged!!!"));
    }

private:
    std::vector<Call> probeOnce(int timeoutMs = 5000)
    {
        m_collector.take();
        if (ONVIF_DISCOVERY_SDK_Probe() != 0)
            return {};
        // The calls so far, whether or not the last one came in time.
        (void)QTest::qWaitFor([this] { return m_collector.lastCount() != 0; }, timeoutMs);
        return m_collector.take();
    }

    // Writes onvif.conf and starts the library on it.
    bool startWith(const QStringList &conf)
    {
        return varno::test::writeOnvifConf(conf) && ONVIF_DISCOVERY_SDK_Startup("127.0.0.1") == 0;
    }

    Collector m_collector;
};

QTEST_GUILESS_MAIN(TestOnvifDiscovery)
#include "tst_onvifdiscovery.moc"
