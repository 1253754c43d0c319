#pragma once

#include <QColor>
#include <QWidget>

// A round two-colour lamp: it shows its true colour while its value is set
// and its false colour otherwise. Drawn as vector shapes, so it stays crisp
// at any size and device pixel ratio. Disabling it does not grey it out: a
// lamp that reports a fault keeps showing red on a disabled panel.
class TLed : public QWidget {
    Q_OBJECT

public:
    explicit TLed(QWidget* parent = nullptr);

    QColor TrueColor() const { return trueColor_; }
    QColor FalseColor() const { return falseColor_; }
    bool Value() const { return value_; }
    void SetTrueColor(const QColor& color);
    void SetFalseColor(const QColor& color);
    void SetValue(bool value);

    // The colour the lamp shows now.
    QColor ShownColor() const { return value_ ? trueColor_ : falseColor_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor trueColor_{255, 0, 0};
    QColor falseColor_{0, 128, 0};
    bool value_ = false;
};
