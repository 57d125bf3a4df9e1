#include "common/textfield.h"

#include <QByteArray>
#include <QString>

namespace varno {

namespace {

// Cut point of at most max bytes that does not split a UTF-8 sequence.
size_t utf8Cut(const char *text, size_t length, size_t max)
{
    if (length <= max)
        return length;
    size_t cut = max;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

} // namespace

void setText(char *field, size_t size, std::string_view text)
{
    if (!field || size == 0)
        return;
    const size_t n = utf8Cut(text.data(), text.size(), size - 1);
    std::memset(field, 0, size);
    if (n)
        std::memcpy(field, text.data(), n);
}

void setText(char *field, size_t size, const char *text)
{
    if (!text) {
        if (field && size)
            std::memset(field, 0, size);
        return;
    }
    setText(field, size, std::string_view(text, ::strnlen(text, 1u << 20)));
}

void setText(char *field, size_t size, const QByteArray &text)
{
    // Stop at an embedded NUL like the C text would.
    setText(field, size, std::string_view(text.constData(), ::strnlen(text.constData(), text.size())));
}

void setText(char *field, size_t size, const QString &text)
{
    setText(field, size, text.toUtf8());
}

size_t textLength(const char *field, size_t size)
{
    return field ? ::strnlen(field, size) : 0;
}

QString fieldText(const char *field, size_t size)
{
    return QString::fromUtf8(field, static_cast<qsizetype>(textLength(field, size)));
}

} // namespace varno
