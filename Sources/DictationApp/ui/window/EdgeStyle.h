#pragma once

#include <QProxyStyle>

// The platform's style with edges that show: fields, lists, check boxes and radio buttons get
// an outline in the palette's Mid colour (which both looks keep at 3:1 or more against their
// backgrounds), where Fusion derives one from the window colour that all but vanishes on a
// dark window; and disabled text is drawn flat, not embossed.
class EdgeStyle : public QProxyStyle {
    Q_OBJECT
  public:
    using QProxyStyle::QProxyStyle;

    // Makes it the application's style, once.
    static void install();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
