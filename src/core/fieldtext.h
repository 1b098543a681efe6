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

/// The text up to its first zero byte, which would end a stored field there.
QByteArrayView beforeZero(QByteArrayView text);

/// Writes `text` and its terminator into the field, cut to width - 1 bytes on a character
/// boundary. Bytes behind the new terminator are left as they were.
void write(char* field, std::size_t width, QByteArrayView text);

} // namespace fieldtext

/// A text field of a record in memory: the bytes its log stores and, when the value is longer
/// than those hold, the whole value.
template <std::size_t N>
struct TextField
{
    char stored[N] = {}; ///< the value cut to fit on a character boundary, ended by a zero byte
    QByteArray whole;    ///< the whole value as UTF-8 when it did not fit, else null

    bool isCut() const { return !whole.isNull(); }
};

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

/// The whole value of an in-memory field.
template <std::size_t N>
QByteArrayView FieldBytes(const TextField<N>& field)
{
    return field.isCut() ? QByteArrayView(field.whole) : fieldtext::bytes(field.stored, N);
}

template <std::size_t N>
QString FieldText(const TextField<N>& field)
{
    return QString::fromUtf8(FieldBytes(field));
}

/// Stores the whole value, and what of it fits into the stored bytes.
template <std::size_t N>
void SetFieldBytes(TextField<N>& field, QByteArrayView text)
{
    text = fieldtext::beforeZero(text);
    fieldtext::write(field.stored, N, text);
    field.whole = text.size() > static_cast<qsizetype>(N) - 1 ? text.toByteArray() : QByteArray();
}

template <std::size_t N>
void SetFieldText(TextField<N>& field, const QString& text)
{
    SetFieldBytes(field, text.toUtf8());
}

/// Takes a whole value read back from elsewhere (the companion file) when the stored bytes are
/// exactly what storing it would have kept; false, changing nothing, otherwise.
template <std::size_t N>
bool RestoreWholeValue(TextField<N>& field, QByteArrayView whole)
{
    whole = fieldtext::beforeZero(whole);
    if (whole.size() <= static_cast<qsizetype>(N) - 1)
        return false;
    const QByteArrayView kept = whole.first(fieldtext::utf8PrefixLength(whole, N - 1));
    if (fieldtext::bytes(field.stored, N) != kept)
        return false;
    field.whole = whole.toByteArray();
    return true;
}
