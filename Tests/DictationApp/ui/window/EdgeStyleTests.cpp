// Every control keeps a visible edge in both looks: drawn offscreen, the pixel on a control's
// edge against the pixel beside it outside, by the contrast ratio of the web's guidelines.
#include "OffscreenWidgets.h"
#include "ui/window/Appearance.h"

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <functional>

namespace {

double luminance(QColor colour) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(QColor a, QColor b) {
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

class EdgeStyleTest : public OffscreenWidgets {};

TEST_F(EdgeStyleTest, FieldsListsAndChoicesKeepAVisibleEdgeAndTextStaysReadable) {
    struct Control {
        const char* name;
        std::function<QWidget*()> make;
        // Where its edge is, in the control's own coordinates, and a point just outside it.
        std::function<std::pair<QPoint, QPoint>(QWidget*)> edge;
    };
    const auto frameEdge = [](QWidget* w) {
        return std::pair(QPoint(0, w->height() / 2), QPoint(-2, w->height() / 2));
    };
    const auto indicatorEdge = [](QWidget* w) {
        QStyleOptionButton option;
        option.initFrom(w);
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        const QRect box = w->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, w);
        return std::pair(QPoint(box.left(), box.center().y()),
                         QPoint(box.left() - 2, box.center().y()));
    };
    const std::vector<Control> controls{
        {"text field", [] { return new QLineEdit; }, frameEdge},
        {"text area", [] { return new QPlainTextEdit; }, frameEdge},
        {"list", [] { return new QListWidget; }, frameEdge},
        {"check box", [] { return new QCheckBox("Keep audio"); }, indicatorEdge},
        {"radio button", [] { return new QRadioButton("polished"); }, indicatorEdge},
    };
    Appearance appearance;
    for (const Look look : {Look::light, Look::dark}) {
        appearance.apply(look);
        const QPalette palette = QApplication::palette();
        SCOPED_TRACE(look == Look::dark ? "dark" : "light");
        EXPECT_GE(contrast(palette.color(QPalette::Text), palette.color(QPalette::Base)), 4.5);
        EXPECT_GE(contrast(palette.color(QPalette::WindowText), palette.color(QPalette::Window)),
                  4.5);
        EXPECT_GE(contrast(palette.color(QPalette::PlaceholderText), palette.color(QPalette::Base)),
                  4.5);
        EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_EtchDisabledText), 0)
            << "disabled text is not embossed";
        for (const Control& control : controls) {
            QWidget window;
            auto* layout = new QVBoxLayout(&window);
            layout->setContentsMargins(12, 12, 12, 12);
            QWidget* widget = control.make();
            layout->addWidget(widget);
            window.resize(240, 120);
            window.show();
            QApplication::processEvents();
            const QImage picture = window.grab().toImage();
            const auto [on, beside] = control.edge(widget);
            const QColor edge = picture.pixelColor(widget->mapTo(&window, on));
            const QColor outside = picture.pixelColor(widget->mapTo(&window, beside));
            EXPECT_GE(contrast(edge, outside), 3.0)
                << control.name << ": edge " << edge.name().toStdString() << " on "
                << outside.name().toStdString();
        }
    }
}

} // namespace
