#include "nametable.h"

#include "fieldtext.h"

#include <cstring>

NameTable::NameTable()
    : m_names(1)
{
    m_ids.insert(QByteArray(), 0);
}

std::uint32_t NameTable::intern(QByteArrayView name)
{
    if (m_names[m_last] == name)
        return m_last;
    const QByteArray bytes = name.toByteArray();
    const auto found = m_ids.constFind(bytes);
    if (found != m_ids.cend()) {
        m_last = *found;
    } else {
        m_last = size();
        m_names.push_back(bytes);
        m_ids.insert(bytes, m_last);
    }
    return m_last;
}

std::uint32_t NameTable::internField(const char (&field)[sizeof StoredItemRecord::Category])
{
    if (std::memcmp(field, m_lastField, sizeof m_lastField) != 0) {
        m_lastFieldId = intern(FieldBytes(field));
        std::memcpy(m_lastField, field, sizeof m_lastField);
    }
    return m_lastFieldId;
}
