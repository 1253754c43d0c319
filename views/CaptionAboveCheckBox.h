#pragma once

#include <QCheckBox>

// Check box with its caption centred above the box.
class TCaptionAboveCheckBox : public QCheckBox {
    Q_OBJECT

public:
    explicit TCaptionAboveCheckBox(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
