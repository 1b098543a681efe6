#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

// What an import is asked and what it answers: the request, handed to the running program as a
// line of JSON, and the summary it gives back.

/// What to bring in and where.
struct ImportRequest
{
    QString source;   ///< a folder, a movie, a .zip, a Ruffle bundle, a curation folder
    QString category; ///< empty: "Downloaded"
    bool copy =
        false; ///< copy a folder's movies into the category's folder (an archive's always are)
};

/// An import as one line of JSON, and back (a path handed to the running program).
QByteArray ImportRequestToJson(const ImportRequest& request);
ImportRequest ImportRequestFromJson(const QByteArray& json);

/// Why a file that is no Flash movie was left: tallied in the summary's text, listed in its JSON.
inline constexpr char kNotAMovie[] = "not a Flash movie";

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
    int skipped = 0;              ///< files that are no movie, links, names that leave an archive
    QMap<QString, int> skippedBy; ///< the skipped files by their reason
    QList<ImportProblem> problems;
    QString error;
    bool stopped = false; ///< ended early: the program quit

    bool ok() const { return error.isEmpty(); }
    /// One document; at most `mostProblems` problems are listed (the count says how many).
    QJsonObject toJson(int mostProblems = 1000) const;
    static ImportSummary fromJson(const QJsonObject& json);
    /// "4 added, 1 the same, 0 unreadable, 2 skipped (2 not a Flash movie)", the problems
    /// after it a line each (at most `mostProblems` of them; -1: all), but for the files that
    /// are no movie, which are only counted.
    QString text(int mostProblems = -1) const;
};
