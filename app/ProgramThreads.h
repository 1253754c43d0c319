#pragma once

#include "InitAndConfigThread.h"
#include "MainForm.h"
#include "MainFormMeasurementView.h"
#include "MainThread.h"
#include "ksn48api.h"

#include <QString>

#include <cstdint>
#include <memory>

// What the program installs into its window: the detection pass and the
// worker of the program itself, and the module library's calls on the
// handle. The executable and the tests that run the window as the program
// does start from it. Inline, so that the window's library itself does not
// link the module library.
inline MainFormSetup ProgramThreads(const QString& settingsDirectory = QString())
{
    MainFormSetup setup;
    setup.InitThread = [](TMainForm& form, bool firstStart, int mode) -> std::unique_ptr<TThread> {
        return std::make_unique<TInitAndConfigThread>(form, firstStart, mode);
    };
    setup.MainThread = [](TMainForm& form, std::uint16_t page) -> std::unique_ptr<TThread> {
        return std::make_unique<TMainThread>(false, page,
                                             std::make_unique<TMainFormMeasurementView>(form));
    };
    setup.ModuleIsOpened = &KSN48_IsOpened;
    setup.ModuleClose = &KSN48_Close;
    setup.SettingsDirectory = settingsDirectory;
    return setup;
}
