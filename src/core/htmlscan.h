#pragma once

#include "pagecharset.h"

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
    ScanResultList() = default;
    /// A list that takes at most `maxEntries` addresses of at most `maxChars` characters in all;
    /// what comes after is refused, and full() tells that something was.
    ScanResultList(qsizetype maxEntries, qsizetype maxChars)
        : m_maxEntries(maxEntries)
        , m_maxChars(maxChars)
    {
    }

    /// Adds the address unless the list holds it already (ignoring case) or is full. True when
    /// added.
    bool offer(const QString& address);
    QStringList toList() const;
    int size() const { return static_cast<int>(m_entries.size()); }
    /// Characters of the addresses held.
    qsizetype chars() const { return m_chars; }
    /// Whether an address was refused for want of room.
    bool full() const { return m_full; }

private:
    // The order is only needed at the end: the entries are kept with their case-folded keys and
    // sorted when the list is read, the last one staying last unless a repeat followed it.
    std::vector<std::pair<QString, QString>> m_entries; ///< (folded key, address), as added
    QSet<QString> m_keys;
    bool m_lastSorted = true;
    qsizetype m_maxEntries = -1; ///< -1: no limit
    qsizetype m_maxChars = -1;
    qsizetype m_chars = 0;
    bool m_full = false;
};

/// Adds to `list` the movie addresses a page's HTML refers to: every quoted reference that ends
/// in ".swf" (any case), decoded with the page's encoding and made absolute against the page's
/// address (its query encoded as the page's encoding has it). A page address that is a movie
/// itself is the only result. Linear in the length of the page; ends once the list is full.
void ExtractFlashLinks(QByteArrayView pageText, const QString& pageAddress, ScanResultList& list,
                       const PageDecoder& decoder = PageDecoder());

/// Adds to `list` the addresses of the pages shown in a page's inline frames
/// ("<iframe … src=…>"); ends once the list is full.
void ExtractFrameLinks(QByteArrayView pageText, const QString& pageAddress, ScanResultList& list,
                       const PageDecoder& decoder = PageDecoder());
/// The same into a list of its own, without limits.
ScanResultList ExtractFrameLinks(QByteArrayView pageText, const QString& pageAddress);
/// Adds the pages of a frameset's frames ("<frame … src=…>"), as ExtractFrameLinks does
/// inline frames.
void ExtractFramesetLinks(QByteArrayView pageText, const QString& pageAddress, ScanResultList& list,
                          const PageDecoder& decoder = PageDecoder());
