#pragma once

#include <QString>

// Where the program keeps its settings file (Ksn48_Vevu.ini).
//
// Next to the executable when the operator may write into that folder and
// it is not the folder the package installs programs into: a program run
// from its build tree or copied into a folder of its own. Otherwise (an
// installed program, /usr/bin) the per-user configuration folder
// $XDG_CONFIG_HOME/KSN48_Vevu (~/.config/KSN48_Vevu), made when missing.
namespace SettingsLocation {

// The folder for the running program.
QString Directory();

// The folder for a program in programDirectory (made when it is the
// per-user one).
QString DirectoryFor(const QString& programDirectory);

// The rule alone: programDirectory when writable and not the installed
// programs' folder, else userDirectory.
QString Choose(const QString& programDirectory, bool programDirectoryWritable,
               const QString& installedProgramDirectory, const QString& userDirectory);

// The per-user folder: $XDG_CONFIG_HOME (or ~/.config) + "/KSN48_Vevu".
QString UserDirectory();

// The folder the package installs programs into (/usr/bin).
QString InstalledProgramDirectory();

}  // namespace SettingsLocation
