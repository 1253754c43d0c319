#include "Program.h"

#include "AppTexts.h"
#include "MessageBox.h"
#include "ScreenMetrics.h"

#include <QWidget>

#include <exception>

namespace {

constexpr int MinScreenWidth = 1280;
constexpr int MinScreenHeight = 768;

void ShowCurrentException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QString());
    }
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

bool ScreenIsLargeEnough(int width, int height)
{
    return width >= MinScreenWidth && height >= MinScreenHeight;
}

int RunProgram(QApplication& app, const MainFormFactory& createForm)
{
    try {
        QApplication::setApplicationName(AppTexts::ApplicationTitle);
        const QSize screen = Screen().ScreenSize();
        if (ScreenIsLargeEnough(screen.width(), screen.height())) {
            std::unique_ptr<QWidget> form = createForm();
            if (form) {
                form->show();
                app.exec();
            }
        } else {
            ShowMessageBox(AppTexts::ScreenTooSmall, AppTexts::ScreenTooSmallCaption,
                           MessageIcon::None);
        }
    } catch (...) {
        ShowCurrentException();
    }
    return 0;
}
