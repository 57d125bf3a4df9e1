#include "relaykit.h"

#include "platform/p2p/p2p_wire.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <mosquitto.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace varno::test {

namespace {

int countFrame(P2P_HANDLE, const char *, const int32_t *info, int32_t type, const char *, int32_t,
               void *user)
{
    auto *counter = static_cast<FrameCounter *>(user);
    if (type == 1) {
        counter->video.fetch_add(1);
        if (info[0] == 5)
            counter->keyFrames.fetch_add(1);
    }
    return 0;
}

} // namespace

RabbitCluster::~RabbitCluster()
{
    stop();
}

bool RabbitCluster::installed()
{
    return QFile::exists(QStringLiteral("/usr/lib/rabbitmq/bin/rabbitmq-server"));
}

bool RabbitCluster::run(const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(sourceDir() + QStringLiteral("/scripts/rabbitmq-cluster"), args);
    const bool done = p.waitForFinished(timeoutMs);
    if (!done) {
        p.kill();
        p.waitForFinished(5000);
    }
    const QByteArray out = p.readAll();
    if (!done || p.exitCode() != 0) {
        m_error = QString::fromUtf8(out.right(4000));
        return false;
    }
    m_error.clear();
    if (args.value(0) == QLatin1String("start")) {
        for (const QByteArray &line : out.split('\n')) {
            const QList<QByteArray> f = line.trimmed().split(' ');
            if (f.size() == 4 && f[0] == "node" && f[2] == "mqtt")
                m_ports.append(quint16(f[3].toUInt()));
        }
    }
    return true;
}

bool RabbitCluster::start(int nodes)
{
    stop();
    m_dir = tempRoot() + QStringLiteral("/rabbitmq");
    QDir(m_dir).removeRecursively();
    m_ports.clear();
    m_started = true;   // a half-started cluster is stopped as well
    // Starting a node takes seconds on an idle machine, minutes on a busy one.
    return run({QStringLiteral("start"), m_dir, QString::number(nodes)}, 600000)
           && m_ports.size() == nodes;
}

void RabbitCluster::stop()
{
    if (m_started)
        run({QStringLiteral("stop"), m_dir}, 300000);
    m_started = false;
}

bool RabbitCluster::stopNode(int node)
{
    return run({QStringLiteral("stop-node"), m_dir, QString::number(node)}, 300000);
}

bool RabbitCluster::startNode(int node)
{
    return run({QStringLiteral("start-node"), m_dir, QString::number(node)}, 300000);
}

bool RabbitCluster::addUser(const QString &name, const QString &password)
{
    return run({QStringLiteral("user"), m_dir, name, password}, 120000);
}

namespace {

QByteArray relayAcl(const QStringList &args, QString *error)
{
    QProcess acl;
    acl.start(sourceDir() + QStringLiteral("/scripts/relay-acl"), args);
    if (!acl.waitForFinished(30000) || acl.exitStatus() != QProcess::NormalExit || acl.exitCode() != 0) {
        *error = QStringLiteral("relay-acl failed: ") + QString::fromUtf8(acl.readAllStandardError());
        return {};
    }
    return acl.readAllStandardOutput();
}

// Each rule of the rabbitmqctl form as "command user resource patterns...".
QStringList commandRules(const QByteArray &text)
{
    static const QRegularExpression perm(
        QStringLiteral(R"(^rabbitmqctl set_permissions -p (\S+) (\S+) '([^']*)' '([^']*)' '([^']*)'$)"));
    static const QRegularExpression topic(
        QStringLiteral(R"(^rabbitmqctl set_topic_permissions -p (\S+) (\S+) (\S+) '([^']*)' '([^']*)'$)"));
    QStringList out;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw.trimmed());
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (const auto m = perm.match(line); m.hasMatch())
            out << QStringList{QStringLiteral("perm"), m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5)}.join(QLatin1Char(' '));
        else if (const auto t = topic.match(line); t.hasMatch())
            out << QStringList{QStringLiteral("topic"), t.captured(1), t.captured(2), t.captured(3), t.captured(4), t.captured(5)}.join(QLatin1Char(' '));
        else
            out << QStringLiteral("unparsed ") + line;
    }
    return out;
}

QStringList definitionRules(const QJsonObject &defs)
{
    QStringList out;
    for (const QJsonValue &v : defs.value(QLatin1String("permissions")).toArray()) {
        const QJsonObject o = v.toObject();
        out << QStringList{QStringLiteral("perm"), o.value(QLatin1String("vhost")).toString(), o.value(QLatin1String("user")).toString(),
                           o.value(QLatin1String("configure")).toString(), o.value(QLatin1String("write")).toString(),
                           o.value(QLatin1String("read")).toString()}.join(QLatin1Char(' '));
    }
    for (const QJsonValue &v : defs.value(QLatin1String("topic_permissions")).toArray()) {
        const QJsonObject o = v.toObject();
        out << QStringList{QStringLiteral("topic"), o.value(QLatin1String("vhost")).toString(), o.value(QLatin1String("user")).toString(),
                           o.value(QLatin1String("exchange")).toString(), o.value(QLatin1String("write")).toString(),
                           o.value(QLatin1String("read")).toString()}.join(QLatin1Char(' '));
    }
    return out;
}

// RabbitMQ's stored form of a password (rabbit_password_hashing_sha256):
// base64 of a 4-byte salt and SHA-256(salt + password).
QString passwordHash(const QString &password)
{
    QByteArray salt(4, '\0');
    for (char &c : salt)
        c = char(QRandomGenerator::global()->generate() & 0xff);
    return QString::fromLatin1((salt + QCryptographicHash::hash(salt + password.toUtf8(), QCryptographicHash::Sha256)).toBase64());
}

} // namespace

bool RabbitCluster::addAccounts(const QList<QPair<QString, QString>> &users, const QStringList &aclArgs)
{
    const QStringList args = QStringList{QStringLiteral("--rabbitmq"), QStringLiteral("/")} + aclArgs;
    const QByteArray commands = relayAcl(args, &m_error);
    const QByteArray json = commands.isEmpty()
                                ? QByteArray()
                                : relayAcl(QStringList{QStringLiteral("--rabbitmq"), QStringLiteral("/"), QStringLiteral("--json")} + aclArgs, &m_error);
    QJsonParseError parseError;
    QJsonObject defs = QJsonDocument::fromJson(json, &parseError).object();
    if (commands.isEmpty() || parseError.error != QJsonParseError::NoError) {
        m_error += QStringLiteral(" relay-acl --json: ") + parseError.errorString();
        return false;
    }
    // The guide's rabbitmqctl lines and the definitions are one set of rules.
    QStringList fromCommands = commandRules(commands);
    QStringList fromDefinitions = definitionRules(defs);
    fromCommands.sort();
    fromDefinitions.sort();
    if (fromCommands.isEmpty() || fromCommands != fromDefinitions) {
        m_error = QStringLiteral("relay-acl: the rabbitmqctl lines and --json differ:\n") + fromCommands.join(QLatin1Char('\n'))
                  + QStringLiteral("\n--\n") + fromDefinitions.join(QLatin1Char('\n'));
        return false;
    }
    QJsonArray accounts;
    for (const auto &[name, password] : users)
        accounts.append(QJsonObject{{QStringLiteral("name"), name},
                                    {QStringLiteral("password_hash"), passwordHash(password)},
                                    {QStringLiteral("hashing_algorithm"), QStringLiteral("rabbit_password_hashing_sha256")},
                                    {QStringLiteral("tags"), QString()}});
    defs.insert(QStringLiteral("users"), accounts);
    QFile file(m_dir + QStringLiteral("/definitions.json"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(QJsonDocument(defs).toJson()) <= 0) {
        m_error = QStringLiteral("cannot write ") + file.fileName();
        return false;
    }
    file.close();
    return run({QStringLiteral("definitions"), m_dir, file.fileName()}, 300000);
}

// From the node's open sockets (/proc/PID/fd) and the kernel's table of
// listening TCP sockets.
QList<QPair<QString, quint16>> RabbitCluster::listeners(int node) const
{
    QFile pidFile(m_dir + QStringLiteral("/node%1/pid").arg(node));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(QString::fromLatin1(pidFile.readAll().trimmed()));
    QSet<QByteArray> inodes;
    for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char link[64] = {};
        const ssize_t n = ::readlink(QFile::encodeName(fdDir + QLatin1Char('/') + fd).constData(), link, sizeof(link) - 1);
        const QByteArray target(link, n > 0 ? int(n) : 0);
        if (target.startsWith("socket:[") && target.endsWith(']'))
            inodes.insert(target.mid(8, target.size() - 9));
    }
    QList<QPair<QString, quint16>> out;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f{QString::fromLatin1(table)};
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> c = line.simplified().split(' ');
            // sl local remote st ... inode (the tenth column); 0A: listening
            if (c.size() < 10 || c[3] != "0A" || !inodes.contains(c[9]))
                continue;
            const QList<QByteArray> local = c[1].split(':');
            const QByteArray hex = local.value(0);
            QString address;
            if (hex.size() == 8) {   // IPv4, in the kernel's byte order
                const quint32 a = hex.toUInt(nullptr, 16);
                address = QStringLiteral("%1.%2.%3.%4").arg(a & 0xff).arg((a >> 8) & 0xff).arg((a >> 16) & 0xff).arg(a >> 24);
            } else {
                address = QString::fromLatin1(hex);   // IPv6: shown as is
            }
            out.append({address, quint16(local.value(1).toUInt(nullptr, 16))});
        }
    }
    return out;
}

quint16 RabbitCluster::mqttPort(int node) const
{
    return node >= 1 && node <= m_ports.size() ? m_ports.at(node - 1) : 0;
}

bool FrameCounter::grows(int more, int timeoutMs)
{
    const int before = video.load();
    return QTest::qWaitFor([&] { return video.load() >= before + more; }, timeoutMs);
}

QString relayCamera(const char *deviceId, const char *cameraId, const char *password, const QString &extraFields)
{
    QString camera = simP2pCamera(QLatin1String(deviceId), QLatin1String(cameraId), QLatin1String(deviceId),
                                  QLatin1String(password), QSize(160, 90), QSize(160, 90), 20, 100, 80, 2);
    return camera.replace(0, 1, QStringLiteral("{ ") + extraFields + QStringLiteral(", "));
}

QByteArray forgedPresence(const char *cameraId, const char *deviceId)
{
    std::vector<uint8_t> body(p2p::body::kPresence, 0);
    p2p::putField(body.data(), p2p::kCameraIdSize, cameraId);
    p2p::putField(body.data() + p2p::kCameraIdSize, p2p::kDeviceIdSize, deviceId ? deviceId : "");
    const auto e = p2p::encode(deviceId ? p2p::Kind::Presence : p2p::Kind::SessionClose, cameraId, 0, 0, 0, 0,
                               body.data(), deviceId ? body.size() : 0);
    return QByteArray(reinterpret_cast<const char *>(e.data()), int(e.size()));
}

P2pLibrary::~P2pLibrary()
{
    if (m_handle) {
        P2P_Client_SDK_UnRegister(m_handle);
        P2P_Client_SDK_UnInit(m_handle);
    }
}

int P2pLibrary::start()
{
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = P2P_INIT_VERSION;
    std::strcpy(info.account, "varno-client");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    const int ret = P2P_Client_SDK_Init(&info, "127.0.0.1", "log", &m_handle);
    if (ret != 0)
        return ret;
    return P2P_Client_SDK_Register(m_handle, 0, 0);
}

QByteArray P2pLibrary::lookup(const char *deviceId, int *ret) const
{
    char id[64];
    std::memset(id, 'x', sizeof(id));   // the answer must be terminated
    *ret = P2P_Client_SDK_Get_Device_License(m_handle, deviceId, id);
    return QByteArray(id, int(::strnlen(id, sizeof(id))));
}

int32_t P2pLibrary::sessionStatus(const char *camera) const
{
    int32_t status = -1;
    P2P_Client_SDK_Get_Session_Status(m_handle, camera, &status);
    return status;
}

bool P2pLibrary::waitSessionStatus(const char *camera, int32_t status, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return sessionStatus(camera) == status; }, timeoutMs);
}

int P2pLibrary::openFirstStream(const char *camera, const char *password, FrameCounter &counter)
{
    if (sessionStatus(camera) != P2P_SESSION_CONNECTED) {
        const int ret = P2P_Client_SDK_Connect_Peer(m_handle, camera);
        if (ret != 0)
            return ret;
    }
    int32_t count = 0;
    const int ret = P2P_Client_SDK_Get_StreamDescr(m_handle, camera, &count, m_descr);
    if (ret != 0)
        return ret;
    const int32_t params[3] = {1, 5, 0};
    const int opened = P2P_Client_SDK_Open_Stream(m_handle, camera, m_descr, countFrame, &counter, params,
                                                  password, 0);
    return opened < 0 ? opened : 0;
}

template <class Change>
void RawMqtt::update(void *obj, Change change)
{
    auto *self = static_cast<RawMqtt *>(obj);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    change(*self);
    self->m_cv.notify_all();
}

RawMqtt::RawMqtt(const QString &clientId)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto *, void *obj, int rc) {
        update(obj, [rc](RawMqtt &self) { self.m_connack = rc, self.m_connected = rc == 0; });
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto *, void *obj, int) {
        update(obj, [](RawMqtt &self) { self.m_connected = false; });
    });
    mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *obj, int mid, int count, const int *granted) {
        update(obj, [=](RawMqtt &self) { self.m_subacks[mid] = count > 0 ? granted[0] : -1; });
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto *, void *obj, int mid) {
        update(obj, [mid](RawMqtt &self) { self.m_pubacks[mid] = true; });
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *obj, const mosquitto_message *msg) {
        std::function<void(const std::string &, const QByteArray &)> handler;
        update(obj, [&](RawMqtt &self) { ++self.m_received[msg->topic], handler = self.m_handler; });
        if (handler)
            handler(msg->topic, QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen));
    });
}

RawMqtt::~RawMqtt()
{
    if (m_loop) {
        // Not forced: a cancelled network thread could stop half-way through
        // a callback that holds the mutex or is inserting into a map.
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
    }
    mosquitto_destroy(m_mosq);
}

void RawMqtt::setCredentials(const QString &user, const QString &password)
{
    mosquitto_username_pw_set(m_mosq, user.toUtf8().constData(), password.toUtf8().constData());
}

void RawMqtt::setTls(const QString &caFile)
{
    mosquitto_tls_set(m_mosq, caFile.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
}

int RawMqtt::connect(quint16 port, int timeoutMs)
{
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS)
        return -1;
    mosquitto_loop_start(m_mosq);
    m_loop = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_connack >= 0; });
    return m_connack;
}

int RawMqtt::subscribe(const QString &topic, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int mid = 0;
    if (mosquitto_subscribe(m_mosq, &mid, topic.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS)
        return -1;
    m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&] { return m_subacks.count(mid) || !m_connected; });
    auto it = m_subacks.find(mid);
    return it == m_subacks.end() ? -1 : it->second;
}

bool RawMqtt::publish(const QString &topic, const QByteArray &payload, bool retain, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), int(payload.size()), payload.constData(),
                          1, retain)
        != MOSQ_ERR_SUCCESS)
        return false;
    // A broker that refuses the publication may close the connection.
    m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&] { return m_pubacks.count(mid) > 0 || !m_connected; });
    return m_pubacks.count(mid) > 0;
}

void RawMqtt::setHandler(std::function<void(const std::string &, const QByteArray &)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void RawMqtt::send(const std::string &topic, const std::vector<uint8_t> &payload)
{
    mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, false);
}

int RawMqtt::received(const QString &prefix) const
{
    const std::string p = prefix.toStdString();
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto &[topic, count] : m_received)
        if (topic.compare(0, p.size(), p) == 0)
            n += count;
    return n;
}

bool RawMqtt::connected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

} // namespace varno::test
