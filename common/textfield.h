#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include <QByteArray>
#include <QString>

// Fixed-size, NUL-terminated 8-bit text fields of the stored and sent
// records. Every fill goes through these helpers: the text is cut to
// size - 1 bytes (never in the middle of a UTF-8 sequence), the rest of the
// field is zeroed, and nothing is written past the field.
namespace varno {

void setText(char *field, size_t size, const char *text);
void setText(char *field, size_t size, std::string_view text);
void setText(char *field, size_t size, const QByteArray &text);
void setText(char *field, size_t size, const QString &text);

template <size_t N>
void setText(char (&field)[N], const char *text) { setText(field, N, text); }
template <size_t N>
void setText(char (&field)[N], std::string_view text) { setText(field, N, text); }
template <size_t N>
void setText(char (&field)[N], const QByteArray &text) { setText(field, N, text); }
template <size_t N>
void setText(char (&field)[N], const QString &text) { setText(field, N, text); }

// Length of the text in a field that may lack its terminator.
size_t textLength(const char *field, size_t size);
template <size_t N>
size_t textLength(const char (&field)[N]) { return textLength(field, N); }

// The text of a field as a QString (UTF-8), safe without a terminator.
QString fieldText(const char *field, size_t size);
template <size_t N>
QString fieldText(const char (&field)[N]) { return fieldText(field, N); }

} // namespace varno
