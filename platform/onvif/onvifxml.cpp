#include "platform/onvif/onvifxml.h"

#include "common/logfile.h"

#include <cstring>
#include <deque>
#include <utility>

namespace onvif {

int scanDepth(const char *data, size_t size, int limit)
{
    int depth = 0;
    int maxDepth = 0;
    size_t i = 0;
    while (i < size) {
        if (data[i] != '<') {
            ++i;
            continue;
        }
        if (i + 1 >= size)
            break;
        const char next = data[i + 1];
        if (next == '?') {
            const void *end = memmem(data + i, size - i, "?>", 2);
            if (!end)
                break;
            i = static_cast<const char *>(end) - data + 2;
            continue;
        }
        if (next == '!') {
            if (size - i >= 4 && std::memcmp(data + i, "<!--", 4) == 0) {
                const void *end = memmem(data + i + 4, size - i - 4, "-->", 3);
                if (!end)
                    break;
                i = static_cast<const char *>(end) - data + 3;
                continue;
            }
            if (size - i >= 9 && std::memcmp(data + i, "<![CDATA[", 9) == 0) {
                const void *end = memmem(data + i + 9, size - i - 9, "]]>", 3);
                if (!end)
                    break;
                i = static_cast<const char *>(end) - data + 3;
                continue;
            }
            return -1; // <!DOCTYPE, <!ENTITY and the like
        }
        const bool closing = next == '/';
        // Find the end of the tag, skipping quoted attribute values.
        size_t j = i + 1;
        char quote = 0;
        while (j < size) {
            const char c = data[j];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
            ++j;
        }
        if (j >= size)
            break;
        if (closing) {
            --depth;
        } else if (data[j - 1] != '/') {
            ++depth;
            if (depth > maxDepth)
                maxDepth = depth;
            if (maxDepth > limit)
                return maxDepth;
        }
        i = j + 1;
    }
    return maxDepth;
}

bool parseSafely(pugi::xml_document &doc, const char *data, size_t size, size_t maxBytes, const char *what)
{
    doc.reset();
    if (!data || size == 0) {
        WriteLog(3, "%s(%d):%s: empty document dropped!!!", "onvif::parseSafely", __LINE__, what);
        return false;
    }
    if (size > maxBytes) {
        WriteLog(3, "%s(%d):%s: document of %zu bytes dropped (limit %zu)!!!", "onvif::parseSafely", __LINE__,
                 what, size, maxBytes);
        return false;
    }
    const int depth = scanDepth(data, size, kMaxXmlDepth);
    if (depth < 0) {
        WriteLog(3, "%s(%d):%s: document with a declaration dropped!!!", "onvif::parseSafely", __LINE__, what);
        return false;
    }
    if (depth > kMaxXmlDepth) {
        WriteLog(3, "%s(%d):%s: document nested deeper than %d dropped!!!", "onvif::parseSafely", __LINE__, what,
                 kMaxXmlDepth);
        return false;
    }
    // No DOCTYPE parsing: pugixml then expands only the five predefined
    // entities and character references.
    const unsigned options = pugi::parse_default & ~pugi::parse_doctype;
    const pugi::xml_parse_result r = doc.load_buffer(data, size, options, pugi::encoding_utf8);
    if (!r) {
        WriteLog(3, "%s(%d):%s: malformed XML dropped (%s at %td)!!!", "onvif::parseSafely", __LINE__, what,
                 r.description(), r.offset);
        doc.reset();
        return false;
    }
    if (!doc.document_element()) {
        WriteLog(3, "%s(%d):%s: document without element dropped!!!", "onvif::parseSafely", __LINE__, what);
        return false;
    }
    return true;
}

std::string xmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break;
            out += c;
        }
    }
    return out;
}

std::string_view localName(const char *qualified)
{
    std::string_view name(qualified ? qualified : "");
    const auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(pugi::xml_node node, std::string_view local)
{
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && localName(c.name()) == local)
            return c;
    }
    return pugi::xml_node();
}

pugi::xml_node path(pugi::xml_node node, std::initializer_list<std::string_view> locals)
{
    for (const auto &l : locals) {
        node = child(node, l);
        if (!node)
            break;
    }
    return node;
}

pugi::xml_node find(pugi::xml_node node, std::string_view local, int maxDepth)
{
    std::deque<std::pair<pugi::xml_node, int>> queue;
    queue.emplace_back(node, 0);
    size_t visited = 0;
    while (!queue.empty() && visited < 100000) {
        auto [n, d] = queue.front();
        queue.pop_front();
        ++visited;
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element)
                continue;
            if (localName(c.name()) == local)
                return c;
            if (d + 1 < maxDepth)
                queue.emplace_back(c, d + 1);
        }
    }
    return pugi::xml_node();
}

pugi::xml_attribute attribute(pugi::xml_node node, std::string_view local)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        if (localName(a.name()) == local)
            return a;
    }
    return pugi::xml_attribute();
}

std::string text(pugi::xml_node node)
{
    std::string s = node.child_value();
    if (s.empty() && node.first_child() && node.first_child().type() == pugi::node_cdata)
        s = node.first_child().value();
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool soapFault(pugi::xml_node envelope, std::string *code, std::string *reason)
{
    const pugi::xml_node fault = path(envelope, {"Body", "Fault"});
    if (!fault)
        return false;
    std::string c;
    pugi::xml_node node = child(fault, "Code");
    for (int depth = 0; node && depth < 8; ++depth) {
        const pugi::xml_node value = child(node, "Value");
        if (value)
            c = text(value);
        node = child(node, "Subcode");
    }
    if (c.empty())
        c = text(child(fault, "faultcode")); // SOAP 1.1
    std::string r = text(path(fault, {"Reason", "Text"}));
    if (r.empty())
        r = text(child(fault, "faultstring"));
    if (code)
        *code = c;
    if (reason)
        *reason = r;
    return true;
}

} // namespace onvif
