#include "cachepass.h"

#include "cacheentry.h"

#include <QRegularExpression>

void DetectionResults::AddResultRow(const QString& address)
{
    ResultRow row;
    row.address = address;
    row.saveAs = address.mid(address.lastIndexOf(u'/') + 1);
    m_rows.append(row);
}

void DetectionResults::AddResultRows(const QStringList& addresses)
{
    m_rows.reserve(m_rows.size() + addresses.size());
    for (const QString& address : addresses)
        AddResultRow(address);
}

bool DetectionResults::hasRow(const QString& address) const
{
    for (; m_indexedRows < m_rows.size(); ++m_indexedRows)
        m_addresses.insert(m_rows[m_indexedRows].address);
    return m_addresses.contains(address);
}

QString CacheHostOf(const QString& addressBoxText)
{
    // Only a scheme at the start is taken off: a "://" later (in a query) is part of the path.
    QString host = addressBoxText;
    static const QRegularExpression leadingScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (const QRegularExpressionMatch scheme = leadingScheme.match(host); scheme.hasMatch())
        host = host.mid(scheme.capturedLength());
    if (const qsizetype slash = host.indexOf(u'/'); slash >= 0)
        host.truncate(slash);
    return host;
}

void CachePassEntry(const CacheEntry& entry, const QString& host, bool allHosts,
                    DetectionResults& results)
{
    QString address = entry.url;
    if (!allHosts && (host.isEmpty() || !address.contains(host)))
        return;
    if (const qsizetype query = address.indexOf(u'?'); query >= 0)
        address.truncate(query);
    if (!address.endsWith(QStringLiteral(".swf")) || results.hasRow(address))
        return;
    results.AddResultRow(address);
}
