#include "ValueEdit.h"

#include <QEnterEvent>
#include <QFont>
#include <QPalette>

const QColor TValueEdit::Lime{0, 255, 0};
const QColor TValueEdit::SelectionText{0, 128, 0};
const QColor TValueEdit::SelectionBackground{255, 255, 255};

TValueEdit::TValueEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setAlignment(Qt::AlignCenter);
  setContextMenuPolicy(Qt::NoContextMenu);

  QFont digits(QStringLiteral("Courier New"));
  digits.setStyleHint(QFont::TypeWriter);
  digits.setPixelSize(27);
  digits.setBold(true);
  setFont(digits);

  ApplyPalette();
}

void TValueEdit::SetFontColor(const QColor& color) {
  if (fontColor_ == color) return;
  fontColor_ = color;
  ApplyPalette();
}

void TValueEdit::ApplyPalette() {
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

void TValueEdit::enterEvent(QEnterEvent* event) {
  pointerAbove_ = true;
  if (focusOnMouseAbove_) setFocus(Qt::MouseFocusReason);
  QLineEdit::enterEvent(event);
  emit MouseEnter();
}

void TValueEdit::leaveEvent(QEvent* event) {
  pointerAbove_ = false;
  QLineEdit::leaveEvent(event);
  emit MouseExit();
}
