// Record layout of the C headers, as C and C++ callers see it.

#include <cstddef>
#include <set>
#include <string>
#include <gtest/gtest.h>

#include "ksn48api.h"
#include "ksnapi.h"

extern "C" {
extern const size_t ksn_c_layout[];
extern const size_t ksn_c_layout_count;
const char* ksn_c_error_name(int code);
}

namespace {

TEST(Layout, CAndCxxAgreeOnTheFixedOffsets)
{
    struct Expected {
        const char* field;
        size_t cxx;
        size_t fixed;
    };
    const Expected table[] = {
        {"sizeof KsnCrateLink", sizeof(KsnCrateLink), 36},
        {"KsnCrateLink.CrateSerial", offsetof(KsnCrateLink, CrateSerial), 6},
        {"KsnCrateLink.Channel", offsetof(KsnCrateLink, Channel), 22},
        {"sizeof KsnCrateInfo", sizeof(KsnCrateInfo), 8},
        {"KsnCrateInfo.CrateType", offsetof(KsnCrateInfo, CrateType), 0},
        {"ChannelEnabled[0]", offsetof(Ksn48Handle, Channel[0].ChannelEnabled), 44},
        {"ChannelEnabled[7]", offsetof(Ksn48Handle, Channel[7].ChannelEnabled), 44 + 48 * 7},
        {"RateCode", offsetof(Ksn48Handle, RateCode), 428},
        {"DataFormat", offsetof(Ksn48Handle, DataFormat), 429},
        {"CurrentSource", offsetof(Ksn48Handle, CurrentSource), 430},
        {"AcquisitionRunning", offsetof(Ksn48Handle, AcquisitionRunning), 636},
        {"ModuleName", offsetof(Ksn48Handle, ModuleName), 776},
        {"ModuleSerial", offsetof(Ksn48Handle, ModuleSerial), 784},
        {"FirmwareVersion", offsetof(Ksn48Handle, FirmwareVersion), 800},
    };
    ASSERT_EQ(ksn_c_layout_count, std::size(table));
    for (size_t i = 0; i < std::size(table); ++i) {
        EXPECT_EQ(table[i].cxx, table[i].fixed) << table[i].field;
        EXPECT_EQ(ksn_c_layout[i], table[i].fixed) << table[i].field << " (C)";
    }
}

// KSN_ERR_CANCELLED is the last code.
TEST(ErrorName, NamesEveryCodeAndNothingElse)
{
    for (int code = KSN_ERR_CANCELLED; code <= KSN_OK; ++code) {
        const std::string name = KSN_ErrorName(code);
        EXPECT_EQ(name.rfind("KSN_", 0), 0U) << code;
        EXPECT_NE(name, "KSN_ERR_UNKNOWN") << code;
        EXPECT_STREQ(ksn_c_error_name(code), name.c_str());
    }
    EXPECT_STREQ(KSN_ErrorName(KSN_ERR_TIMEOUT), "KSN_ERR_TIMEOUT");
    std::set<std::string> names;
    for (int code = KSN_ERR_CANCELLED; code <= KSN_OK; ++code) {
        EXPECT_TRUE(names.insert(KSN_ErrorName(code)).second)
            << "name given twice: " << KSN_ErrorName(code);
    }
    EXPECT_STREQ(KSN_ErrorName(1), "KSN_ERR_UNKNOWN");
    EXPECT_STREQ(KSN_ErrorName(KSN_ERR_CANCELLED - 1), "KSN_ERR_UNKNOWN");
}

}  // namespace
