#include "ApplicationStart.h"
#include "Program.h"
#include "ProgramThreads.h"
#include "SpectrumPage.h"

#include <memory>

int main(int argc, char** argv)
{
    // --help, --version and a missing display end the program here.
    const std::unique_ptr<TApplication> app = StartApplication(argc, argv);
    MainFormSetup setup = ProgramThreads();
    setup.SpectrumPage = &MakeSpectrumPage;
    return RunProgram(*app, [&setup] { return std::make_unique<TMainForm>(setup); });
}
