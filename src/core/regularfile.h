#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// Reads a file that another program may own or may have planted: opened without following a
/// link at its name and without blocking (a FIFO never holds the caller), read only when it is a
/// regular file of at most `maxBytes`. Nothing, with the reason in `error`, otherwise.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes,
                                          QString* error = nullptr);
