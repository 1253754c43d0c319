// ksn48-verify: a KSN48 module verified against a test plan, with a report.
#include "ToolSupport.h"
#include "VerifyMain.h"
#include "VerifyTexts.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    tool::SetProgramName(ReportText::ProgramName);
    const verify::ParsedVerifyLine parsed =
        verify::ParseVerifyLine(argc, argv, std::cout, std::cerr);
    if (!parsed.Options) {
        return parsed.ExitCode;
    }
    return verify::RunVerification(*parsed.Options, argc, argv, std::cerr);
}
