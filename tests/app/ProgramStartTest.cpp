// The program as a user starts it: its command line, a missing display, and
// where the started program keeps its settings file.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <ostream>

namespace {

const QString Program = QStringLiteral(KSN48_VEVU_PATH);
const QString SettingsFileName = QStringLiteral("Ksn48_Vevu.ini");
constexpr uid_t Nobody = 65534;

struct Outcome {
    bool exitedNormally = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// The environment of a session without any display.
QProcessEnvironment WithoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QString::fromLatin1(name));
    }
    return env;
}

Outcome RunProgram(const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(Program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.exitedNormally = process.exitStatus() == QProcess::NormalExit;
    outcome.exitCode = process.exitCode();
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

struct TextCase {
    const char* argument;
    const char* expectedInOut;
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.argument;
}

class HelpAndVersion : public ::testing::TestWithParam<TextCase> {};

TEST_P(HelpAndVersion, PrintAndEndWithoutADisplay)
{
    const Outcome outcome =
        RunProgram({QString::fromLatin1(GetParam().argument)}, WithoutDisplay());
    ASSERT_TRUE(outcome.exitedNormally) << outcome.err.toStdString();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(outcome.out.contains(QString::fromUtf8(GetParam().expectedInOut)))
        << outcome.out.toStdString();
    EXPECT_TRUE(outcome.err.isEmpty()) << outcome.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, HelpAndVersion,
    ::testing::Values(TextCase{"--help", "-v, --version"}, TextCase{"-h", "Ksn48_Vevu.ini"},
                      TextCase{"--version", "KSN48_Vevu " KSN_PROGRAM_VERSION "\n"},
                      TextCase{"-v", "KSN48_Vevu " KSN_PROGRAM_VERSION "\n"}));

// A display number nobody serves.
QString UnservedDisplay()
{
    for (int n = 900; n < 1000; ++n) {
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))) {
            return QStringLiteral(":%1").arg(n);
        }
    }
    return QStringLiteral(":999");
}

TEST(NoDisplay, TheProgramSaysSoInOneLineAndEndsWith1)
{
    struct Case {
        const char* what;
        QString display;  // empty: not set
        QString expected;
    };
    const QString unserved = UnservedDisplay();
    const Case cases[] = {
        {"DISPLAY not set", QString(), QStringLiteral("no display to show the window on")},
        {"no X server", unserved, QStringLiteral("cannot open the display \"%1\"").arg(unserved)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QProcessEnvironment env = WithoutDisplay();
        if (!c.display.isEmpty()) {
            env.insert(QStringLiteral("DISPLAY"), c.display);
        }
        const Outcome outcome = RunProgram({}, env);
        ASSERT_TRUE(outcome.exitedNormally) << "ended by a signal: " << outcome.err.toStdString();
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_TRUE(outcome.out.isEmpty()) << outcome.out.toStdString();
        EXPECT_EQ(outcome.err.count(QLatin1Char('\n')), 1) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.startsWith(QStringLiteral("ksn48_vevu: ")))
            << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains(c.expected)) << outcome.err.toStdString();
    }
}

// The program started for real (offscreen, no crate server) from a folder
// of its own, until its start-up detection has made the settings file.
class SettingsFileOfTheProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programFolder.isValid() && home.isValid());
        program = programFolder.filePath(QStringLiteral("ksn48_vevu"));
        ASSERT_TRUE(QFile::copy(Program, program));
        config = home.filePath(QStringLiteral("config"));
        ASSERT_TRUE(QDir().mkpath(config));
    }

    // Starts the copy, as the user `uid` when given, and waits until the
    // file `expected` exists; false when it never comes.
    bool StartAndWaitFor(const QString& expected, std::optional<uid_t> uid = std::nullopt)
    {
        QProcessEnvironment env = WithoutDisplay();
        QString screens = QStringLiteral(KSN_OFFSCREEN_CONFIG);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("HOME"), home.path());
        // A port where no crate server answers: detection fails after the
        // settings file is made, and no server of the machine is touched.
        env.insert(QStringLiteral("KSN_CRATE_PORT"), QStringLiteral("1"));
        if (uid) {
            // The build's libraries and the screens file may lie in a folder
            // that user cannot enter (a checkout in a private folder):
            // copies beside the program's copy serve instead.
            const QString libraries = programFolder.filePath(QStringLiteral("lib"));
            if (!QDir().mkpath(libraries)) {
                ADD_FAILURE() << "cannot make " << libraries.toStdString();
                return false;
            }
            const QDir built(QFileInfo(Program).dir().filePath(QStringLiteral("../lib")));
            for (const QString& name :
                 {QStringLiteral("libksnapi.so"), QStringLiteral("libksn48api.so")}) {
                const QString copy = libraries + QLatin1Char('/') + name;
                if (!QFile::exists(copy) && !QFile::copy(built.filePath(name), copy)) {
                    ADD_FAILURE() << "cannot copy " << built.filePath(name).toStdString();
                    return false;
                }
            }
            env.insert(QStringLiteral("LD_LIBRARY_PATH"), libraries);
            const QString screensCopy = programFolder.filePath(QStringLiteral("screens.json"));
            if (!QFile::exists(screensCopy) && !QFile::copy(screens, screensCopy)) {
                ADD_FAILURE() << "cannot copy " << screens.toStdString();
                return false;
            }
            screens = screensCopy;
        }
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   QStringLiteral("offscreen:configfile=") + screens);
        QProcess process;
        process.setProcessEnvironment(env);
        if (uid) {
            process.setChildProcessModifier([id = *uid] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) {
                    ::_exit(125);
                }
            });
        }
        process.start(program, {});
        if (!process.waitForStarted(10000)) {
            ADD_FAILURE() << "cannot start " << program.toStdString();
            return false;
        }
        const QDeadlineTimer deadline(60000);
        bool found = false;
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            if (QFileInfo::exists(expected)) {
                found = true;
                break;
            }
            QThread::msleep(50);
        }
        const QByteArray err = process.readAllStandardError();
        process.kill();
        process.waitForFinished();
        if (!found) {
            ADD_FAILURE() << expected.toStdString()
                          << " never appeared; the program said: " << err.toStdString();
        }
        return found;
    }

    QTemporaryDir programFolder;
    QTemporaryDir home;
    QString program;
    QString config;
};

TEST_F(SettingsFileOfTheProgram, AProgramInAWritableFolderKeepsItNextToItself)
{
    EXPECT_TRUE(StartAndWaitFor(programFolder.filePath(SettingsFileName)));
    EXPECT_TRUE(QDir(config).isEmpty()) << "nothing in the per-user folder";
}

TEST_F(SettingsFileOfTheProgram, AProgramInAFolderTheUserCannotWriteKeepsItInTheUserFolder)
{
    // Root writes into any folder: the program then runs as an unprivileged
    // user, who may read and run it but not write beside it.
    const bool asRoot = ::geteuid() == 0;
    ASSERT_EQ(::chmod(QFile::encodeName(programFolder.path()).constData(), 0755), 0);
    if (asRoot) {
        for (const QString& path : {home.path(), config}) {
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), Nobody, Nobody), 0);
        }
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(programFolder.path()).constData(), 0555), 0);
    }
    const QString expected = config + QStringLiteral("/KSN48_Vevu/") + SettingsFileName;
    EXPECT_TRUE(StartAndWaitFor(expected, asRoot ? std::optional<uid_t>(Nobody) : std::nullopt));
    EXPECT_FALSE(QFileInfo::exists(programFolder.filePath(SettingsFileName)));
    ::chmod(QFile::encodeName(programFolder.path()).constData(), 0755);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
