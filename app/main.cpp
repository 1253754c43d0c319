#include "InitAndConfigThread.h"
#include "MainForm.h"
#include "Program.h"
#include "ksn48api.h"

#include <memory>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    MainFormSetup setup;
    setup.InitThread = [](TMainForm& form, bool firstStart, int mode) -> std::unique_ptr<TThread> {
        return std::make_unique<TInitAndConfigThread>(form, firstStart, mode);
    };
    setup.ModuleIsOpened = &KSN48_IsOpened;
    setup.ModuleClose = &KSN48_Close;
    return RunProgram(app, [&setup] { return std::make_unique<TMainForm>(setup); });
}
