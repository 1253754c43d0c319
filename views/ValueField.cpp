#include "ValueField.h"

#include "ValueEdit.h"
#include "ViewTexts.h"

namespace ValueField {

const QColor CircuitMark{255, 0, 0};

namespace {

// Colour before text: the field repaints once, in the colour of its new text.
void Show(TValueEdit& edit, bool enabled, const QString& text, const QColor& colour,
          const QString& hint)
{
    edit.setEnabled(enabled);
    edit.SetFontColor(colour);
    edit.setText(text);
    edit.setToolTip(hint);
}

}  // namespace

void ShowNumber(TValueEdit& edit, const QString& text, bool marked, const QString& hint)
{
    Show(edit, true, text, marked ? TValueEdit::Warning : TValueEdit::Lime, hint);
}

void ShowMarked(TValueEdit& edit, const QString& text, const measure::ValueMark& mark,
                const QString& hint)
{
    if (mark.Dashed) {
        ShowDashes(edit, hint);
        return;
    }
    ShowNumber(edit, text, mark.Marked(), hint);
}

void ShowDashes(TValueEdit& edit, const QString& hint)
{
    Show(edit, false, ViewText::ValuePlaceholder, TValueEdit::Lime, hint);
}

void ShowCircuitMark(TValueEdit& edit, const QString& mark)
{
    Show(edit, true, mark, CircuitMark, QString());
}

}  // namespace ValueField
