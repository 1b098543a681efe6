#pragma once

#include <QByteArray>
#include <QHash>

#include <vector>

/// Positions of list entries by their catalogue key, for O(1) look-ups. A key may be held by
/// several entries (records edited in place can come to share one); the first position wins,
/// as a walk from the start of the list would find it.
class KeyIndex final
{
public:
    /// The lowest position holding `key`, or -1.
    int first(const QByteArray& key) const;

    /// Records that the entry at `position` holds `key`. Positions must be added in increasing
    /// order per key, as they are when entries are appended.
    void add(const QByteArray& key, int position);

    /// Records that `position` holds `key` unless an entry holds it already: then returns that
    /// entry's lowest position and changes nothing; otherwise returns -1.
    int addUnlessHeld(const QByteArray& key, int position);

    /// Forgets that `position` holds `key`, and moves every later position up by one, as the
    /// list does when it takes the entry out.
    void removeAt(const QByteArray& key, int position);

    /// Replaces the key of the entry at `position` (an edit in place).
    void rekey(const QByteArray& oldKey, const QByteArray& newKey, int position);

    /// Forgets that `position` holds `key`; other positions stay as they are.
    void erase(const QByteArray& key, int position);

    void clear() { m_positions.clear(); }
    void reserve(qsizetype size) { m_positions.reserve(size); }

private:
    struct Positions
    {
        int first = -1;
        std::vector<int> more; ///< further positions, ascending; empty for almost every key
    };
    void insertSorted(const QByteArray& key, int position);

    QHash<QByteArray, Positions> m_positions;
};
