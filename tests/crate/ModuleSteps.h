#pragma once
// Small steps shared by the integration tests of the module API.

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "ksn48api.h"

namespace ksn::test {

inline int OpenModule(Ksn48Handle& h, const char* crate, int slot)
{
    KSN48_Init(&h);
    return KSN48_Open(&h, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, crate, slot);
}

// Writes the configuration fields the way the program does, then applies them.
inline int Configure(Ksn48Handle& h, uint8_t mask, uint8_t rateCode, uint8_t format,
                     uint8_t current = 0)
{
    for (int c = 0; c < 8; ++c) {
        h.Channel[c].ChannelEnabled = (mask >> c) & 1;
    }
    h.RateCode = rateCode;
    h.DataFormat = format;
    h.CurrentSource = current;
    return KSN48_SetADC(&h);
}

inline int EnabledCount(const Ksn48Handle& h)
{
    int n = 0;
    for (const auto& c : h.Channel) {
        n += c.ChannelEnabled == 1;
    }
    return n;
}

// One frame as the measurement does it: start, receive in blocks, stop.
// Returns the raw words, empty with a test failure on any error.
inline std::vector<uint32_t> ReceiveFrame(Ksn48Handle& h, uint32_t words, uint32_t block)
{
    std::vector<uint32_t> raw(words);
    EXPECT_EQ(KSN48_Start(&h), KSN_OK);
    EXPECT_NE(h.AcquisitionRunning, 0);
    uint32_t got = 0;
    while (got < words) {
        const uint32_t ask = std::min(block, words - got);
        const int r = KSN48_Recv(&h, raw.data() + got, nullptr, ask, 5000);
        if (r != static_cast<int>(ask)) {
            ADD_FAILURE() << "KSN48_Recv gave " << r << " (" << KSN_ErrorName(r) << ") for " << ask;
            KSN48_Stop(&h);
            return {};
        }
        got += ask;
    }
    EXPECT_EQ(KSN48_Stop(&h), KSN_OK);
    EXPECT_EQ(h.AcquisitionRunning, 0);
    return raw;
}

}  // namespace ksn::test
