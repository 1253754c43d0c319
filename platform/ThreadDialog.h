#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QDialog;
class QWidget;

// The orange dialog through which a thread reports its first failure: the
// error kind of message dialog, reshaped to 570 pixels, white 12-point text
// on orange, the text wrapped, the buttons centred under it, the dialog
// centred over the main window.

inline const QString ThreadDialogButtonCaption = QStringLiteral("Принято");

struct ThreadDialogOptions {
    QStringList buttons{ThreadDialogButtonCaption};
    // Lower bound of the button width; 0 for none.
    int minButtonWidth = 100;
};

// Where the reshaped dialog's parts went, in pixels. frame is the outer
// geometry (caption and frame included) in screen coordinates; label and
// buttons are in the dialog's client coordinates.
struct ThreadDialogGeometry {
    QRect frame;
    QRect label;
    std::vector<QRect> buttons;
};

// Builds the dialog without showing it. mainWindow may be null (then the
// dialog is centred on the work area).
std::unique_ptr<QDialog> BuildThreadDialog(const QWidget* mainWindow, const QString& caption,
                                           const QString& text, const ThreadDialogOptions& options,
                                           ThreadDialogGeometry* geometry = nullptr);

// Builds and runs the dialog modally on the GUI thread, with the
// application's shortcut handler detached meanwhile. Returns 1 + the index of
// the button that closed it, 0 when it was closed otherwise.
int ShowThreadDialog(const QWidget* mainWindow, const QString& caption, const QString& text,
                     const ThreadDialogOptions& options = {});
