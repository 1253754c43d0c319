#include "SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ChoiceCase {
    const char* what;
    QString program;
    bool writable;
    QString installed;
    bool expectProgramFolder;
};

TEST(SettingsLocation, ChoosesTheProgramFolderOnlyWhenWritableAndNotTheInstalledOne)
{
    QTemporaryDir programs;
    QTemporaryDir other;
    ASSERT_TRUE(programs.isValid() && other.isValid());
    // The installed programs' folder reached through a link (/bin -> /usr/bin).
    const QString link = other.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QFile::link(programs.path(), link));
    const QString user = QStringLiteral("/home/operator/.config/KSN48_Vevu");
    const ChoiceCase cases[] = {
        {"build tree", other.path(), true, programs.path(), true},
        {"folder not writable", other.path(), false, programs.path(), false},
        {"installed folder, writable (root)", programs.path(), true, programs.path(), false},
        {"installed folder with a trailing slash", programs.path() + QLatin1Char('/'), true,
         programs.path(), false},
        {"installed folder through a link", link, true, programs.path(), false},
        {"installed folder, not writable", programs.path(), false, programs.path(), false},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.what);
        const QString chosen = SettingsLocation::Choose(c.program, c.writable, c.installed, user);
        EXPECT_EQ(chosen, c.expectProgramFolder ? c.program : user);
    }
}

class SettingsLocationFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }
    void TearDown() override
    {
        if (saved.isNull()) {
            qunsetenv("XDG_CONFIG_HOME");
        } else {
            qputenv("XDG_CONFIG_HOME", saved);
        }
    }

    QTemporaryDir config;
    QByteArray saved;
};

TEST_F(SettingsLocationFolders, TheUserFolderIsUnderXdgConfigHome)
{
    EXPECT_EQ(SettingsLocation::UserDirectory(), config.filePath(QStringLiteral("KSN48_Vevu")));
}

TEST_F(SettingsLocationFolders, AWritableProgramFolderKeepsTheFileAndMakesNoUserFolder)
{
    QTemporaryDir program;
    EXPECT_EQ(SettingsLocation::DirectoryFor(program.path()), program.path());
    EXPECT_TRUE(QDir(config.path()).isEmpty());
}

TEST_F(SettingsLocationFolders, TheInstalledProgramsFolderGivesTheUserFolderMadeWhenMissing)
{
    const QString expected = config.filePath(QStringLiteral("KSN48_Vevu"));
    EXPECT_EQ(SettingsLocation::DirectoryFor(SettingsLocation::InstalledProgramDirectory()),
              expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
    // A second start finds it there.
    EXPECT_EQ(SettingsLocation::DirectoryFor(SettingsLocation::InstalledProgramDirectory()),
              expected);
}

}  // namespace
