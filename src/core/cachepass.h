#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

struct CacheEntry;

/// One row of the detection results: a movie's address and the name it is saved as.
struct ResultRow
{
    QString address;
    QString saveAs;   ///< the text after the address's last "/"
    QString category; ///< empty until the user picks one
    bool checked = false;
    QString note = {}; ///< said beside the address (when the web archive kept it)
};

Q_DECLARE_TYPEINFO(ResultRow, Q_RELOCATABLE_TYPE);

/// The rows the detection lists, each address once (compared exactly).
class DetectionResults final
{
public:
    /// Appends a row for the address, filled as a new row is.
    void AddResultRow(const QString& address);
    /// The same for each address in turn.
    void AddResultRows(const QStringList& addresses);
    bool hasRow(const QString& address) const;
    const QList<ResultRow>& rows() const { return m_rows; }

private:
    QList<ResultRow> m_rows;
    // Only the cache pass asks: the rows are indexed when it does, not as each is added.
    mutable QSet<QString> m_addresses;
    mutable qsizetype m_indexedRows = 0;
};

/// The site a page address names, for the cache pass: any scheme removed, cut before the first
/// "/". An https page's movies are matched like an http page's.
QString CacheHostOf(const QString& addressBoxText);

/// The cache pass for one entry: an entry of the site (unless every host is wanted) whose address,
/// cut before its "?", ends in ".swf" (exactly) is listed once.
void CachePassEntry(const CacheEntry& entry, const QString& host, bool allHosts,
                    DetectionResults& results);
