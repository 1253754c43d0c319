#include "CaptionAbove.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

constexpr int Gap = 3;     // between caption and indicator
constexpr int Margin = 2;  // around the whole, room for the focus frame

QSize IndicatorSize(const QAbstractButton& button, const QStyleOptionButton& option)
{
    const QStyle* style = button.style();
    return {style->pixelMetric(QStyle::PM_IndicatorWidth, &option, &button),
            style->pixelMetric(QStyle::PM_IndicatorHeight, &option, &button)};
}

}  // namespace

namespace CaptionAbove {

QSize SizeHint(const QAbstractButton& button, const QStyleOptionButton& option)
{
    const QFontMetrics metrics(button.font());
    const QSize text = metrics.size(Qt::TextShowMnemonic, button.text());
    const QSize indicator = IndicatorSize(button, option);
    return {std::max(text.width(), indicator.width()) + 2 * Margin,
            text.height() + Gap + indicator.height() + 2 * Margin};
}

void Paint(QAbstractButton& button, const QStyleOptionButton& option,
           QStyle::PrimitiveElement indicator)
{
    QPainter painter(&button);
    const QStyle* style = button.style();
    const QFontMetrics metrics(button.font());
    const QSize text = metrics.size(Qt::TextShowMnemonic, button.text());
    const QSize mark = IndicatorSize(button, option);

    // Caption and indicator as one block, centred in the button's rectangle.
    const int blockHeight = text.height() + Gap + mark.height();
    const int top = std::max(0, (button.height() - blockHeight) / 2);
    const QRect textRect(0, top, button.width(), text.height());
    const QRect markRect((button.width() - mark.width()) / 2, top + text.height() + Gap,
                         mark.width(), mark.height());

    QStyleOptionButton markOption = option;
    markOption.rect = markRect;
    style->drawPrimitive(indicator, &markOption, &painter, &button);

    style->drawItemText(&painter, textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic,
                        option.palette, button.isEnabled(), button.text(), QPalette::WindowText);

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect =
            QRect((button.width() - text.width()) / 2 - 1, top, text.width() + 2, text.height());
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, &button);
    }
}

}  // namespace CaptionAbove
