#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

// A store's list as a model for a view: one row per item, each known by a key (an id, or the
// word itself), its cells drawn from the store. While the same keys stay in the same order a
// refresh only redraws, so the view keeps its selection and current row.
class StoreListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    static constexpr int keyRole = Qt::UserRole;

    struct Source {
        std::function<std::vector<QString>()> keys;
        std::function<QVariant(std::size_t row, int role)> cell;
    };

    explicit StoreListModel(Source source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The row of the item with that key; invalid when it is not listed.
    QModelIndex find(const QString& key) const;
    QString key(const QModelIndex& index) const;

    // Reads the store's list again; connect it to the store's change signal.
    void refresh();

    // A list of this model's rows named `name`, one selected at a time. With `removeAction`,
    // Delete on the list and its context menu offer "Remove", whose action is returned there.
    QListView* view(const QString& name, QAction** removeAction = nullptr);

  private:
    Source source_;
    std::vector<QString> keys_;
};
