#include "ApplicationStart.h"

#include "AppTexts.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Kept apart from the application name: the version the package carries.
constexpr const char* ProgramVersion = KSN_PROGRAM_VERSION;

QStringList Arguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

// --help and --version end the program here; anything else is Qt's or
// ignored, as it always was.
void HandleHelpAndVersion(int& argc, char** argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The operator's measuring utility for the KSN48 8-channel ADC module.\n"
                       "Finds the crates and modules the crate server on 127.0.0.1:11111 reports,\n"
                       "measures voltage, frequency and phase of every enabled channel and keeps\n"
                       "the operator's choices in Ksn48_Vevu.ini (see the manual page).\n"
                       "Qt's own options (-platform, -style, ...) are accepted as well."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Unknown options are Qt's own or were always ignored: no error here.
    parser.parse(Arguments(argc, argv));
    if (!parser.isSet(help) && !parser.isSet(version) &&
        !parser.isSet(QStringLiteral("help-all"))) {
        return;
    }
    // The texts need an application object; this one needs no display.
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(AppTexts::ApplicationTitle);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ProgramVersion));
    parser.process(core);  // prints and exits for every option it knows
}

// Messages Qt gives while it starts its platform, held back until it is
// known whether the start failed (then only the one line is shown).
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

std::vector<HeldMessage>* heldMessages = nullptr;
QtMessageHandler previousHandler = nullptr;
std::string programName;

std::string NoDisplayLine()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const QByteArray display = qgetenv("DISPLAY");
    std::string line = programName + ": ";
    if (!platform.isEmpty() && !platform.startsWith("xcb")) {
        line += "the window cannot be shown: Qt's platform \"" + platform.toStdString() +
                "\" does not start";
    } else if (display.isEmpty()) {
        line += "no display to show the window on (DISPLAY is not set)";
    } else {
        line += "cannot open the display \"" + display.toStdString() + "\" to show the window on";
    }
    return line + '\n';
}

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        // Qt gives up on its platform and would abort.
        std::fputs(NoDisplayLine().c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldMessages->push_back({type, QByteArray(context.category ? context.category : ""), text});
}

// Holds Qt's messages back while it is in place; passes them on when the
// application object has come up.
class StartupMessages {
public:
    explicit StartupMessages(const char* argv0)
    {
        programName = QFileInfo(QString::fromLocal8Bit(argv0)).fileName().toStdString();
        heldMessages = &held_;
        previousHandler = qInstallMessageHandler(StartupMessageHandler);
    }
    ~StartupMessages()
    {
        qInstallMessageHandler(previousHandler);
        heldMessages = nullptr;
        for (const HeldMessage& message : held_) {
            const QMessageLogContext context(
                nullptr, 0, nullptr,
                message.category.isEmpty() ? nullptr : message.category.constData());
            qt_message_output(message.type, context, message.text);
        }
    }
    StartupMessages(const StartupMessages&) = delete;
    StartupMessages& operator=(const StartupMessages&) = delete;

private:
    std::vector<HeldMessage> held_;
};

}  // namespace

std::unique_ptr<TApplication> StartApplication(int& argc, char** argv)
{
    HandleHelpAndVersion(argc, argv);
    auto application = [&] {
        const StartupMessages startup(argc > 0 ? argv[0] : "ksn48_vevu");
        return std::make_unique<TApplication>(argc, argv);
    }();
    // The desktop entry's name, which shells that take a window's icon
    // from its entry (Wayland) go by.
    QGuiApplication::setDesktopFileName(QStringLiteral("ksn48-vevu"));
    return application;
}
