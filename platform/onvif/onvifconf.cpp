#include "platform/onvif/onvifconf.h"

#include "common/configfile.h"
#include "common/installdir.h"
#include "common/logfile.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace onvif {

namespace {

std::string trim(const std::string &s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool parseInt(const std::string &text, long min, long max, long *out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

std::string configPath()
{
    return varno::installDir() + "/onvif.conf";
}

bool parseTarget(const std::string &text, ProbeTarget *out)
{
    std::string ip = text;
    long port = 3702;
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        ip = text.substr(0, colon);
        if (!parseInt(text.substr(colon + 1), 1, 65535, &port))
            return false;
    }
    in_addr addr{};
    if (inet_pton(AF_INET, ip.c_str(), &addr) != 1)
        return false;
    out->ip = ip;
    out->port = static_cast<uint16_t>(port);
    return true;
}

Config loadConfig(const std::string &path)
{
    Config cfg;
    const std::string file = path.empty() ? configPath() : path;
    std::vector<ProbeTarget> targets;
    std::ifstream in;
    if (varno::checkConfigFile(file, "onvif.conf") == varno::ConfigFileState::Usable)
        in.open(file);
    varno::IgnoredLines ignored("onvif.conf");
    if (in) {
        std::string line;
        int lineNo = 0;
        while (std::getline(in, line) && lineNo < 10000) {
            ++lineNo;
            const auto hash = line.find('#');
            if (hash != std::string::npos)
                line.erase(hash);
            line = trim(line);
            if (line.empty())
                continue;
            const auto eq = line.find('=');
            if (eq == std::string::npos) {
                if (ignored.add())
                    WriteLog(3, "%s(%d):onvif.conf line %d ignored!!!", "onvif::loadConfig", __LINE__, lineNo);
                continue;
            }
            const std::string key = trim(line.substr(0, eq));
            const std::string value = trim(line.substr(eq + 1));
            long v = 0;
            bool ok = true;
            if (key == "probe_target") {
                ProbeTarget t;
                ok = parseTarget(value, &t) && targets.size() < 256;
                if (ok)
                    targets.push_back(t);
            } else if (key == "probe_window_ms") {
                ok = parseInt(value, 50, 60000, &v);
                if (ok)
                    cfg.probeWindowMs = static_cast<int>(v);
            } else if (key == "probe_batch") {
                ok = parseInt(value, 1, 300, &v);
                if (ok)
                    cfg.probeBatch = static_cast<int>(v);
            } else if (key == "user") {
                ok = !value.empty() && value.size() < 64;
                if (ok)
                    cfg.user = value;
            } else if (key == "connect_timeout_ms") {
                ok = parseInt(value, 100, 120000, &v);
                if (ok)
                    cfg.connectTimeoutMs = static_cast<int>(v);
            } else if (key == "request_timeout_ms") {
                ok = parseInt(value, 100, 300000, &v);
                if (ok)
                    cfg.requestTimeoutMs = static_cast<int>(v);
            } else if (key == "max_response_bytes") {
                ok = parseInt(value, 4096, 64L << 20, &v);
                if (ok)
                    cfg.maxResponseBytes = v;
            } else if (key == "event_termination_s") {
                ok = parseInt(value, 2, 86400, &v);
                if (ok)
                    cfg.eventTerminationS = static_cast<int>(v);
            } else if (key == "event_pull_timeout_s") {
                ok = parseInt(value, 1, 60, &v);
                if (ok)
                    cfg.eventPullTimeoutS = static_cast<int>(v);
            } else if (key == "event_retry_ms") {
                ok = parseInt(value, 10, 600000, &v);
                if (ok)
                    cfg.eventRetryMs = static_cast<int>(v);
            } else {
                if (ignored.add())
                    WriteLog(3, "%s(%d):onvif.conf unknown key(%s)!!!", "onvif::loadConfig", __LINE__, key.c_str());
                continue;
            }
            if (!ok && ignored.add())
                WriteLog(3, "%s(%d):onvif.conf bad value for %s(%s)!!!", "onvif::loadConfig", __LINE__,
                         key.c_str(), value.c_str());
        }
    }
    ignored.finish("onvif::loadConfig");
    if (targets.empty())
        targets.push_back(ProbeTarget{"239.255.255.250", 3702});
    cfg.probeTargets = std::move(targets);
    return cfg;
}

} // namespace onvif
