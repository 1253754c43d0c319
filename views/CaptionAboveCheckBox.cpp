#include "CaptionAboveCheckBox.h"

#include "CaptionAbove.h"

#include <QStyleOptionButton>

TCaptionAboveCheckBox::TCaptionAboveCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{}

QSize TCaptionAboveCheckBox::sizeHint() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    return CaptionAbove::SizeHint(*this, option);
}

QSize TCaptionAboveCheckBox::minimumSizeHint() const
{
    return sizeHint();
}

void TCaptionAboveCheckBox::paintEvent(QPaintEvent* /*event*/)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    CaptionAbove::Paint(*this, option, QStyle::PE_IndicatorCheckBox);
}

bool TCaptionAboveCheckBox::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}
