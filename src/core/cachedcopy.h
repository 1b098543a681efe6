#pragma once

#include "detectionjob.h"
#include "downloadflow.h"

/// A place a failed download may be had from: the browsers' caches (the profiles the program
/// knows, and those of the browsers running). The caches are searched off the caller's thread;
/// the copy found, or none, comes back to it.
DownloadFlow::Fallback CachedCopyFallback(DetectionJob::CacheSource caches);

/// The largest body taken from a cache for a download.
inline constexpr qint64 kMaxCachedCopy = 64 << 20;
