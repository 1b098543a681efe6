#include "keyindex.h"

#include <algorithm>

int KeyIndex::first(const QByteArray& key) const
{
    const auto it = m_positions.constFind(key);
    return it == m_positions.cend() ? -1 : it->first;
}

void KeyIndex::add(const QByteArray& key, int position)
{
    Positions& entry = m_positions[key];
    if (entry.first < 0)
        entry.first = position;
    else
        entry.more.push_back(position);
}

int KeyIndex::addUnlessHeld(const QByteArray& key, int position)
{
    Positions& entry = m_positions[key]; // one look-up for the question and the answer
    if (entry.first >= 0)
        return entry.first;
    entry.first = position;
    return -1;
}

void KeyIndex::erase(const QByteArray& key, int position)
{
    const auto it = m_positions.find(key);
    if (it == m_positions.end())
        return;
    Positions& entry = *it;
    if (entry.first == position) {
        if (entry.more.empty()) {
            m_positions.erase(it);
            return;
        }
        entry.first = entry.more.front();
        entry.more.erase(entry.more.begin());
    } else {
        std::erase(entry.more, position);
    }
}

void KeyIndex::insertSorted(const QByteArray& key, int position)
{
    Positions& entry = m_positions[key];
    if (entry.first < 0) {
        entry.first = position;
    } else if (position < entry.first) {
        entry.more.insert(entry.more.begin(), entry.first);
        entry.first = position;
    } else {
        entry.more.insert(std::upper_bound(entry.more.begin(), entry.more.end(), position),
                          position);
    }
}

void KeyIndex::removeAt(const QByteArray& key, int position)
{
    erase(key, position);
    for (Positions& entry : m_positions) {
        if (entry.first > position)
            --entry.first;
        for (int& p : entry.more) {
            if (p > position)
                --p;
        }
    }
}

void KeyIndex::rekey(const QByteArray& oldKey, const QByteArray& newKey, int position)
{
    if (oldKey == newKey)
        return;
    erase(oldKey, position);
    insertSorted(newKey, position);
}
