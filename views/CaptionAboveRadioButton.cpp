#include "CaptionAboveRadioButton.h"

#include "CaptionAbove.h"

#include <QStyleOptionButton>

TCaptionAboveRadioButton::TCaptionAboveRadioButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent)
{
    // An auto-exclusive button could not be unchecked from outside while it
    // is the only checked one among its siblings.
    setAutoExclusive(false);
}

QSize TCaptionAboveRadioButton::sizeHint() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    return CaptionAbove::SizeHint(*this, option);
}

QSize TCaptionAboveRadioButton::minimumSizeHint() const
{
    return sizeHint();
}

void TCaptionAboveRadioButton::paintEvent(QPaintEvent* /*event*/)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    CaptionAbove::Paint(*this, option, QStyle::PE_IndicatorRadioButton);
}

bool TCaptionAboveRadioButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void TCaptionAboveRadioButton::nextCheckState()
{
    if (!isChecked())
        setChecked(true);
}
