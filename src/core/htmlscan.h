#pragma once

#include "pagecharset.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

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
    /// Puts what was added since the last call in the order toList() gives, so that reading the
    /// list later costs little: a detection does it after each page, while the next is on its
    /// way.
    void sortSoFar();
    int size() const { return static_cast<int>(m_entries.size()); }
    /// How much more the list takes, as a value another thread may hold.
    struct Room
    {
        qsizetype entries = -1; ///< -1: no limit
        qsizetype chars = -1;   ///< -1: no limit
        bool full = false;

        /// Whether `moreEntries` addresses of `moreChars` characters in all would all be taken.
        bool takes(qsizetype moreEntries, qsizetype moreChars) const
        {
            return !full && (entries < 0 || moreEntries <= entries) &&
                   (chars < 0 || moreChars <= chars);
        }
    };
    Room room() const;
    /// Characters of the addresses held.
    qsizetype chars() const { return m_chars; }
    /// Whether an address was refused for want of room.
    bool full() const { return m_full; }

private:
    struct Entry
    {
        QString key; ///< the address case-folded
        QString address;
        std::size_t hash; ///< of the key
    };

    /// Doubles the look-up table, placing the entries by the hashes they keep.
    void grow();
    /// Every entry's index, ordered by key.
    std::vector<quint32> sortedOrder() const;
    bool keyLess(quint32 a, quint32 b) const;

    // The order is only needed at the end: the entries are kept with their case-folded keys and
    // sorted when the list is read, the last one staying last unless a repeat followed it.
    std::vector<Entry> m_entries; ///< as added
    /// Open addressing over m_entries: an entry's index + 1, 0 for a free slot; a power of two
    /// long and at most half full, so that a look-up hashes the key once and rarely probes far.
    std::vector<quint32> m_slots;
    std::vector<quint32> m_sorted; ///< the indices of the entries sortSoFar() saw, by key
    /// Every key is below U+0100, so that comparing the bytes of two compares their characters.
    bool m_narrowKeys = true;
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
