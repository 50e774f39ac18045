#include "ui/window/HistoryDelegate.h"

#include "ui/window/HistoryModel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QStyle>

namespace {

constexpr int padding = 6;
constexpr int gap = 8;

} // namespace

QSize HistoryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics metrics(option.font);
    return {option.rect.width(), 2 * metrics.height() + 2 * padding + 2};
}

void HistoryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect area = option.rect.adjusted(padding * 2, padding, -padding * 2, -padding);
    const QFontMetrics metrics(option.font);

    painter->save();
    if (index.data(HistoryModel::isDayRole).toBool()) {
        // The heading sits on the row's lower line, close to the day it opens.
        QFont bold = option.font;
        bold.setWeight(QFont::DemiBold);
        painter->setFont(bold);
        painter->setPen(option.palette.color(QPalette::Text));
        const QRect line(area.left(), area.bottom() - metrics.height(), area.width(),
                         metrics.height());
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(bold).elidedText(item.text, Qt::ElideRight, line.width()));
        painter->restore();
        return;
    }

    item.text.clear();
    item.icon = QIcon();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    const QColor textColour =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor muted = textColour;
    muted.setAlphaF(0.65F);

    // First line: the time and the app.
    QRect line(area.left(), area.top(), area.width(), metrics.height());
    const QString time = index.data(HistoryModel::timeRole).toString();
    painter->setPen(muted);
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, time);
    const int appLeft = line.left() + metrics.horizontalAdvance(time) + gap * 2;
    const QRect appLine(appLeft, line.top(), std::max(0, line.right() - appLeft), line.height());
    painter->drawText(appLine, Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(index.data(HistoryModel::appRole).toString(),
                                         Qt::ElideRight, appLine.width()));

    // Second line: the outcome's mark and what was typed.
    line.translate(0, metrics.height() + 2);
    const QIcon mark = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    if (!mark.isNull()) {
        const int size = metrics.height();
        mark.paint(painter, QRect(line.left(), line.top(), size, size));
        line.setLeft(line.left() + size + gap / 2);
    }
    painter->setPen(index.data(HistoryModel::outcomeRole).toInt() ==
                            static_cast<int>(Outcome::typed)
                        ? textColour
                        : muted);
    painter->drawText(
        line, Qt::AlignLeft | Qt::AlignVCenter,
        metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, line.width()));
    painter->restore();
}
