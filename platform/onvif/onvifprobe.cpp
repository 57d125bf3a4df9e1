#include "platform/onvif/onvifprobe.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/onvif/onvifxml.h"

#include <QUuid>

#include <arpa/inet.h>

#include <sstream>

namespace onvif {

std::string newMessageId()
{
    return "urn:uuid:" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

std::string buildProbe(const std::string &messageId)
{
    std::string s;
    s.reserve(900);
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
         " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
         " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
         "<s:Header><a:MessageID>";
    s += xmlEscape(messageId);
    s += "</a:MessageID>"
         "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
         "<a:Action s:mustUnderstand=\"1\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
         "</s:Header><s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body>"
         "</s:Envelope>";
    return s;
}

std::string percentDecode(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hex(text[i + 1]);
            const int lo = hex(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                const char c = static_cast<char>(hi * 16 + lo);
                if (c != '\0')
                    out += c;
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string urlHost(const std::string &url)
{
    std::string rest;
    if (url.rfind("http://", 0) == 0)
        rest = url.substr(7);
    else if (url.rfind("https://", 0) == 0)
        rest = url.substr(8);
    else
        return std::string();
    const auto slash = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, slash);
    const auto at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    }
    const auto colon = authority.find(':');
    return authority.substr(0, colon);
}

namespace {

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w && out.size() < 64)
        out.push_back(w);
    return out;
}

bool isDottedIpv4(const std::string &text)
{
    in_addr a{};
    return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

// The camera's name from its scopes: the "name" scope, else "hardware".
std::string nameFromScopes(const std::string &scopes)
{
    static const std::string kName = "onvif://www.onvif.org/name/";
    static const std::string kHardware = "onvif://www.onvif.org/hardware/";
    std::string hardware;
    for (const auto &w : words(scopes)) {
        if (w.rfind(kName, 0) == 0)
            return percentDecode(w.substr(kName.size()));
        if (hardware.empty() && w.rfind(kHardware, 0) == 0)
            hardware = percentDecode(w.substr(kHardware.size()));
    }
    return hardware;
}

} // namespace

int parseProbeMatches(const char *data, size_t size, const std::string &expectedRelatesTo,
                      const std::string &senderIp, std::vector<OnvifDiscoveryInfo_s> *out)
{
    pugi::xml_document doc;
    if (!parseSafely(doc, data, size, kMaxProbeMatchBytes, "ProbeMatches"))
        return 0;
    const pugi::xml_node env = doc.document_element();
    if (localName(env.name()) != "Envelope") {
        WriteLog(3, "%s(%d):Discovery answer without envelope dropped!!!", "onvif::parseProbeMatches", __LINE__);
        return 0;
    }
    const pugi::xml_node matches = path(env, {"Body", "ProbeMatches"});
    if (!matches) {
        WriteLog(4, "%s(%d):Discovery datagram is no ProbeMatches, dropped!!!", "onvif::parseProbeMatches",
                 __LINE__);
        return 0;
    }
    if (!expectedRelatesTo.empty()) {
        const std::string relates = text(path(env, {"Header", "RelatesTo"}));
        if (relates != expectedRelatesTo) {
            WriteLog(3, "%s(%d):ProbeMatches for another probe(%s) dropped!!!", "onvif::parseProbeMatches",
                     __LINE__, relates.substr(0, 64).c_str());
            return 0;
        }
    }
    int taken = 0;
    int seen = 0;
    for (pugi::xml_node m = matches.first_child(); m; m = m.next_sibling()) {
        if (m.type() != pugi::node_element || localName(m.name()) != "ProbeMatch")
            continue;
        if (++seen > kMaxMatchesPerMessage) {
            WriteLog(3, "%s(%d):More than %d matches in one datagram, rest dropped!!!",
                     "onvif::parseProbeMatches", __LINE__, kMaxMatchesPerMessage);
            break;
        }
        const std::string endpoint = text(path(m, {"EndpointReference", "Address"}));
        std::string service;
        for (const auto &x : words(text(child(m, "XAddrs")))) {
            if ((x.rfind("http://", 0) == 0 || x.rfind("https://", 0) == 0) &&
                x.size() < sizeof(OnvifDiscoveryInfo_s::serviceAddr)) {
                service = x;
                break;
            }
        }
        if (service.empty()) {
            WriteLog(3, "%s(%d):ProbeMatch(%s) without usable service address dropped!!!",
                     "onvif::parseProbeMatches", __LINE__, endpoint.substr(0, 64).c_str());
            continue;
        }
        if (endpoint.size() >= sizeof(OnvifDiscoveryInfo_s::endpoint))
            WriteLog(3, "%s(%d):Endpoint address(%s...) cut to 63 bytes!!!", "onvif::parseProbeMatches",
                     __LINE__, endpoint.substr(0, 63).c_str());
        OnvifDiscoveryInfo_s info{};
        varno::setText(info.endpoint, endpoint);
        varno::setText(info.name, nameFromScopes(text(child(m, "Scopes"))));
        const std::string host = urlHost(service);
        varno::setText(info.ipAddr, isDottedIpv4(host) ? host : senderIp);
        varno::setText(info.serviceAddr, service);
        out->push_back(info);
        ++taken;
    }
    return taken;
}

} // namespace onvif
