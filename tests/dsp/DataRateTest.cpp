#include "AdcRates.h"
#include "CrateTypes.h"
#include "DataRateBudget.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using device::CheckDataRate;

TEST(CrateTypes, NamesAndLimitsByExactCode)
{
    struct Case {
        int code;
        const char* name;
        double limit;
    };
    const Case cases[] = {
        {21, "KSN-P1", 800.0},   {10, "KSN-P2", 2000.0},   {30, "KSN-P3", 2000.0},
        {31, "KSN-P4", 2000.0},  {40, "KSN-P5", 2000.0},   {41, "KSN-P6", 2000.0},
        {0, "UNKNOWN", 2000.0},  {20, "UNKNOWN", 2000.0},  {22, "UNKNOWN", 2000.0},
        {99, "UNKNOWN", 2000.0}, {255, "UNKNOWN", 2000.0},
    };
    for (const Case& c : cases) {
        const auto code = static_cast<std::uint8_t>(c.code);
        EXPECT_EQ(device::CrateTypeName(code), c.name) << c.code;
        EXPECT_EQ(device::CrateRateLimit(code), c.limit) << c.code;
    }
}

TEST(AdcRates, CodesFrequenciesAndFixedLabels)
{
    const char* labels[] = {"    610.352", "    1220.70", "    2441.41", "    4882.81",
                            "    9765.63", "    19531.0", "    39063.0", "    78125.0"};
    for (int index = 0; index < 8; ++index) {
        const device::AdcRateEntry* entry = device::FindAdcRate(index);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->Index, index);
        EXPECT_EQ(entry->RateCode, 7 - index);
        EXPECT_EQ(entry->Frequency, 78125.0 / std::ldexp(1.0, 7 - index)) << index;
        EXPECT_EQ(entry->Label, labels[index]);
    }
    EXPECT_EQ(device::FindAdcRate(-1), nullptr);
    EXPECT_EQ(device::FindAdcRate(8), nullptr);
}

// The largest channel count each crate accepts, per rate and data width.
TEST(DataRateBudget, MaximaOfEnabledChannels)
{
    struct Case {
        double fs;
        std::uint8_t format;
        std::uint32_t maxSlow;    // crate 21, 800.0
        std::uint32_t maxOthers;  // every other code, 2000.0
    };
    const Case cases[] = {
        {78125.0, 0, 2, 6},   {78125.0, 1, 1, 3},    {39062.5, 0, 5, 8},     {39062.5, 1, 2, 6},
        {19531.25, 0, 8, 8},  {19531.25, 1, 5, 8},   {9765.625, 0, 8, 8},    {9765.625, 1, 8, 8},
        {4882.8125, 1, 8, 8}, {2441.40625, 1, 8, 8}, {1220.703125, 1, 8, 8}, {610.3515625, 1, 8, 8},
    };
    for (const Case& c : cases) {
        for (const auto& [code, expected] :
             {std::pair{21, c.maxSlow}, std::pair{10, c.maxOthers}, std::pair{99, c.maxOthers}}) {
            std::uint32_t max = 0;
            for (std::uint32_t n = 1; n <= 8; ++n) {
                if (CheckDataRate(n, c.fs, c.format, static_cast<std::uint8_t>(code), "C", "M")
                        .Passed) {
                    max = n;
                }
            }
            EXPECT_EQ(max, expected)
                << "fs=" << c.fs << " format=" << int{c.format} << " code=" << code;
        }
    }
}

TEST(DataRateBudget, RatesOfTheEdgeSettings)
{
    struct Case {
        std::uint32_t n;
        double fs;
        std::uint8_t format;
        double rate;
    };
    const Case cases[] = {
        {2, 78125.0, 0, 625.0},          {3, 78125.0, 0, 937.5},  {7, 78125.0, 0, 2187.5},
        {2, 78125.0, 1, 1250.0},         {4, 78125.0, 1, 2500.0}, {6, 39062.5, 0, 937.5},
        {1, 610.3515625, 0, 2.44140625},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(device::ModuleDataRate(c.n, c.fs, c.format), c.rate, 1e-9 * c.rate)
            << c.n << " x " << c.fs << " format " << int{c.format};
    }
}

TEST(DataRateBudget, RefusalMessageIsExact)
{
    const auto passed = CheckDataRate(2, 78125.0, 0, 21, "KSN-P1", "KSN48");
    EXPECT_TRUE(passed.Passed);
    EXPECT_TRUE(passed.Message.empty());

    const auto refused = CheckDataRate(3, 78125.0, 0, 21, "KSN-P1", "KSN48");
    EXPECT_FALSE(refused.Passed);
    EXPECT_EQ(refused.Limit, 800.0);
    EXPECT_EQ(refused.Message,
              "При выбранных параметрах сбора данных скорость передачи этой информации модулем "
              "KSN48 составляет 937.5 Кбайт/с, что превышает маскимально допустимую для крейта "
              "KSN-P1 величину 800.0 Кбайт/с !!! \nРекомендуется либо снизить частоту "
              "преобразования АЦП, либо уменьшить кол-во активных каналов, либо сократить "
              "разрядность данных!!!");

    const auto other = CheckDataRate(4, 78125.0, 1, 10, "KSN-P2", "M");
    EXPECT_FALSE(other.Passed);
    EXPECT_NE(other.Message.find("составляет 2500.0 Кбайт/с"), std::string::npos);
    EXPECT_NE(other.Message.find("крейта KSN-P2 величину 2000.0 Кбайт/с !!! "), std::string::npos);
}

TEST(DataRateBudget, RateEqualToLimitPasses)
{
    // 4 channels of 20-bit data at 50 kHz fill a crate 21 exactly.
    EXPECT_TRUE(CheckDataRate(4, 50000.0, 0, 21, "KSN-P1", "M").Passed);
    EXPECT_FALSE(CheckDataRate(4, 50000.5, 0, 21, "KSN-P1", "M").Passed);
    // Garbage in is refused, not waved through.
    EXPECT_FALSE(CheckDataRate(1, std::nan(""), 0, 21, "KSN-P1", "M").Passed);
}

}  // namespace
