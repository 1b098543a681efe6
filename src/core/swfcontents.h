#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

/// What a movie holds beyond its header, read from its tags: for the info pane, `swf-info` and
/// a search inside the collection. Every list is bounded (kMaxContentsText in all), whatever
/// the movie claims.
struct SwfContents
{
    int actionScript = 1;    ///< 1 for ActionScript 1 and 2 (AVM1), 3 for ActionScript 3 (AVM2)
    bool useNetwork = false; ///< a local movie may reach the network (FileAttributes)
    QString title;           ///< of the metadata tag, when it names one
    QString description;
    QStringList frameLabels; ///< of the main timeline and its sprites, each once
    QStringList symbols;     ///< exported symbol names and ActionScript 3 class names, each once
    QStringList texts;       ///< the initial texts of its text fields, HTML markup taken away
    QStringList addresses;   ///< the files its code names (NamedFileReferences)
    // Read from a file only:
    qint64 fileSize = -1;       ///< bytes in the file
    quint32 declaredLength = 0; ///< the uncompressed length its header announces
    QString lengthWarning;      ///< what is odd about its length (SwfLengthWarning), if anything

    /// Whether `text` occurs in any of the facts above, ignoring case.
    bool contains(QStringView text) const;
};

/// The most text one movie's facts hold in all.
inline constexpr qsizetype kMaxContentsText = 64 * 1024;

/// Reads the facts of an uncompressed movie (UncompressedMovie); damaged parts are skipped.
SwfContents ReadSwfContents(QByteArrayView movie);

/// The same for a movie file of at most kMaxFactsFile bytes (unpacked to four times that at
/// most); nothing, with the reason, for one that cannot be read or is no movie.
std::optional<SwfContents> ReadSwfContentsOfFile(const QString& path, QString* error = nullptr);

inline constexpr qint64 kMaxFactsFile = qint64(64) << 20;
