#pragma once

#include <QStyledItemDelegate>

// Draws the History list's rows: a day's heading, or a dictation's time, app and line with its
// outcome's mark. Every row has one height, so the view lays out a long history at once.
class HistoryDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
