// varno-demo-seed: prepares the demo of scripts/run.
//
//   varno-demo-seed <work folder>
//
// Chooses free loopback ports, writes <work folder>/camsim.json (the
// simulator's cameras) and <work folder>/mosquitto.conf (the private broker),
// fills the client's installation directory (p2p.conf, onvif.conf, the
// camera list) and writes the chosen ports as shell assignments to
// <work folder>/ports.sh.

#include "common/installdir.h"
#include "tools/demoseed/demoseed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: varno-demo-seed <work folder>\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(work + QStringLiteral("/storage"));
    QList<uint16_t> ports;
    for (int i = 0; i < 4; ++i) {
        const uint16_t p = varno::demo::freeLoopbackPort(ports);
        if (p == 0) {
            std::fprintf(stderr, "varno-demo-seed: no free loopback port\n");
            return 1;
        }
        ports.append(p);
    }
    const varno::demo::DemoPlan plan = varno::demo::defaultPlan(ports[0], ports[1], ports[2], ports[3]);
    QFile sim(work + QStringLiteral("/camsim.json"));
    QFile broker(work + QStringLiteral("/mosquitto.conf"));
    if (!sim.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !broker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "varno-demo-seed: cannot write into %s\n", argv[1]);
        return 1;
    }
    sim.write(QJsonDocument(varno::demo::simulatorConfig(plan, work + QStringLiteral("/storage"))).toJson());
    broker.write(varno::demo::brokerConfig(plan));
    sim.close();
    broker.close();
    QString error;
    const QString installDir = QString::fromStdString(varno::installDir());
    if (!varno::demo::seedClientData(plan, installDir, &error)) {
        std::fprintf(stderr, "varno-demo-seed: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    QFile portsFile(work + QStringLiteral("/ports.sh"));
    if (!portsFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "varno-demo-seed: cannot write into %s\n", argv[1]);
        return 1;
    }
    portsFile.write(QStringLiteral("broker_port=%1\ndiscovery_port=%2\n").arg(plan.brokerPort).arg(plan.discoveryPort).toUtf8());
    return 0;
}
