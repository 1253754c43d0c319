#pragma once

#include <QApplication>

#include <functional>
#include <memory>

class QWidget;

// The application object of the program: an exception that escapes an event
// handler is shown in the exception display instead of ending the process.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

using MainFormFactory = std::function<std::unique_ptr<QWidget>()>;

// The program entry after the application object exists: names the
// application, refuses screens below 1280 x 768, creates the main window
// through createForm, shows it and runs the message loop until it closes.
// Every exception is shown (a non-standard one with an empty text). Always
// returns 0.
int RunProgram(QApplication& app, const MainFormFactory& createForm);

// The screen check of the entry (both bounds inclusive).
bool ScreenIsLargeEnough(int width, int height);
