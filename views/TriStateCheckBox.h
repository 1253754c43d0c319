#pragma once

#include <QCheckBox>

// Check box that can show a mixed state but that the operator can only tick
// or untick: a click on a mixed box ticks it. A box the operator could click
// into the mixed state would not say what it applies to its channels.
class TTriStateCheckBox : public QCheckBox {
    Q_OBJECT

public:
    explicit TTriStateCheckBox(const QString& text, QWidget* parent = nullptr);

    // Ticked, and only ticked. Qt's isChecked() is also true for the mixed
    // state, which must count as not ticked wherever the box is read.
    bool IsTicked() const { return checkState() == Qt::Checked; }

protected:
    void nextCheckState() override;
};
