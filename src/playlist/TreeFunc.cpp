#include "playlist/TreeFunc.h"

#include "platform/Collate.h"
#include "playlist/PlaylistPictures.h"

#include <QCollator>
#include <QLocale>
#include <QTreeWidget>

#include <algorithm>

namespace TreeFunc {

namespace {

int childCount(QTreeWidget *tree, QTreeWidgetItem *parent)
{
    return parent ? parent->childCount() : tree->topLevelItemCount();
}

QTreeWidgetItem *childAt(QTreeWidget *tree, QTreeWidgetItem *parent, int i)
{
    return parent ? parent->child(i) : tree->topLevelItem(i);
}

int level(const QTreeWidgetItem *item)
{
    int n = 0;
    for (const QTreeWidgetItem *p = item->parent(); p; p = p->parent())
        ++n;
    return n;
}

void countFrom(QTreeWidgetItem *item, int &n)
{
    ++n;
    for (int i = 0; i < item->childCount(); ++i)
        countFrom(item->child(i), n);
}

QTreeWidgetItem *walk(QTreeWidgetItem *item, int &left)
{
    if (left == 0)
        return item;
    --left;
    for (int i = 0; i < item->childCount(); ++i)
        if (QTreeWidgetItem *found = walk(item->child(i), left))
            return found;
    return nullptr;
}

} // namespace

QTreeWidgetItem *FindChildNode(QTreeWidget *tree, QTreeWidgetItem *parent, const QString &label)
{
    const int n = childCount(tree, parent);
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem *child = childAt(tree, parent, i);
        // Exact equality: labels that differ only in letter case or in
        // Unicode normalisation are different nodes.
        if (child->text(0) == label)
            return child;
    }
    return nullptr;
}

QTreeWidgetItem *AddTreePath(QTreeWidget *tree, const QStringList &path, const QVariant &data, bool sortSiblings)
{
    QTreeWidgetItem *parent = nullptr;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (QTreeWidgetItem *found = FindChildNode(tree, parent, path[i])) {
            parent = found;
            continue;
        }
        auto *node = new QTreeWidgetItem(QStringList{path[i]});
        if (i == path.size() - 1)
            node->setData(0, DataRole, data);
        if (parent)
            parent->addChild(node);
        else
            tree->addTopLevelItem(node);
        const int stateIndex = level(node) + 1;
        node->setData(0, StateIndexRole, stateIndex);
        node->setIcon(0, playlist::treeStateIcon(stateIndex));
        if (sortSiblings && parent)
            SortChildren(tree, parent, false);
        parent = node;
    }
    return parent;
}

void SortChildren(QTreeWidget *tree, QTreeWidgetItem *parent, bool recursive)
{
    QList<QTreeWidgetItem *> children;
    if (parent) {
        children = parent->takeChildren();
    } else {
        while (tree->topLevelItemCount() > 0)
            children.append(tree->takeTopLevelItem(0));
    }
    // One collator for the whole sort; platform::lstrcmpA builds one per
    // call, which is needlessly slow over a large tree.
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::stable_sort(children.begin(), children.end(), [&collator](QTreeWidgetItem *a, QTreeWidgetItem *b) {
        const QString ta = a->text(0);
        const QString tb = b->text(0);
        int r = collator.compare(ta, tb);
        if (r == 0)
            r = QString::compare(ta, tb, Qt::CaseSensitive);
        return r < 0;
    });
    if (parent)
        parent->addChildren(children);
    else
        tree->addTopLevelItems(children);
    if (recursive)
        for (QTreeWidgetItem *c : children)
            SortChildren(tree, c, true);
}

QTreeWidgetItem *NodeAtAbsoluteIndex(QTreeWidget *tree, int index)
{
    if (index >= 0) {
        int left = index;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (QTreeWidgetItem *found = walk(tree->topLevelItem(i), left))
                return found;
    }
    throw ETreeViewError("Invalid index");
}

int NodeCount(QTreeWidget *tree)
{
    int n = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        countFrom(tree->topLevelItem(i), n);
    return n;
}

} // namespace TreeFunc
