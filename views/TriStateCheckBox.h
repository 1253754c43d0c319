#pragma once

#include <QCheckBox>

// Check box that can show a mixed state but that the operator can only tick
// or untick: a click on a mixed box ticks it. A box the operator could click
// into the mixed state would not say what it applies to its channels.
class TTriStateCheckBox : public QCheckBox {
  Q_OBJECT

public:
  explicit TTriStateCheckBox(const QString& text, QWidget* parent = nullptr);

protected:
  void nextCheckState() override;
};
