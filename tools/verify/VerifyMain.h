#pragma once

#include "VerifyRun.h"

#include <optional>
#include <ostream>

namespace verify {

struct ParsedVerifyLine {
    std::optional<VerifyOptions> Options;  // empty: end with ExitCode
    int ExitCode = ExitPass;
};

// The command line; help and version go to out, usage errors to err.
ParsedVerifyLine ParseVerifyLine(int argc, const char* const* argv, std::ostream& out,
                                 std::ostream& err);

// The whole verification: the plan checked, the module measured, the report
// written. Needs argc/argv for the Qt application that writes the PDF.
int RunVerification(const VerifyOptions& options, int& argc, char** argv, std::ostream& err);

}  // namespace verify
