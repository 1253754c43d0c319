#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>

#include <functional>

class QWidget;

// Watches a top-level window for two things of the window system that Qt
// lets pass without a word: a close request while a modal box blocks the
// window (Qt drops it), and the window destroyed by another client (Qt goes
// on without it). Each is reported once per event through its callback,
// later, on the GUI thread. Only the X11 platform has them; elsewhere the
// watch does nothing.
class TWindowSystemWatch final : public QAbstractNativeEventFilter {
public:
    TWindowSystemWatch(QWidget& window, std::function<void()> blockedCloseRequest,
                       std::function<void()> destroyed);
    ~TWindowSystemWatch() override;
    TWindowSystemWatch(const TWindowSystemWatch&) = delete;
    TWindowSystemWatch& operator=(const TWindowSystemWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWidget> window_;
    std::function<void()> blockedCloseRequest_;
    std::function<void()> destroyed_;
    bool installed_ = false;
    unsigned protocolsAtom_ = 0;
    unsigned deleteWindowAtom_ = 0;
};
