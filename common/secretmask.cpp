#include "common/secretmask.h"

namespace varno {

namespace {

bool isSchemeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-'
        || c == '.';
}

// Ends the authority of an address: the path, query or fragment starts, or
// the address itself ends (white space, quotes and brackets around it).
bool endsAuthority(char c)
{
    return c == '/' || c == '?' || c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"'
        || c == '\'' || c == '<' || c == '>' || c == ')' || c == ']' || c == ',' || c == ';';
}

struct Secret {
    size_t begin = 0; // first byte of the password
    size_t end = 0;   // the '@' after it
};

// The password of the address whose "://" is at sep, if it has one.
bool findSecret(std::string_view text, size_t sep, Secret *out)
{
    if (sep == 0 || !isSchemeChar(text[sep - 1]))
        return false;
    const size_t authority = sep + 3;
    size_t stop = authority;
    while (stop < text.size() && !endsAuthority(text[stop]))
        ++stop;
    // The last '@' ends the user part: a password may hold an unescaped '@'.
    const size_t at = text.substr(authority, stop - authority).rfind('@');
    if (at == std::string_view::npos)
        return false;
    const size_t colon = text.substr(authority, at).find(':');
    if (colon == std::string_view::npos)
        return false;
    out->begin = authority + colon + 1;
    out->end = authority + at;
    return true;
}

} // namespace

std::string maskCredentials(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    size_t from = 0;
    while (true) {
        const size_t sep = text.find("://", from);
        if (sep == std::string_view::npos)
            break;
        Secret s;
        if (findSecret(text, sep, &s)) {
            out.append(text.substr(copied, s.begin - copied));
            out.append(kMaskedSecret);
            copied = s.end;
            from = s.end;
        } else {
            from = sep + 3;
        }
    }
    out.append(text.substr(copied));
    return out;
}

bool hasCredentials(std::string_view text)
{
    for (size_t sep = text.find("://"); sep != std::string_view::npos; sep = text.find("://", sep + 3)) {
        Secret s;
        if (findSecret(text, sep, &s))
            return true;
    }
    return false;
}

} // namespace varno
