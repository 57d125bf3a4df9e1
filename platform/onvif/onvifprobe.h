#pragma once

#include "common/onvifrecords.h"

#include <cstddef>
#include <string>
#include <vector>

// WS-Discovery messages: the Probe the discovery library sends and the
// parser of the ProbeMatches that cameras answer with.
namespace onvif {

// Largest datagram taken as a ProbeMatches; larger ones are dropped.
inline constexpr size_t kMaxProbeMatchBytes = 32768;
// Most ProbeMatch elements taken from one datagram.
inline constexpr int kMaxMatchesPerMessage = 16;

// A new "urn:uuid:..." message ID.
std::string newMessageId();

// The Probe for dn:NetworkVideoTransmitter with the given message ID.
std::string buildProbe(const std::string &messageId);

// Parses one datagram. Only a ProbeMatches whose RelatesTo equals
// expectedRelatesTo is taken (any when it is empty). The IP address of a
// result is the host of its service address when that is a dotted IPv4
// address, else senderIp. Appends the results and returns how many; a
// dropped datagram (oversized, hostile, malformed, not a ProbeMatches or
// for another probe) returns 0 with a log line.
int parseProbeMatches(const char *data, size_t size, const std::string &expectedRelatesTo,
                      const std::string &senderIp, std::vector<OnvifDiscoveryInfo_s> *out);

// Decodes %XX sequences (scopes carry percent-encoded names).
std::string percentDecode(const std::string &text);

// Host of an http(s) URL ("http://10.0.0.5:80/onvif" -> "10.0.0.5").
std::string urlHost(const std::string &url);

} // namespace onvif
