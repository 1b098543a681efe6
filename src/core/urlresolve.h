#pragma once

#include <QString>

/// Resolves a reference found in a page against the page's address, as RFC 3986 does: a reference
/// with "://" is absolute and kept as written; one beginning "www." names a host and gains
/// "http://"; "//host/m" takes the page's scheme; "/m" goes to the site root; "./" and "../" are
/// resolved. A page address without a scheme counts as http://. Letter case is kept throughout.
QString ResolveReference(const QString& pageAddress, const QString& reference);

/// Whether an address names a movie: the last segment of its path, before any query or fragment,
/// ends in ".swf", letter case ignored. A folder, host or query that merely holds "swf" does not
/// make a movie of a page.
bool IsMovieAddress(const QString& address);

/// Whether an address names a file on this machine (file://): such an item is never downloaded
/// nor looked up in a web archive, which would send its path out.
bool IsLocalAddress(QStringView address);

/// The same for many references against one page address, which is taken apart only once.
class ReferenceResolver final
{
public:
    explicit ReferenceResolver(const QString& pageAddress);
    QString resolve(const QString& reference) const;

private:
    QString m_origin;    ///< "scheme://"
    QString m_authority; ///< host and port
    QString m_path;      ///< the page's path, without query
    QString m_directory; ///< origin, authority and the path up to its last "/"
};
