#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <initializer_list>

/// The message shown when a file cannot be written: "Cannot create file <path>".
QString CannotCreateFileMessage(const QString& path);

/// Writes the parts one after another to a temporary file beside `path` and renames it over
/// `path` only when everything was written and flushed, so a crash or a full disk keeps the
/// previous file whole. On failure returns false with the message for the user in `error`.
bool WriteFileAtomically(const QString& path, std::initializer_list<QByteArrayView> parts,
                         QString* error = nullptr);

/// Hands bytes to the file being written; false when they could not be written.
using WriteBytes = std::function<bool(QByteArrayView)>;

/// The same for a file written in pieces as `produce` makes them, so that a large file is never
/// held whole in memory. `produce` returns false to give the write up (its own message, if any,
/// is left in `error`); the previous file then stays as it was.
bool WriteFileAtomically(const QString& path, const std::function<bool(const WriteBytes&)>& produce,
                         QString* error = nullptr);
