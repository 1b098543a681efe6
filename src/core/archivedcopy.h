#pragma once

#include "downloadflow.h"
#include "webarchive.h"

#include <functional>

/// The web archive as a place a failed download may be had from, to be added with
/// `onlyWhenGone`: the newest capture of exactly the movie's address whose bytes are a Flash
/// movie. Nothing is asked while `enabled` says no. The archive is asked off the caller's
/// thread; `waiting` hears each wait there, on the caller's thread; the copy found, or what the
/// archive said, comes back to the caller.
DownloadFlow::Fallback WebArchiveFallback(ArchiveAccess archive, std::function<bool()> enabled,
                                          std::function<void(const QString&)> waiting = {});
