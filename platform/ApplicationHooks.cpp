#include "ApplicationHooks.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace {

struct Handlers {
    ApplicationHooks::ShortCutHandler shortCut;
    ApplicationHooks::Notify activate;
    ApplicationHooks::Notify deactivate;
    unsigned shortCutGeneration = 0;  // bumped by every SetShortCut
};

Handlers& Current()
{
    static Handlers handlers;
    return handlers;
}

class HookFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !Current().shortCut || !watched->isWidgetType()) {
            return false;
        }
        // A key travels from the focused control up to its window; the
        // handler sees it once, at its first receiver.
        const auto* widget = static_cast<QWidget*>(watched);
        const QWidget* focus = QApplication::focusWidget();
        const bool firstReceiver = focus != nullptr ? widget == focus : widget->isWindow();
        if (!firstReceiver) {
            return false;
        }
        const ApplicationHooks::ShortCutHandler handler = Current().shortCut;
        return handler(static_cast<QKeyEvent*>(event)->key());
    }
};

void EnsureInstalled()
{
    static QPointer<QObject> installedOn;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || installedOn == app) {
        return;
    }
    installedOn = app;
    auto* filter = new HookFilter;
    filter->setParent(app);
    app->installEventFilter(filter);
    QObject::connect(qobject_cast<QGuiApplication*>(app), &QGuiApplication::applicationStateChanged,
                     filter, [](Qt::ApplicationState state) {
                         const Handlers& h = Current();
                         if (state == Qt::ApplicationActive) {
                             if (h.activate) {
                                 h.activate();
                             }
                         } else if (h.deactivate) {
                             h.deactivate();
                         }
                     });
}

}  // namespace

namespace ApplicationHooks {

void SetShortCut(ShortCutHandler handler)
{
    EnsureInstalled();
    Current().shortCut = std::move(handler);
    ++Current().shortCutGeneration;
}

ShortCutHandler ShortCut()
{
    return Current().shortCut;
}

void SetActivate(Notify handler)
{
    EnsureInstalled();
    Current().activate = std::move(handler);
}

void SetDeactivate(Notify handler)
{
    EnsureInstalled();
    Current().deactivate = std::move(handler);
}

ShortCutDetached::ShortCutDetached() : saved_(ShortCut()), generation_(Current().shortCutGeneration)
{
    Current().shortCut = nullptr;
}

ShortCutDetached::~ShortCutDetached()
{
    // A handler set or removed meanwhile (a window that closed) wins.
    if (Current().shortCutGeneration == generation_) {
        Current().shortCut = std::move(saved_);
    }
}

}  // namespace ApplicationHooks
