#include "ApplicationStart.h"
#include "InitAndConfigThread.h"
#include "MainForm.h"
#include "MainFormMeasurementView.h"
#include "MainThread.h"
#include "Program.h"
#include "SpectrumPage.h"
#include "ksn48api.h"

#include <cstdint>
#include <memory>

int main(int argc, char** argv)
{
    // --help, --version and a missing display end the program here.
    const std::unique_ptr<TApplication> app = StartApplication(argc, argv);
    MainFormSetup setup;
    setup.InitThread = [](TMainForm& form, bool firstStart, int mode) -> std::unique_ptr<TThread> {
        return std::make_unique<TInitAndConfigThread>(form, firstStart, mode);
    };
    setup.ModuleIsOpened = &KSN48_IsOpened;
    setup.ModuleClose = &KSN48_Close;
    setup.MainThread = [](TMainForm& form, std::uint16_t page) {
        return std::make_unique<TMainThread>(false, page,
                                             std::make_unique<TMainFormMeasurementView>(form));
    };
    setup.SpectrumPage = &MakeSpectrumPage;
    return RunProgram(*app, [&setup] { return std::make_unique<TMainForm>(setup); });
}
