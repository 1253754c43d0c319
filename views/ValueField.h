#pragma once

#include "ReadingMarks.h"

#include <QColor>
#include <QString>

class TValueEdit;

// How a value field shows what it holds, for the channel panels and the page
// "Спектр" alike: a number lime, or yellow when the measurement cannot vouch
// for it; the placeholder, the field disabled, where no number stands; a
// channel's short or open mark in red. The hint is the field's tool tip.
namespace ValueField {

// Red, for a channel's short or open mark.
extern const QColor CircuitMark;

// The number, the field enabled; yellow when marked.
void ShowNumber(TValueEdit& edit, const QString& text, bool marked,
                const QString& hint = QString());

// The number in its mark's colour, or the placeholder when the mark dashes it.
void ShowMarked(TValueEdit& edit, const QString& text, const measure::ValueMark& mark,
                const QString& hint);

// The placeholder, lime, the field disabled.
void ShowDashes(TValueEdit& edit, const QString& hint = QString());

// A short or open channel's mark instead of its voltage, without a hint.
void ShowCircuitMark(TValueEdit& edit, const QString& mark);

}  // namespace ValueField
