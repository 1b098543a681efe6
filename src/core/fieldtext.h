#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>

// Text fields of the stored records are fixed-width byte arrays of UTF-8 text ended by a zero
// byte inside the array. Bytes after the terminator mean nothing: a field overwritten by a shorter
// value keeps its older bytes there, so readers always stop at the first zero byte.

namespace fieldtext {

/// The bytes of a field up to its terminator, or the whole width when it has none.
QByteArrayView bytes(const char* field, std::size_t width);

/// Length of the longest prefix of `text` that fits in `capacity` bytes without cutting a UTF-8
/// character in two.
qsizetype utf8PrefixLength(QByteArrayView text, qsizetype capacity);

/// Writes `text` and its terminator into the field, cut to width - 1 bytes on a character
/// boundary. Bytes behind the new terminator are left as they were.
void write(char* field, std::size_t width, QByteArrayView text);

} // namespace fieldtext

/// Reads a record's text field as a string.
template <std::size_t N>
QString FieldText(const char (&field)[N])
{
    return QString::fromUtf8(fieldtext::bytes(field, N));
}

/// Reads a record's text field as its raw bytes.
template <std::size_t N>
QByteArrayView FieldBytes(const char (&field)[N])
{
    return fieldtext::bytes(field, N);
}

/// Stores text into a record's field, cut to the field's capacity on a character boundary.
template <std::size_t N>
void SetFieldText(char (&field)[N], const QString& text)
{
    fieldtext::write(field, N, text.toUtf8());
}

template <std::size_t N>
void SetFieldBytes(char (&field)[N], QByteArrayView text)
{
    fieldtext::write(field, N, text);
}
