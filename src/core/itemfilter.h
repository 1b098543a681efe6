#pragma once

#include <QString>

#include <vector>

class Catalogue;
struct ItemRecord;

/// Which items a node of the category tree lists, given the node's text: "Downloading" lists
/// the items in states N, P and F, "Deleted" those in state X; every node also lists the items
/// in state D whose Category matches its text (trimmed, case ignored).
class NodeFilter final
{
public:
    explicit NodeFilter(const QString& nodeText);
    bool matches(const ItemRecord& item) const;

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

/// Positions of the items a tree node lists, in catalogue order.
std::vector<int> ItemsOfNode(const Catalogue& catalogue, const QString& nodeText);
