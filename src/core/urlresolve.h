#pragma once

#include <QString>

/// Resolves a reference found in a page against the page's address, as RFC 3986 does: a reference
/// with "://" is absolute and kept as written; one beginning "www." names a host and gains
/// "http://"; "//host/m" takes the page's scheme; "/m" goes to the site root; "./" and "../" are
/// resolved. A page address without a scheme counts as http://. Letter case is kept throughout.
QString ResolveReference(const QString& pageAddress, const QString& reference);
