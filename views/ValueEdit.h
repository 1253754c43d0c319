#pragma once

#include <QColor>
#include <QLineEdit>

// Read-only value field of a channel panel: lime bold monospace digits on
// black, centred, no caret and no context menu (copying with the keyboard
// still works). It reports the pointer entering and leaving it and can take
// the keyboard focus while the pointer is above it.
class TValueEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TValueEdit(QWidget* parent = nullptr);

    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& color);

    bool FocusOnMouseAbove() const { return focusOnMouseAbove_; }
    void SetFocusOnMouseAbove(bool on) { focusOnMouseAbove_ = on; }

    // True between the pointer's enter and leave events.
    bool PointerAbove() const { return pointerAbove_; }

    // Room for the nine characters a value may take, and not more, so that
    // eight panels fit the window's channel area.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static const QColor Lime;
    // Values the measurement cannot vouch for: yellow, readable on black.
    static const QColor Warning;
    static const QColor SelectionText;
    static const QColor SelectionBackground;

signals:
    void MouseEnter();
    void MouseExit();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void ApplyPalette();

    QColor fontColor_ = Lime;
    bool focusOnMouseAbove_ = false;
    bool pointerAbove_ = false;
};
