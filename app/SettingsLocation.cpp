#include "SettingsLocation.h"

#include "InstallDirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

// The per-user folder's name: the one Qt's own application configuration
// location gives this program.
constexpr auto UserFolderName = "KSN48_Vevu";

bool SameFolder(const QString& a, const QString& b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (canonicalA.isEmpty() || canonicalB.isEmpty()) {
        return QDir::cleanPath(a) == QDir::cleanPath(b);
    }
    return canonicalA == canonicalB;
}

bool Writable(const QString& directory)
{
    // access() answers for this user, a read-only file system included.
    return !directory.isEmpty() && ::access(QFile::encodeName(directory).constData(), W_OK) == 0;
}

}  // namespace

namespace SettingsLocation {

QString Choose(const QString& programDirectory, bool programDirectoryWritable,
               const QString& installedProgramDirectory, const QString& userDirectory)
{
    // Even root, who may write into /usr/bin, keeps no file there.
    if (programDirectoryWritable && !SameFolder(programDirectory, installedProgramDirectory)) {
        return programDirectory;
    }
    return userDirectory;
}

QString UserDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(UserFolderName);
}

QString InstalledProgramDirectory()
{
    return QStringLiteral(KSN_INSTALL_BINDIR);
}

QString DirectoryFor(const QString& programDirectory)
{
    const QString directory = Choose(programDirectory, Writable(programDirectory),
                                     InstalledProgramDirectory(), UserDirectory());
    if (directory != programDirectory) {
        // A folder that cannot be made shows later as the settings file
        // that cannot be created.
        QDir().mkpath(directory);
    }
    return directory;
}

QString Directory()
{
    return DirectoryFor(QCoreApplication::applicationDirPath());
}

}  // namespace SettingsLocation
