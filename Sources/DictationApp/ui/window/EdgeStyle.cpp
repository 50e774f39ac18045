#include "ui/window/EdgeStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>

void EdgeStyle::install() {
    if (!qobject_cast<EdgeStyle*>(QApplication::style())) {
        QApplication::setStyle(new EdgeStyle(QApplication::style()->name()));
    }
}

void EdgeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                              QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const QColor edge = option->palette.color(QPalette::Mid);
    const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    switch (element) {
    case PE_FrameLineEdit:
    case PE_Frame:
    case PE_FrameGroupBox:
    case PE_IndicatorCheckBox: {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(edge, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(box, 2, 2);
        painter->restore();
        break;
    }
    case PE_IndicatorRadioButton: {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(edge, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(box);
        painter->restore();
        break;
    }
    default:
        break;
    }
}

int EdgeStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const {
    if (hint == SH_EtchDisabledText) {
        return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}
