#pragma once

#include "records.h"
#include "swfcontents.h"

#include <functional>

#include <QString>

/// Which items a node of the category tree lists, given the node's text: "Downloading" lists
/// the items in states N, P and F, "Deleted" those in state X; every node also lists the items
/// in state D whose Category matches its text (trimmed, case ignored).
class NodeFilter final
{
public:
    explicit NodeFilter(const QString& nodeText);
    bool matches(const ItemRecord& item) const;
    /// The same from the item's state and the whole value of its Category field.
    bool matches(ItemState state, QByteArrayView category) const;

private:
    enum class Kind
    {
        Downloading,
        Deleted,
        Other
    };
    Kind m_kind;
    QByteArray m_key;
};

/// What the search dialog asks for: a text and the fields to look for it in. The dialog's text
/// box holds at most kTextCapacity characters. `matches` counts the items found.
struct SearchRequest
{
    static constexpr int kTextCapacity = 100;
    QString text;
    bool inFileName = false;
    bool inUrl = false;
    bool inComment = false;
    bool insideMovie = false; ///< also what the movie holds (SwfContents), where it is known
    int matches = 0;
};

/// The facts of an item's movie where they are known, without reading the movie; null where not.
using MovieFactsLookup = std::function<const SwfContents*(const ItemRecord& item)>;

/// Which items a search finds: those whose file name, source URL or comment (each only when
/// asked for), trimmed and lower-cased, holds the request's text trimmed and lower-cased, and,
/// when asked to look inside the movies, those whose movie's facts (`inside`) hold it, case
/// ignored. An empty text is found nowhere.
class SearchFilter final
{
public:
    explicit SearchFilter(const SearchRequest& request, MovieFactsLookup inside = {});
    bool matches(const ItemRecord& item) const;
    /// Whether the request can find anything at all.
    bool isEmpty() const { return m_key.isEmpty(); }

private:
    QString m_key;
    bool m_inFileName;
    bool m_inUrl;
    bool m_inComment;
    MovieFactsLookup m_inside; ///< empty: the movies are not looked into
};
