#pragma once

#include "browsersession.h"

#include <QString>

/// The browser "Open a browser for Clip Vault" started on a profile of its own in the data
/// folder, while it still runs (its profile's lock names a live process): where it takes
/// connections; unknown when none runs. Found without any window, so it answers on a desktop
/// that shows no program the windows of another. When both kinds run, the one started last.
BrowserEndpoint OwnBrowserEndpoint(const QString& dataFolder);
