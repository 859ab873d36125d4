#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <stdexcept>

class QTreeWidget;
class QTreeWidgetItem;

// The item tree's routines: paths of labels become nodes, one level per
// label; siblings are told apart by their exact label. UI thread only.
namespace TreeFunc {

// Item data roles: the leaf's bookmark (invalid on inner nodes) and the
// state image index (level + 1).
inline constexpr int DataRole = Qt::UserRole;
inline constexpr int StateIndexRole = Qt::UserRole + 1;

class ETreeViewError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The first child of parent (of the top level when parent is null) whose
// label equals label exactly, code unit for code unit; null when none.
[[nodiscard]] QTreeWidgetItem *FindChildNode(QTreeWidget *tree, QTreeWidgetItem *parent, const QString &label);

// Finds or creates the node of each label in turn; a created last node
// carries data. With sortSiblings, a new node's siblings are sorted at once
// (one level). Returns the node of the last label, null for an empty path.
QTreeWidgetItem *AddTreePath(QTreeWidget *tree, const QStringList &path, const QVariant &data, bool sortSiblings);

// Sorts the children of parent (or the top level) by label with the
// locale-aware comparison; recursive sorts every level below too.
void SortChildren(QTreeWidget *tree, QTreeWidgetItem *parent, bool recursive);

// Node number index counting from 0 over all nodes depth first, each node
// before its children; throws ETreeViewError "Invalid index" when the tree
// has fewer nodes.
[[nodiscard]] QTreeWidgetItem *NodeAtAbsoluteIndex(QTreeWidget *tree, int index);

// Number of nodes at every level.
[[nodiscard]] int NodeCount(QTreeWidget *tree);

} // namespace TreeFunc
