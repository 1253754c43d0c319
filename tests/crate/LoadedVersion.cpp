// Prints the file and file version of the crate libraries this process
// loaded, one line each: "<path> <major.minor.release.build|none>".
// Used by tests to show which library files LD_LIBRARY_PATH selects.

#include <iostream>

#include "FileVersion.h"
#include "ksn48api.h"
#include "ksnapi.h"

int main()
{
    const void* symbols[] = {reinterpret_cast<const void*>(&KSN_Init),
                             reinterpret_cast<const void*>(&KSN48_Init)};
    for (const void* s : symbols) {
        const std::string path = LoadedFilePath(s);
        const auto v = ReadFileVersion(path);
        std::cout << path << ' ';
        if (v) {
            std::cout << v->major << '.' << v->minor << '.' << v->release << '.' << v->build
                      << '\n';
        } else {
            std::cout << "none\n";
        }
    }
    return 0;
}
