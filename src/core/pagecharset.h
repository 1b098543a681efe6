#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

/// The character encoding of a web page, found as browsers find it: a byte-order mark first,
/// then the charset of the Content-Type header, then a <meta charset> or <meta http-equiv> in
/// the page's first 1024 bytes, else windows-1252. Labels are those of the WHATWG Encoding
/// standard, folded to one name ("latin1", "iso-8859-1" and "ascii" are windows-1252; a page
/// that claims UTF-16 in a <meta> is read as UTF-8). The result is a lower-case name.
QByteArray PageCharset(QByteArrayView body, QByteArrayView contentType);

/// Decodes the bytes of one page's references, and encodes a query as a browser does for that
/// page: in the page's encoding, percent-encoded. Copies share one converter: a decoder and its
/// copies belong to one thread.
class PageDecoder final
{
public:
    /// An encoding PageCharset named; one the system cannot convert reads as windows-1252.
    explicit PageDecoder(QByteArray charset = "utf-8");

    const QByteArray& charset() const { return m_charset; }
    /// Whether the page's bytes are not ASCII-compatible (UTF-16): its body must be converted
    /// with toUtf8 before the scanners, which look for ASCII markers, read it.
    bool isUtf16() const;

    /// The text of `bytes`; a byte the encoding does not define becomes U+FFFD, as browsers
    /// decode it.
    QString decode(QByteArrayView bytes) const;
    /// A whole page body as UTF-8, for a page whose encoding is not ASCII-compatible.
    QByteArray toUtf8(QByteArrayView bytes) const;
    /// The address with the non-ASCII characters of its query (after its first "?") written in
    /// the page's encoding and percent-encoded; its path stays as it is (requests send it as
    /// UTF-8). A character the encoding cannot hold is written "&#N;", as browsers write it.
    QString encodeQuery(const QString& address) const;

private:
    QByteArray m_charset;
    std::shared_ptr<void> m_toUtf8; ///< the system's converter, for encodings of its own
};
