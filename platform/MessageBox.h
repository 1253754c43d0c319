#pragma once

#include "MessageIcon.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QDialog;

// Modal message boxes: a caption, a text, an optional icon and one OK
// button, owned by the application. Every box and thread dialog passes
// through a global hook first, so tests (and the end-to-end runs) see what
// was said and close the box without a person.

enum class DialogKind {
    MessageBox,    // ShowMessageBox
    Exception,     // ShowException, the application's exception display
    ThreadDialog,  // the orange dialog of a thread (ThreadDialog.h)
};

struct ShownDialog {
    DialogKind kind = DialogKind::MessageBox;
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::None;
    QStringList buttons;
    QDialog* dialog = nullptr;  // the live dialog, valid during the hook call
};

// Called on the GUI thread with every dialog just before it runs modally.
// Returning true closes it at once (as if its first button were pressed);
// false leaves it to the hook's owner to close it later.
using DialogHook = std::function<bool(const ShownDialog&)>;

// Installs hook (empty: none) and returns the previous one.
DialogHook SetDialogHook(DialogHook hook);

// Runs a box modally; returns 1 when OK closed it, 0 otherwise.
int ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon);

// The application's exception display: the message in an error box whose
// caption is the application's name.
void ShowException(const QString& message);

// Throws std::logic_error off the GUI thread: every dialog function starts
// with it.
void RequireGuiThread();

// Shows a prepared dialog through the hook and runs it modally; returns its
// result. For dialog builders of the platform layer.
int RunModalDialog(QDialog& dialog, const ShownDialog& shown);

// Test helper: records every dialog, closes it at once, and restores the
// previous hook when it goes.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    // Called for each dialog after it was recorded (for example to act on
    // the program while a box is up); the dialog is closed afterwards.
    std::function<void(const ShownDialog&)> OnShown;

    const std::vector<ShownDialog>& Shown() const noexcept { return shown_; }
    void Clear() { shown_.clear(); }

private:
    std::vector<ShownDialog> shown_;
    DialogHook previous_;
};
