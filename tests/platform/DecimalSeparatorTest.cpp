#include "DecimalSeparator.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Switches LC_NUMERIC to a locale with a decimal comma, building one into a
// temporary folder when the system has none installed.
bool UseCommaLocale()
{
    for (const char* name : {"de_DE.UTF-8", "ru_RU.UTF-8", "de_DE.utf8", "ru_RU.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            return true;
        }
    }
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ksn-test-locales";
    std::filesystem::create_directories(dir);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !std::filesystem::exists(dir / "de_DE.UTF-8")) {
        return false;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    const bool ok = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    return ok;
}

TEST(DecimalSeparator, DotWhateverTheDesktopLocale)
{
    if (!UseCommaLocale()) {
        GTEST_SKIP() << "no locale with a decimal comma can be made here";
    }
    ASSERT_EQ(DecimalSeparator(), ',');
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", 1.5);
    EXPECT_STREQ(text, "1,500");

    SetDecimalSeparatorDot();
    EXPECT_EQ(DecimalSeparator(), '.');
    std::snprintf(text, sizeof text, "%.3f", 1.5);
    EXPECT_STREQ(text, "1.500");
    EXPECT_DOUBLE_EQ(std::strtod("2.25", nullptr), 2.25);
}

}  // namespace
