#include "CommaLocale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <unistd.h>

namespace ksn::test {

namespace {

bool SwitchTo(const char* name)
{
    if (std::setlocale(LC_NUMERIC, name) == nullptr) {
        return false;
    }
    if (std::strcmp(std::localeconv()->decimal_point, ",") != 0) {
        std::setlocale(LC_NUMERIC, "C");
        return false;
    }
    return true;
}

}  // namespace

CommaLocale::CommaLocale()
{
    for (const char* name : {"de_DE.UTF-8", "ru_RU.UTF-8", "de_DE.utf8", "ru_RU.utf8"}) {
        if (SwitchTo(name)) {
            active_ = true;
            return;
        }
    }
    std::error_code ec;
    dir_ = std::filesystem::temp_directory_path(ec) /
           ("ksn-comma-locale-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_, ec);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (!ec && std::system(command.c_str()) == 0) {
        ::setenv("LOCPATH", dir_.c_str(), 1);
        active_ = SwitchTo("de_DE.UTF-8");
        ::unsetenv("LOCPATH");
    }
}

CommaLocale::~CommaLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

}  // namespace ksn::test
