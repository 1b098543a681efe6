#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// A folder where only this user can create names, for the files other users must not be able
/// to take first (the pointer block, the single-instance socket): the user's runtime folder
/// ($XDG_RUNTIME_DIR) when it is a folder of this user's that nobody else may enter; else
/// "<dataFolder>/run", made with mode 0700 (an existing one of this user's is set to 0700).
/// Empty when neither can be had: the folder belongs to someone else, or is a link.
QString PrivateRuntimeFolder(const QString& dataFolder);

/// A short name for one session of the program: 12 hex digits of a digest of the display and
/// the data folder, so that two displays or two data folders of one user never share a name.
QString SessionTag(const QString& display, const QString& dataFolder);

/// The socket the running program listens on for its data folder, in PrivateRuntimeFolder: later
/// starts and the browser companion's host reach it there. Empty when there is no such folder.
QString ProgramSocketPath(const QString& dataFolder);

/// A connection to the socket at `path` when a program of this user listens there (the
/// listener's identity checked, beside the folder being this user's alone); else -1.
int ConnectToOwnProgram(const QString& path);

/// Sends `request` to the program running on `dataFolder`, when one of this user's listens on
/// ProgramSocketPath, and reads its reply until it closes the connection (at most `waitMs`
/// without a byte, and `mostReply` bytes). Nothing when no program of this user runs there. A plain
/// socket: no event loop is needed, so that a later start hands its movie over before it makes its
/// application object.
///
/// A request the program takes when its sender has gone (a movie to play) is ended by closing
/// the sending side; a question (`question`), which the program knows whole by its bytes, keeps
/// the connection open both ways, or the program's side would close with it before it answers.
std::optional<QByteArray> AskRunningProgram(const QString& dataFolder, const QByteArray& request,
                                            int waitMs, bool question = true,
                                            qsizetype mostReply = 64 * 1024);

/// The request that asks the running program which browsers' companions are connected; it
/// answers a line each, "name version".
inline constexpr char kCompanionsRequest[] = "companions\n";
/// The request that asks it for the visible tab's movies through a connected companion; it
/// answers them as one JSON array, or nothing when no companion is connected.
inline constexpr char kTabMoviesRequest[] = "tabmovies\n";
/// The request that hands it an import: this line, then the import as one line of JSON
/// (ImportRequestToJson). It answers a blank line now and then while it reads the files, then
/// the import's summary as one JSON document.
inline constexpr char kImportRequest[] = "import\n";
