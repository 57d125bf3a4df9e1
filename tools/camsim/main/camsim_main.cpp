// varno-camsim: simulated cameras for tests and the demo.
//
//   varno-camsim <config.json>
//
// Starts every camera of the configuration, prints "READY" and then reads
// control lines from standard input, answering each with one line ("OK ..."
// or "ERR ..."). "quit" or the end of the input stops every camera.

#include "tools/camsim/onvifsimcamera.h"
#include "tools/camsim/simulator.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: varno-camsim <config.json>\n");
        return 2;
    }
    varno::camsim::registerOnvifCameraKind();
    varno::camsim::SimConfig config;
    QString error;
    if (!varno::camsim::loadSimConfig(QString::fromLocal8Bit(argv[1]), config, &error)) {
        std::fprintf(stderr, "varno-camsim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    varno::camsim::Simulator sim;
    if (!sim.start(config, &error)) {
        std::fprintf(stderr, "varno-camsim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("READY %d\n", int(sim.cameras().size()));
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "quit")
            break;
        if (line.empty())
            continue;
        const QString answer = sim.control(QString::fromStdString(line));
        std::printf("%s\n", answer.toUtf8().constData());
        std::fflush(stdout);
    }
    sim.stop();
    return 0;
}
