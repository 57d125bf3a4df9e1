#include "tools/camsim/onvifcamera.h"

#include "platform/onvif/onvifsoap.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <thread>

namespace {

// One raw HTTP POST; returns the status and fills the body.
int post(uint16_t port, const std::string &path, const std::string &body, std::string *reply)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string req = "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/soap+xml\r\n"
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string data;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof(buf), 0)) > 0)
        data.append(buf, size_t(n));
    ::close(fd);
    const auto end = data.find("\r\n\r\n");
    if (reply)
        *reply = end == std::string::npos ? std::string() : data.substr(end + 4);
    return data.size() > 12 ? std::atoi(data.c_str() + 9) : -1;
}

std::string envelope(const std::string &header, const std::string &body)
{
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><s:Header>" + header + "</s:Header><s:Body>" + body +
           "</s:Body></s:Envelope>";
}

} // namespace

class TestOnvifCamera : public QObject
{
    Q_OBJECT

private slots:
    void usernameTokenChecks();
    void faultsAndUnknownActions();
    void subscriptionExpires();
};

void TestOnvifCamera::usernameTokenChecks()
{
    COnvifCamera::Settings s;
    s.uuid = "dddddddd-0000-4000-8000-000000000001";
    s.password = "pw";
    COnvifCamera cam(s);
    QVERIFY(cam.start());
    const std::string info = "<tds:GetDeviceInformation/>";
    const long long now = std::time(nullptr);
    // The device service's status for GetDeviceInformation with this token.
    const auto asked = [&](const std::string &user, const char *password, long long when, const char *nonce) {
        return post(cam.port(), "/onvif/device_service",
                    envelope(onvif::usernameToken(user, password, when, nonce), info), nullptr);
    };

    // A good token is accepted once; the same nonce again is a replay.
    const std::string good = onvif::usernameToken("admin", "pw", now, "0123456789abcdef");
    std::string reply;
    QCOMPARE(post(cam.port(), "/onvif/device_service", envelope(good, info), &reply), 200);
    QVERIFY(reply.find("CamSim") != std::string::npos);
    QCOMPARE(post(cam.port(), "/onvif/device_service", envelope(good, info), &reply), 400);
    QVERIFY(reply.find("NotAuthorized") != std::string::npos);

    // Stamped ten minutes off, wrong user, wrong password, no token.
    QCOMPARE(asked("admin", "pw", now - 600, "nonce-stale-0001"), 400);
    QCOMPARE(asked("root", "pw", now, "nonce-user-00001"), 400);
    QCOMPARE(asked("admin", "px", now, "nonce-pass-00001"), 400);
    QCOMPARE(post(cam.port(), "/onvif/device_service", envelope("", info), nullptr), 400);
    QCOMPARE(cam.authFailures(), 5);
    // The time needs no credentials.
    QCOMPARE(post(cam.port(), "/onvif/device_service", envelope("", "<tds:GetSystemDateAndTime/>"), &reply), 200);
    QVERIFY(reply.find("UTCDateTime") != std::string::npos);
}

void TestOnvifCamera::faultsAndUnknownActions()
{
    COnvifCamera::Settings s;
    s.uuid = "dddddddd-0000-4000-8000-000000000002";
    COnvifCamera cam(s);
    QVERIFY(cam.start());
    const long long now = std::time(nullptr);
    std::string reply;
    QCOMPARE(post(cam.port(), "/onvif/device_service",
                  envelope(onvif::usernameToken("admin", "admin", now, "nonce-unknown-01"), "<tds:Reboot/>"), &reply),
             400);
    QVERIFY(reply.find("ActionNotSupported") != std::string::npos);
    QCOMPARE(post(cam.port(), "/onvif/device_service", "<not xml", &reply), 400);

    cam.setGarbageReplies(true);
    QCOMPARE(post(cam.port(), "/onvif/device_service", envelope("", "<tds:GetSystemDateAndTime/>"), &reply), 200);
    QVERIFY(reply.find("UTCDateTime") == std::string::npos);
    cam.setGarbageReplies(false);

    // A delayed reply: the camera has the request while the caller still
    // waits for the answer, which comes in the end.
    cam.setReplyDelayMs(3000);
    const int before = cam.requestCount();
    std::atomic<int> status{-1};
    std::thread caller([&] {
        status = post(cam.port(), "/onvif/device_service", envelope("", "<tds:GetSystemDateAndTime/>"), nullptr);
    });
    QTRY_VERIFY_WITH_TIMEOUT(cam.requestCount() > before, 10000);
    QCOMPARE(status.load(), -1);
    caller.join();
    QCOMPARE(status.load(), 200);
}

void TestOnvifCamera::subscriptionExpires()
{
    COnvifCamera::Settings s;
    s.uuid = "dddddddd-0000-4000-8000-000000000003";
    COnvifCamera cam(s);
    QVERIFY(cam.start());
    const long long now = std::time(nullptr);
    std::string reply;
    QCOMPARE(post(cam.port(), "/onvif/event_service",
                  envelope(onvif::usernameToken("admin", "admin", now, "nonce-create-001"),
                           "<tev:CreatePullPointSubscription xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\">"
                           "<tev:InitialTerminationTime>PT3S</tev:InitialTerminationTime>"
                           "</tev:CreatePullPointSubscription>"),
                  &reply),
             200);
    QCOMPARE(cam.activeSubscriptions(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(cam.activeSubscriptions(), 0, 6000);
    // A pull on the expired subscription is a fault.
    QCOMPARE(post(cam.port(), "/onvif/subscription/1",
                  envelope(onvif::usernameToken("admin", "admin", std::time(nullptr), "nonce-pull-00001"),
                           "<tev:PullMessages xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\">"
                           "<tev:Timeout>PT1S</tev:Timeout></tev:PullMessages>"),
                  &reply),
             400);
    QVERIFY(reply.find("ResourceUnknown") != std::string::npos);
}

QTEST_GUILESS_MAIN(TestOnvifCamera)
#include "tst_onvifcamera.moc"
