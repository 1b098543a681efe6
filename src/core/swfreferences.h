#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

/// The whole movie as it is once decompressed ("FWS" header included), from a file's bytes in
/// any of the three forms. Nothing, with the reason, for what is no movie, is damaged, or
/// unpacks to more than `maxBytes` (a small file may claim gigabytes).
std::optional<QByteArray> UncompressedMovie(QByteArrayView file, qint64 maxBytes,
                                            QString* error = nullptr);

/// The addresses a movie names in its code that lead to files it may load: strings of its
/// actions (constant pools, pushes, GetURL, in the main timeline, sprites, buttons and clip
/// events), the string constants of its ActionScript 3 code, and the movies it imports assets
/// from. Only strings that end in a known file extension (".swf", ".xml", ".txt", ".json",
/// ".jpg", ".png", ".gif", ".mp3", ".flv"; a query or fragment after it is ignored) are kept,
/// each once, in the order first met. `movie` is uncompressed; damaged parts are skipped.
QStringList NamedFileReferences(QByteArrayView movie);

/// The same for a movie file of at most `maxFileBytes` (unpacked to four times that at most);
/// nothing for a file that cannot be read or is no movie.
QStringList NamedFileReferencesOfFile(const QString& path, qint64 maxFileBytes);

/// Whether a string names a file of a kind a movie loads, by the extension of its path.
bool NamesLoadableFile(QStringView text);
