#pragma once

#include <QRadioButton>

// Radio button with its caption centred above the button. It does not
// exclude its siblings by itself (its owner decides which one is checked),
// and a click on a checked button leaves it checked, as with any radio.
class TCaptionAboveRadioButton : public QRadioButton {
    Q_OBJECT

public:
    explicit TCaptionAboveRadioButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;
};
