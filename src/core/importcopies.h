#pragma once

#include "collectiondescription.h"
#include "keptfiles.h"

#include <QString>

#include <functional>

class ImportSource;
class Sha256;
struct SourceEntry;

// What an import writes: an entry copied to a name below a folder (never over a file there,
// never through a link below it), and a Ruffle bundle's content unpacked into a new folder of
// its own, every name made a path below it or refused.

/// A movie, and each file kept with it, is at most as large as a kept file may be.
inline constexpr qint64 kMaxMovieBytes = kMaxKeptBytes;
/// A bundle's or curation's description is small.
inline constexpr qint64 kMaxDescriptionBytes = 1 << 20;
inline const QString kBundleInformation = QStringLiteral("ruffle-bundle.toml");
/// The folder of a bundle or curation that holds the site's files.
inline const QString kContent = QStringLiteral("content/");

/// Whether `path` is a Ruffle bundle: a zip (a .ruf) or a folder holding "ruffle-bundle.toml".
bool IsRuffleBundle(const QString& path);
/// Unpacks a Ruffle bundle's content into `folder`, made new (or "folder (2)" and on), keeping
/// the content's own layout so that the movie's relative loads find their files; the path of the
/// movie the bundle names, or empty with the reason in `error`.
QString UnpackRuffleBundle(const QString& bundle, const QString& folder, QString* error);

/// Copies an entry to `below` inside `folder`, through `hash` when given; the reason it could
/// not, or nothing.
QString CopyEntry(const ImportSource& source, const SourceEntry& entry, const QString& folder,
                  const QString& below, qint64 maxBytes, Sha256* hash = nullptr,
                  qint64* size = nullptr);
/// What a bundle's description says, read from the bundle.
BundleDescription DescribeBundleOf(const ImportSource& bundle);
/// An entry left out of an unpacking: why, and whether its name or kind kept it out.
using SkippedEntry = std::function<void(const SourceEntry&, const QString& reason, bool refused)>;
/// Writes every content entry of a bundle into `folder`, new, the movie's first; the reason the
/// movie could not be written, or nothing (a file beside it that cannot be is `skipped`).
QString UnpackContent(const ImportSource& bundle, const SourceEntry& movie, const QString& folder,
                      const SkippedEntry& skipped);
/// Makes a new folder `name`, or "name (2)" and on, in `parent`; empty with the reason.
QString MakeNewFolder(const QString& parent, const QString& name, QString* error);
