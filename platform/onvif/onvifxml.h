#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>
#include <string_view>

// XML helpers shared by the ONVIF parsers and request builders. Every text
// from the network goes through parseSafely first; every text put into a
// request goes through xmlEscape.
namespace onvif {

inline constexpr int kMaxXmlDepth = 48;

// Parses data into doc unless it is larger than maxBytes, holds a document
// type declaration (entities), nests deeper than kMaxXmlDepth, or is not
// well formed. A refused document is logged with what and false returned.
bool parseSafely(pugi::xml_document &doc, const char *data, size_t size, size_t maxBytes,
                 const char *what);

// Nesting depth of the elements of a document, or -1 when it holds a
// declaration other than a comment, CDATA or processing instruction.
int scanDepth(const char *data, size_t size, int limit);

// Text with &, <, >, " and ' replaced by their entities; control
// characters other than tab, line feed and carriage return are dropped.
std::string xmlEscape(std::string_view text);

// Local part of a qualified name ("tt:Profile" -> "Profile").
std::string_view localName(const char *qualified);

// First child element with the local name, or an empty node.
pugi::xml_node child(pugi::xml_node node, std::string_view local);
// Follows a path of local names ("Body", "GetProfilesResponse").
pugi::xml_node path(pugi::xml_node node, std::initializer_list<std::string_view> locals);
// First element with the local name at most maxDepth levels below node
// (breadth-first, iterative).
pugi::xml_node find(pugi::xml_node node, std::string_view local, int maxDepth = 16);
// Attribute by local name.
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view local);

// Trimmed text content of an element.
std::string text(pugi::xml_node node);

// SOAP fault of an envelope: true when the body holds a Fault; code gets
// the innermost subcode value ("ter:NotAuthorized") and reason the text.
bool soapFault(pugi::xml_node envelope, std::string *code, std::string *reason);

} // namespace onvif
