#include "MessageBox.h"

#include "Thread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>

namespace {

DialogHook& CurrentHook()
{
    static DialogHook hook;
    return hook;
}

QMessageBox::Icon ToQt(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void RequireGuiThread()
{
    if (!IsGuiThread()) {
        // A thread reports through Synchronize; a widget made on another
        // thread would take down the process.
        throw std::logic_error("a dialog must be shown on the GUI thread");
    }
}

DialogHook SetDialogHook(DialogHook hook)
{
    DialogHook previous = std::move(CurrentHook());
    CurrentHook() = std::move(hook);
    return previous;
}

int RunModalDialog(QDialog& dialog, const ShownDialog& shown)
{
    RequireGuiThread();
    // Copy: the hook may replace itself while it runs.
    const DialogHook hook = CurrentHook();
    if (hook) {
        ShownDialog seen = shown;
        seen.dialog = &dialog;
        if (hook(seen)) {
            // Closed from inside its own modal loop, as a person would.
            // The dialog is the timer's context: no call once it is gone.
            QDialog* target = &dialog;
            QTimer::singleShot(0, target, [target] { target->done(1); });
        }
    }
    return dialog.exec();
}

int ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon)
{
    RequireGuiThread();
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    ShownDialog shown;
    shown.kind = DialogKind::MessageBox;
    shown.caption = caption;
    shown.text = text;
    shown.icon = icon;
    shown.buttons = QStringList{box.button(QMessageBox::Ok)->text()};
    const int result = RunModalDialog(box, shown);
    return result == QMessageBox::Ok || result == 1 ? 1 : 0;
}

void ShowException(const QString& message)
{
    RequireGuiThread();
    const QString caption = QCoreApplication::applicationName();
    QMessageBox box(QMessageBox::Critical, caption, message, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    ShownDialog shown;
    shown.kind = DialogKind::Exception;
    shown.caption = caption;
    shown.text = message;
    shown.icon = MessageIcon::Error;
    shown.buttons = QStringList{box.button(QMessageBox::Ok)->text()};
    RunModalDialog(box, shown);
}

DialogRecorder::DialogRecorder()
{
    previous_ = SetDialogHook([this](const ShownDialog& shown) {
        shown_.push_back(shown);
        shown_.back().dialog = nullptr;  // gone after the call
        if (OnShown) {
            OnShown(shown);
        }
        return true;
    });
}

DialogRecorder::~DialogRecorder()
{
    SetDialogHook(std::move(previous_));
}
