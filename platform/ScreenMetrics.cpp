#include "ScreenMetrics.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace {

QStyle* AppStyle()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr
               ? QApplication::style()
               : nullptr;
}

class QtScreenMetrics : public ScreenMetrics {
public:
    QSize ScreenSize() const override
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen != nullptr ? screen->size() : QSize();
    }

    QRect WorkArea(const QWidget* window) const override
    {
        const QScreen* screen = window != nullptr ? window->screen() : nullptr;
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
        }
        return screen != nullptr ? screen->availableGeometry() : QRect();
    }

    int CaptionHeight() const override
    {
        const QStyle* style = AppStyle();
        return style != nullptr ? style->pixelMetric(QStyle::PM_TitleBarHeight) : 0;
    }

    int DialogFrameWidth() const override { return FrameSize(); }
    int DialogFrameHeight() const override { return FrameSize(); }

    int VerticalScrollBarWidth() const override
    {
        const QStyle* style = AppStyle();
        return style != nullptr ? style->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
    }

private:
    static int FrameSize()
    {
        const QStyle* style = AppStyle();
        return style != nullptr ? style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth) : 0;
    }
};

const ScreenMetrics* current = nullptr;

}  // namespace

const ScreenMetrics& Screen()
{
    static const QtScreenMetrics qtMetrics;
    return current != nullptr ? *current : qtMetrics;
}

ScopedScreenMetrics::ScopedScreenMetrics(const FixedScreenMetrics& metrics)
    : metrics_(metrics), previous_(current)
{
    current = &metrics_;
}

ScopedScreenMetrics::~ScopedScreenMetrics()
{
    current = previous_;
}
