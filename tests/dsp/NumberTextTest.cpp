#include "NumberText.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

// glibc's setlocale keeps the search list it builds from LOCPATH for good;
// the leak checker of sanitizer builds is told that this one is not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:__argz_add_sep\n";
}

namespace {

using NumberText::FormatFloat;
using NumberText::StrToFloat;

struct FormatCase {
    const char* pattern;
    double value;
    const char* expected;
};

const FormatCase FormatCases[] = {
    {"0.000", 1.0, "1.000"},
    {"0.00", 707.1067811865476, "707.11"},
    {"0.00000", 1.0, "1.00000"},
    {"0.0", 937.5, "937.5"},
    {"0.0", 800.0, "800.0"},
    {"0.", 12.0, "12"},
    {"0.", 12.5, "13"},
    {"0.", -12.5, "-13"},
    {"0", 7.4, "7"},
    {"00.0", 3.14, "03.1"},
    {"0.00", 0.125, "0.13"},  // halves round away from zero
    {"0.00", 2.675, "2.68"},  // as written, although the double lies below
    {"0.00", -2.675, "-2.68"},
    {"0.00", 0.995, "1.00"},
    {"0.0", 9.96, "10.0"},  // carry into a new digit
    {"0.0", 99.96, "100.0"},
    {"0.00", 0.005, "0.01"},
    {"0.00", 0.0049, "0.00"},
    {"0.00", -0.004, "0.00"},  // no minus sign on a zero
    {"0.000", -0.0, "0.000"},
    {"0.000", 1.5e-7, "0.000"},
    {"0.000", 160.0, "160.000"},
    {"0.000", -179.0, "-179.000"},
    {"0.000", 150.0, "150.000"},
    {"0.0000000000", 1.0 / 3.0, "0.3333333333"},
    {"0.0", 1e20, "100000000000000000000.0"},
    {"0.00", 123456789.987, "123456789.99"},
    {"0.00", std::numeric_limits<double>::quiet_NaN(), "NAN"},
    {"0.00", std::numeric_limits<double>::infinity(), "INF"},
    {"0.00", -std::numeric_limits<double>::infinity(), "-INF"},
};

struct ParseCase {
    const char* text;
    double value;
};

const ParseCase GoodNumbers[] = {
    {"1.5", 1.5},       {" -2.25 ", -2.25}, {"+3", 3.0},        {"1e3", 1000.0},
    {"5.", 5.0},        {".5", 0.5},        {"0.000001", 1e-6}, {"1E-2", 0.01},
    {"\t42\r\n", 42.0}, {"-0", -0.0},       {"2.5e+1", 25.0},   {"0.70711", 0.70711},
};

const char* const BadNumbers[] = {
    "",   " ",   "1,5", "abc", "1.5x",  "x1.5", "nan", "inf", "-inf",  "0x10",
    "1e", "1e+", "--1", "+-1", "1.2.3", ".",    "-",   "1 2", "1e999", "1.5\n2",
};

void ExpectFormatsAndParses()
{
    for (const FormatCase& c : FormatCases) {
        EXPECT_EQ(FormatFloat(c.pattern, c.value), c.expected) << c.pattern << " " << c.value;
    }
    for (const ParseCase& c : GoodNumbers) {
        EXPECT_EQ(StrToFloat(c.text), c.value) << '"' << c.text << '"';
    }
    for (const char* text : BadNumbers) {
        EXPECT_THROW(StrToFloat(text), EConvertError) << '"' << text << '"';
    }
}

TEST(NumberText, FormatsAndParsesWithPoint)
{
    ExpectFormatsAndParses();
}

TEST(NumberText, FormatsIntoACallersRange)
{
    for (const FormatCase& c : FormatCases) {
        const std::size_t room = NumberText::FormatFloatMaxLength(c.pattern);
        std::string buffer(room, '#');
        char* end =
            NumberText::FormatFloatTo(buffer.data(), buffer.data() + room, c.pattern, c.value);
        ASSERT_NE(end, nullptr) << c.pattern << " " << c.value;
        EXPECT_EQ(std::string(buffer.data(), end), c.expected) << c.pattern << " " << c.value;
        // One character short of the text does not fit; exactly the text's
        // length may still need room for a carry that did not happen.
        const std::size_t length = std::strlen(c.expected);
        EXPECT_EQ(NumberText::FormatFloatTo(buffer.data(), buffer.data() + length - 1, c.pattern,
                                            c.value),
                  nullptr)
            << c.pattern << " " << c.value;
    }
    // The bound holds at the extremes of a double.
    const double max = std::numeric_limits<double>::max();
    for (const char* pattern : {"0.", "0.0000000000", "000.00"}) {
        for (const double value : {max, -max, std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::denorm_min(), -9.99999e307}) {
            const std::string text = FormatFloat(pattern, value);
            EXPECT_LE(text.size(), NumberText::FormatFloatMaxLength(pattern)) << pattern;
            std::string buffer(NumberText::FormatFloatMaxLength(pattern), '#');
            char* end = NumberText::FormatFloatTo(buffer.data(), buffer.data() + buffer.size(),
                                                  pattern, value);
            ASSERT_NE(end, nullptr);
            EXPECT_EQ(std::string(buffer.data(), end), text);
        }
    }
    EXPECT_THROW(NumberText::FormatFloatMaxLength("#.##"), std::invalid_argument);
}

TEST(NumberText, BadPatternsAreRefused)
{
    for (const char* pattern : {"", ".00", "#.##", "0,00", "0.0x", "0.00.0", "x"}) {
        EXPECT_THROW(FormatFloat(pattern, 1.0), std::invalid_argument) << pattern;
    }
}

TEST(NumberText, ConversionErrorIsARuntimeError)
{
    try {
        StrToFloat("12,5");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("12,5"), std::string::npos);
    }
    double value = 7.0;
    EXPECT_FALSE(NumberText::TryStrToFloat("12,5", value));
    EXPECT_EQ(value, 7.0);
    EXPECT_TRUE(NumberText::TryStrToFloat("12.5", value));
    EXPECT_EQ(value, 12.5);
}

// Switches the process to a locale whose decimal separator is a comma: an
// installed one, else one generated into a scratch directory.
class CommaLocale : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "ru_RU.utf8"}) {
            if (TrySwitch(name)) {
                return;
            }
        }
        std::error_code ec;
        dir_ =
            std::filesystem::temp_directory_path(ec) / ("ksn-locale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_, ec);
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (dir_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (!ec && std::system(command.c_str()) == 0) {
            ::setenv("LOCPATH", dir_.c_str(), 1);
            if (TrySwitch("de_DE.UTF-8")) {
                return;
            }
        }
        GTEST_SKIP() << "no locale with a decimal comma is installed and localedef could not "
                        "make one (install the 'locales' package)";
    }

    void TearDown() override
    {
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        ::unsetenv("LOCPATH");
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    bool TrySwitch(const char* name)
    {
        if (std::setlocale(LC_ALL, name) == nullptr) {
            return false;
        }
        if (std::string(std::localeconv()->decimal_point) != ",") {
            std::setlocale(LC_ALL, "C");
            return false;
        }
        try {
            std::locale::global(std::locale(name));
        } catch (const std::runtime_error&) {
            // The C locale is switched; that is what printf-style code reads.
        }
        return true;
    }

    std::filesystem::path dir_;
};

TEST_F(CommaLocale, NumbersKeepThePoint)
{
    // The locale is really in force: the C library now writes a comma.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    ASSERT_STREQ(buf, "2,5");

    ExpectFormatsAndParses();
    EXPECT_EQ(FormatFloat("0.0", 937.5), "937.5");
    EXPECT_THROW(StrToFloat("2,5"), EConvertError);
}

}  // namespace
