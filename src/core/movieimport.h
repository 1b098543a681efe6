#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>

class Catalogue;

// Movies already on disk brought into the catalogue: a folder tree, a single movie, a zip, a
// Ruffle bundle or a curation folder. A movie is known by its signature, not its name. Each
// becomes a downloaded item whose file is where it lies (or a copy in the category's folder)
// and whose address is the file's file:// address, or the web address a bundle or curation
// folder says it was served from. Nothing is ever written into the source.

/// What to bring in and where.
struct ImportRequest
{
    QString source;   ///< a folder, a movie, a .zip, a Ruffle bundle, a curation folder
    QString category; ///< empty: "Downloaded"
    bool copy =
        false; ///< copy a folder's movies into the category's folder (an archive's always are)
};

/// Whether `path` is a Ruffle bundle: a zip (a .ruf) or a folder holding "ruffle-bundle.toml".
bool IsRuffleBundle(const QString& path);
/// Unpacks a Ruffle bundle's content into `folder` (which it makes), keeping the content's own
/// layout so that the movie's relative loads find their files; the path of the movie the bundle
/// names, or empty with the reason in `error`.
QString UnpackRuffleBundle(const QString& bundle, const QString& folder, QString* error);

/// An import as one line of JSON, and back (a path handed to the running program).
QByteArray ImportRequestToJson(const ImportRequest& request);
ImportRequest ImportRequestFromJson(const QByteArray& json);

/// What the reading needs of the catalogue, taken on its thread before it starts.
struct ImportPlan
{
    ImportRequest request;
    QString targetFolder;         ///< the category's folder, where copies go
    QSet<QByteArray> knownSha256; ///< the contents the catalogue holds (hex)
};

/// A file the import did not bring in, and why.
struct ImportProblem
{
    QString path;
    QString reason;
};

/// What an import did: counts, the files it could not or would not take, and an error when the
/// source itself could not be read.
struct ImportSummary
{
    QString source;
    int added = 0;
    int same = 0; ///< movies whose content (or address) the catalogue holds already
    int unreadable = 0;
    int skipped = 0; ///< files that are no movie, links, names that leave an archive
    QList<ImportProblem> problems;
    QString error;
    bool stopped = false; ///< ended early: the program quit

    bool ok() const { return error.isEmpty(); }
    /// One document; at most `mostProblems` problems are listed (the count says how many).
    QJsonObject toJson(int mostProblems = 1000) const;
    static ImportSummary fromJson(const QJsonObject& json);
    /// "4 added, 1 the same, 0 unreadable, 2 skipped", the problems after it a line each (at
    /// most `mostProblems` of them; -1: all).
    QString text(int mostProblems = -1) const;
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
