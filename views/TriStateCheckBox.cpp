#include "TriStateCheckBox.h"

TTriStateCheckBox::TTriStateCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent)
{
    setTristate(true);
}

void TTriStateCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
