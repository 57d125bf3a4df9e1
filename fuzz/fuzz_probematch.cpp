// ProbeMatches parser of the discovery library: any datagram must be
// dropped or parsed without a crash, overrun or unbounded work.
#include "platform/onvif/onvifprobe.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<OnvifDiscoveryInfo_s> out;
    const char *text = reinterpret_cast<const char *>(data);
    onvif::parseProbeMatches(text, size, std::string(), "192.0.2.1", &out);
    onvif::parseProbeMatches(text, size, "urn:uuid:fuzz", "192.0.2.1", &out);
    for (const auto &r : out) {
        // Every text field is terminated inside its field.
        if (!memchr(r.endpoint, 0, sizeof(r.endpoint)) || !memchr(r.name, 0, sizeof(r.name)) ||
            !memchr(r.ipAddr, 0, sizeof(r.ipAddr)) || !memchr(r.serviceAddr, 0, sizeof(r.serviceAddr)))
            __builtin_trap();
    }
    onvif::percentDecode(std::string(text, size));
    onvif::urlHost(std::string(text, size));
    return 0;
}
