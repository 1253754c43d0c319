#pragma once

#include <QRect>
#include <QSize>

#include <memory>

class QWidget;

// Screen size, work area and the system metrics the window and the thread
// dialogs are laid out with. The program reads them through Screen(); tests
// replace the source with ScopedScreenMetrics.
class ScreenMetrics {
public:
    virtual ~ScreenMetrics() = default;
    // Size of the primary screen in pixels.
    virtual QSize ScreenSize() const = 0;
    // Work area (screen less panels) of the monitor that shows window; the
    // primary screen's when window is null or not placed yet.
    virtual QRect WorkArea(const QWidget* window) const = 0;
    // Height of a window caption bar.
    virtual int CaptionHeight() const = 0;
    // Width and height of the frame of a dialog window (one side).
    virtual int DialogFrameWidth() const = 0;
    virtual int DialogFrameHeight() const = 0;
    // Width of a vertical scroll bar.
    virtual int VerticalScrollBarWidth() const = 0;
};

// Plain values, for tests and for pinning a layout.
class FixedScreenMetrics : public ScreenMetrics {
public:
    QSize Screen{1920, 1080};
    QRect Work{0, 0, 1920, 1040};
    int Caption = 23;
    int FrameWidth = 3;
    int FrameHeight = 3;
    int ScrollBarWidth = 17;

    QSize ScreenSize() const override { return Screen; }
    QRect WorkArea(const QWidget*) const override { return Work; }
    int CaptionHeight() const override { return Caption; }
    int DialogFrameWidth() const override { return FrameWidth; }
    int DialogFrameHeight() const override { return FrameHeight; }
    int VerticalScrollBarWidth() const override { return ScrollBarWidth; }
};

// The metrics in force: the Qt screens and style unless a test set others.
const ScreenMetrics& Screen();

// Replaces the metrics for its lifetime (GUI thread only; scopes nest).
class ScopedScreenMetrics {
public:
    explicit ScopedScreenMetrics(const FixedScreenMetrics& metrics);
    ~ScopedScreenMetrics();
    ScopedScreenMetrics(const ScopedScreenMetrics&) = delete;
    ScopedScreenMetrics& operator=(const ScopedScreenMetrics&) = delete;

private:
    FixedScreenMetrics metrics_;
    const ScreenMetrics* previous_;
};
