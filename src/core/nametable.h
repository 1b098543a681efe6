#pragma once

#include "records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <cstdint>
#include <vector>

/// Names numbered in the order they are first met; the empty name is number 0.
class NameTable final
{
public:
    NameTable();
    std::uint32_t intern(QByteArrayView name);
    /// The same for a stored Category field, compared whole with the last one first: a log's
    /// neighbours mostly hold the very same bytes.
    std::uint32_t internField(const char (&field)[sizeof StoredItemRecord::Category]);
    const QByteArray& name(std::uint32_t id) const { return m_names[id]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(m_names.size()); }

private:
    std::vector<QByteArray> m_names;
    QHash<QByteArray, std::uint32_t> m_ids;
    std::uint32_t m_last = 0; ///< neighbours mostly share a name
    char m_lastField[sizeof StoredItemRecord::Category] = {};
    std::uint32_t m_lastFieldId = 0;
};
