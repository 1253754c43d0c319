#pragma once

#include <QSize>
#include <QStyle>

class QAbstractButton;
class QStyleOptionButton;

// Drawing shared by the check box and radio button whose caption sits
// centred above the indicator instead of beside it.
namespace CaptionAbove {

QSize SizeHint(const QAbstractButton& button, const QStyleOptionButton& option);
void Paint(QAbstractButton& button, const QStyleOptionButton& option,
           QStyle::PrimitiveElement indicator);

}  // namespace CaptionAbove
