#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Settings of the ONVIF libraries, read from "onvif.conf" in the
// installation directory. Lines are "key = value"; '#' starts a comment.
// A missing file or key keeps the default; a bad value is logged and keeps
// the default. docs/onvif.md lists every key.
namespace onvif {

struct ProbeTarget
{
    std::string ip;            // dotted IPv4 address
    uint16_t port = 3702;
};

struct Config
{
    // Discovery: where probes go and how long answers are collected.
    std::vector<ProbeTarget> probeTargets;     // default: 239.255.255.250:3702
    int probeWindowMs = 2000;
    int probeBatch = 32;                       // results per callback at most

    // SOAP requests of the device manager and the event library.
    std::string user = "admin";
    int connectTimeoutMs = 3000;
    int requestTimeoutMs = 10000;
    long maxResponseBytes = 1 << 20;

    // Events: pull-point subscription lifetime and pull wait.
    int eventTerminationS = 60;
    int eventPullTimeoutS = 5;
    int eventRetryMs = 2000;                   // wait after a failed pull or re-subscribe
};

// The file's path: <installation directory>/onvif.conf.
std::string configPath();

// Reads the file at path (configPath() when empty).
Config loadConfig(const std::string &path = std::string());

// Parses "a.b.c.d:port" (port optional, 3702); false when malformed.
bool parseTarget(const std::string &text, ProbeTarget *out);

} // namespace onvif
