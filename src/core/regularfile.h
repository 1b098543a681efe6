#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

/// Reads a file that another program may own or may have planted: opened without following a
/// link at its name and without blocking (a FIFO never holds the caller), read only when it is a
/// regular file of at most `maxBytes`. Nothing, with the reason in `error`, otherwise.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes,
                                          QString* error = nullptr);

/// The same for a small file, as text; empty when it cannot be read so.
QByteArray ReadSmallRegularFile(const QString& path, qint64 maxBytes = 4096);

/// An INI file of another program (a browser's profiles.ini), read as ReadRegularFile reads,
/// at most 1 MiB: its groups in order, and each "group/key" with its value.
struct IniText
{
    QStringList groups;
    QHash<QString, QString> values;

    /// Reads `path`; an empty text when it cannot be read so.
    static IniText read(const QString& path);
    QString value(const QString& groupAndKey, const QString& otherwise = {}) const
    {
        return values.value(groupAndKey, otherwise);
    }
};
