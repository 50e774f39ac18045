#include "ui/window/StoreListModel.h"

#include "ui/window/Icons.h"

#include <QAction>
#include <algorithm>

StoreListModel::StoreListModel(Source source, QObject* parent)
    : QAbstractListModel(parent), source_(std::move(source)), keys_(source_.keys()) {}

int StoreListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(keys_.size());
}

QVariant StoreListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(keys_.size())) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (role == keyRole) {
        return keys_[row];
    }
    return source_.cell(row, role);
}

QModelIndex StoreListModel::find(const QString& key) const {
    const auto found = std::find(keys_.begin(), keys_.end(), key);
    return found == keys_.end() ? QModelIndex() : index(static_cast<int>(found - keys_.begin()));
}

QString StoreListModel::key(const QModelIndex& index) const {
    return data(index, keyRole).toString();
}

void StoreListModel::refresh() {
    std::vector<QString> keys = source_.keys();
    if (keys == keys_) {
        if (!keys_.empty()) {
            emit dataChanged(index(0), index(static_cast<int>(keys_.size()) - 1));
        }
        return;
    }
    beginResetModel();
    keys_ = std::move(keys);
    endResetModel();
}

QListView* StoreListModel::view(const QString& name, QAction** removeAction) {
    auto* list = new QListView;
    list->setAccessibleName(name);
    list->setModel(this);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    if (removeAction) {
        *removeAction = new QAction(Icons::symbol("trash"), QStringLiteral("Remove"), list);
        (*removeAction)->setShortcut(QKeySequence::Delete);
        (*removeAction)->setShortcutContext(Qt::WidgetShortcut);
        list->addAction(*removeAction);
        list->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    return list;
}
