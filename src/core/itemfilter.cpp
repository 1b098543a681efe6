#include "itemfilter.h"

#include "catalogue.h"

namespace {

// Compares a field with a catalogue key without building the field's key: the hot loop of
// filling a view with a large catalogue. Falls back to the full key for non-ASCII text.
bool fieldMatchesKey(QByteArrayView field, const QByteArray& key)
{
    const QByteArrayView text = TrimmedBlanks(field);
    if (text.size() != key.size()) {
        // Case folding can change the length of non-ASCII text; only then is a slow look needed.
        for (char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80)
                return CatalogueKey(field) == key;
        }
        return false;
    }
    for (qsizetype i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80)
            return CatalogueKey(field) == key;
        const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        if (lower != key[i])
            return false;
    }
    return true;
}

} // namespace

NodeFilter::NodeFilter(const QString& nodeText)
    : m_key(CatalogueKey(nodeText))
{
    if (m_key == "downloading")
        m_kind = Kind::Downloading;
    else if (m_key == "deleted")
        m_kind = Kind::Deleted;
    else
        m_kind = Kind::Other;
}

bool NodeFilter::matches(const ItemRecord& item) const
{
    return matches(item.state(), FieldBytes(item.Category));
}

bool NodeFilter::matches(ItemState state, QByteArrayView category) const
{
    switch (state) {
    case ItemState::New:
    case ItemState::Pending:
    case ItemState::Failed:
        return m_kind == Kind::Downloading;
    case ItemState::Deleted:
        return m_kind == Kind::Deleted;
    case ItemState::Downloaded:
        return fieldMatchesKey(category, m_key);
    }
    return false;
}

SearchFilter::SearchFilter(const SearchRequest& request, MovieFactsLookup inside)
    : m_key(request.text.trimmed().toLower())
    , m_inFileName(request.inFileName)
    , m_inUrl(request.inUrl)
    , m_inComment(request.inComment)
    , m_inside(request.insideMovie ? std::move(inside) : MovieFactsLookup())
{
}

bool SearchFilter::matches(const ItemRecord& item) const
{
    if (m_key.isEmpty())
        return false;
    auto holds = [this](const QString& field) {
        return field.trimmed().toLower().contains(m_key);
    };
    if ((m_inFileName && holds(FieldText(item.FileName))) ||
        (m_inUrl && holds(FieldText(item.Url))) || (m_inComment && holds(FieldText(item.Comment))))
        return true;
    const SwfContents* facts = m_inside ? m_inside(item) : nullptr;
    return facts && facts->contains(m_key);
}
