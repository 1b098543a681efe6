#include "urlresolve.h"

#include <QStringList>

namespace {

struct Address
{
    QString scheme;    ///< without "://"
    QString authority; ///< host and port
    QString path;      ///< from the first "/" after the authority, without query or fragment
};

Address splitAddress(QString text)
{
    // The query and the fragment play no part in resolving.
    for (QChar stop : {u'?', u'#'}) {
        if (const qsizetype at = text.indexOf(stop); at >= 0)
            text.truncate(at);
    }
    Address address;
    const qsizetype scheme = text.indexOf(QStringLiteral("://"));
    if (scheme >= 0) {
        address.scheme = text.left(scheme);
        text = text.mid(scheme + 3);
    } else {
        address.scheme = QStringLiteral("http");
    }
    const qsizetype slash = text.indexOf(u'/');
    address.authority = slash < 0 ? text : text.left(slash);
    address.path = slash < 0 ? QString() : text.mid(slash);
    return address;
}

} // namespace

bool IsMovieAddress(const QString& address)
{
    return splitAddress(address).path.endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive);
}

namespace {

/// RFC 3986 section 5.2.4.
QString removeDotSegments(const QString& path)
{
    QStringList output;
    const QStringList segments = path.split(u'/');
    const bool absolute = path.startsWith(u'/');
    for (qsizetype i = absolute ? 1 : 0; i < segments.size(); ++i) {
        const QString& segment = segments[i];
        const bool last = i == segments.size() - 1;
        if (segment == u"..") {
            if (!output.isEmpty())
                output.removeLast();
            if (last)
                output << QString();
        } else if (segment == u".") {
            if (last)
                output << QString();
        } else {
            output << segment;
        }
    }
    return (absolute ? QStringLiteral("/") : QString()) + output.join(u'/');
}

/// Splits "path?query#fragment" into the path and the rest, which is kept as written.
std::pair<QString, QString> splitTail(const QString& reference)
{
    qsizetype at = reference.size();
    for (QChar stop : {u'?', u'#'}) {
        const qsizetype found = reference.indexOf(stop);
        if (found >= 0 && found < at)
            at = found;
    }
    return {reference.left(at), reference.mid(at)};
}

/// Whether a path has "." or ".." segments to remove.
bool hasDotSegments(QStringView path)
{
    if (!path.contains(u'.'))
        return false;
    return path.startsWith(u'.') || path.contains(QStringLiteral("/."));
}

QString normalizedPath(const QString& path)
{
    return hasDotSegments(path) ? removeDotSegments(path) : path;
}

} // namespace

ReferenceResolver::ReferenceResolver(const QString& pageAddress)
{
    const Address base = splitAddress(pageAddress.trimmed());
    m_origin = base.scheme + QStringLiteral("://");
    m_authority = base.authority;
    m_path = base.path;
    m_directory =
        m_origin + m_authority +
        (m_path.isEmpty() ? QStringLiteral("/") : m_path.left(m_path.lastIndexOf(u'/') + 1));
}

QString ReferenceResolver::resolve(const QString& reference) const
{
    if (reference.contains(QStringLiteral("://")))
        return reference;
    if (reference.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
        return QStringLiteral("http://") + reference;
    if (reference.startsWith(QStringLiteral("//"))) {
        const QString rest = reference.mid(2);
        const qsizetype slash = rest.indexOf(u'/');
        if (slash < 0)
            return m_origin + rest;
        const auto [path, tail] = splitTail(rest.mid(slash));
        return m_origin + rest.left(slash) + normalizedPath(path) + tail;
    }
    const auto [path, tail] = splitTail(reference);
    if (path.startsWith(u'/'))
        return m_origin + m_authority + normalizedPath(path) + tail;
    if (path.isEmpty())
        return m_origin + m_authority + (m_path.isEmpty() ? QStringLiteral("/") : m_path) + tail;
    if (!hasDotSegments(path))
        return m_directory + reference; // the common case: a name in the page's folder
    const QString directory = m_directory.mid(m_origin.size() + m_authority.size());
    return m_origin + m_authority + removeDotSegments(directory + path) + tail;
}

QString ResolveReference(const QString& pageAddress, const QString& reference)
{
    return ReferenceResolver(pageAddress).resolve(reference);
}

bool IsLocalAddress(QStringView address)
{
    return address.trimmed().startsWith(u"file:", Qt::CaseInsensitive);
}
