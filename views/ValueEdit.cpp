#include "ValueEdit.h"

#include <QEnterEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPalette>

const QColor TValueEdit::Lime{0, 255, 0};
const QColor TValueEdit::Warning{255, 255, 0};
const QColor TValueEdit::SelectionText{0, 128, 0};
const QColor TValueEdit::SelectionBackground{255, 255, 255};

TValueEdit::TValueEdit(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setContextMenuPolicy(Qt::NoContextMenu);
    // The black field is its own frame; a bevel would only cost height.
    setFrame(false);

    QFont digits(QStringLiteral("Courier New"));
    digits.setStyleHint(QFont::TypeWriter);
    digits.setPixelSize(27);
    digits.setBold(true);
    setFont(digits);

    ApplyPalette();
}

QSize TValueEdit::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QLatin1Char('C')) * 9 + 12, metrics.height() + 4};
}

QSize TValueEdit::minimumSizeHint() const
{
    return sizeHint();
}

void TValueEdit::SetFontColor(const QColor& color)
{
    if (fontColor_ == color)
        return;
    fontColor_ = color;
    ApplyPalette();
}

void TValueEdit::ApplyPalette()
{
    QPalette look = palette();
    // The value colour is the same whether the field is enabled or not: an
    // idle panel still shows its placeholders in lime.
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        look.setColor(group, QPalette::Base, Qt::black);
        look.setColor(group, QPalette::Window, Qt::black);
        look.setColor(group, QPalette::Text, fontColor_);
        look.setColor(group, QPalette::Highlight, SelectionBackground);
        look.setColor(group, QPalette::HighlightedText, SelectionText);
    }
    // A selection shows only while the field has the focus in the active
    // window; the field itself drops its selection when it loses the focus.
    look.setColor(QPalette::Inactive, QPalette::Highlight, Qt::black);
    look.setColor(QPalette::Inactive, QPalette::HighlightedText, fontColor_);
    setPalette(look);
}

void TValueEdit::enterEvent(QEnterEvent* event)
{
    pointerAbove_ = true;
    if (focusOnMouseAbove_)
        setFocus(Qt::MouseFocusReason);
    QLineEdit::enterEvent(event);
    emit MouseEnter();
}

void TValueEdit::leaveEvent(QEvent* event)
{
    pointerAbove_ = false;
    QLineEdit::leaveEvent(event);
    emit MouseExit();
}
