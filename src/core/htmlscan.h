#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <QSet>

#include <utility>
#include <vector>

/// The addresses a page scan has found, without repeats that differ only in letter case. It keeps
/// the order the scanners have always produced: the list is sorted ignoring case before each
/// look-up and a new address goes at the end, so a finished list is sorted except for the address
/// added last, which stands at the end unless a repeat was looked up after it.
class ScanResultList final
{
public:
    /// Adds the address unless the list holds it already (ignoring case). True when added.
    bool offer(const QString& address);
    QStringList toList() const;
    int size() const { return static_cast<int>(m_entries.size()); }

private:
    // The order is only needed at the end: the entries are kept with their case-folded keys and
    // sorted when the list is read, the last one staying last unless a repeat followed it.
    std::vector<std::pair<QString, QString>> m_entries; ///< (folded key, address), as added
    QSet<QString> m_keys;
    bool m_lastSorted = true;
};

/// Adds to `list` the movie addresses a page's HTML refers to: every quoted reference that ends
/// in ".swf" (any case), made absolute against the page's address. A page address that is a
/// movie itself is the only result. Linear in the length of the page.
void ExtractFlashLinks(QByteArrayView pageText, const QString& pageAddress, ScanResultList& list);

/// The addresses of the pages shown in a page's inline frames ("<iframe … src=…>").
ScanResultList ExtractFrameLinks(QByteArrayView pageText, const QString& pageAddress);
