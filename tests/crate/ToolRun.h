#pragma once
// Runs one of the crate system's programs as a user would from a shell.

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace ksn::test {

struct ToolRun {
    int exitCode;
    std::string output;  // stdout and stderr
};

// Runs program (a path) with args (shell words) and collects what it prints.
inline ToolRun RunTool(const std::string& program, const std::string& args)
{
    std::string command(1, '\'');
    command += program;
    command += "' ";
    command += args;
    command += " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ToolRun r{-1, {}};
    if (!p) {
        return r;
    }
    char buf[1024];
    while (fgets(buf, sizeof buf, p)) {
        r.output += buf;
    }
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace ksn::test
