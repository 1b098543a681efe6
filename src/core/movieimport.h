#pragma once

#include "importsummary.h"

#include <QByteArray>
#include <QList>
#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>

class Catalogue;

// Movies already on disk brought into the catalogue: a folder tree, a single movie, a zip, a
// Ruffle bundle or a curation folder. A movie is known by its content (a whole movie, by
// MovieCheck), not its name. Each
// becomes a downloaded item whose file is where it lies (or a copy in the category's folder)
// and whose address is the file's file:// address, or the web address a bundle or curation
// folder says it was served from. Nothing is ever written into the source.

/// What the reading needs of the catalogue, taken on its thread before it starts.
struct ImportPlan
{
    ImportRequest request;
    QString targetFolder; ///< the category's folder, where copies go
    /// The contents the catalogue holds (hex), each with the name of an item that holds it.
    QHash<QByteArray, QString> knownSha256;
};

/// A movie found, read whole and put where it will stay.
struct FoundMovie
{
    QString address;
    QString file;
    QByteArray sha256;
    int keptFiles = 0;
};

struct ImportFindings
{
    QList<FoundMovie> movies;
    ImportSummary summary;
};

/// Progress of the reading: files looked at, of how many.
using ImportProgress = std::function<void(int done, int total)>;

/// What the import reads from the catalogue: the category's folder and the contents it holds.
/// False with the reason in `error` when the category does not exist.
bool PlanImport(const Catalogue& catalogue, const ImportRequest& request, ImportPlan& plan,
                QString* error);

/// Reads the source off the catalogue's thread: finds the movies, hashes each once, and copies
/// or extracts them where they go; a movie whose content is known already is counted the same
/// and not copied. Ends early, keeping what it placed, once `stop` is set.
ImportFindings FindMoviesToImport(const ImportPlan& plan, const std::atomic<bool>& stop,
                                  const ImportProgress& progress = {});

/// Files the movies found as downloaded items of the plan's category, on the catalogue's
/// thread; one whose address or content the catalogue holds by now is counted the same.
ImportSummary FileFoundMovies(Catalogue& catalogue, const QString& category,
                              ImportFindings findings);
