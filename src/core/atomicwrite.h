#pragma once

#include <QByteArrayView>
#include <QString>

#include <initializer_list>

/// The message shown when a file cannot be written: "Cannot create file <path>".
QString CannotCreateFileMessage(const QString& path);

/// Writes the parts one after another to a temporary file beside `path` and renames it over
/// `path` only when everything was written and flushed, so a crash or a full disk keeps the
/// previous file whole. On failure returns false with the message for the user in `error`.
bool WriteFileAtomically(const QString& path, std::initializer_list<QByteArrayView> parts,
                         QString* error = nullptr);
