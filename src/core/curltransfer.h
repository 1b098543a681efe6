#pragma once

#include "curlbasics.h"

#include <QString>

/// The address a finished transfer ended at, after its redirects; `asked` when it has none.
QString TransferEndAddress(CURL* curl, const QString& asked);
