// ksn48-measure: the measurement of the KSN48_Vevu window without a window.
#include "CrateListing.h"
#include "ToolOptions.h"
#include "ToolRun.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // A reader that has gone and a file size limit are errors the results log
    // reports, not signals that end the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const tool::ParsedCommandLine parsed = tool::ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.Options) {
        return parsed.ExitCode;
    }
    if (parsed.Options->List) {
        return tool::RunList(parsed.Options->Json, std::cout, std::cerr);
    }
    return tool::RunMeasurement(*parsed.Options, std::cerr);
}
