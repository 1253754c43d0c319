// Crate API against a running crate server: the program's calling orders
// and the results of misuse.

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "CrateServer.h"
#include "ModuleSteps.h"
#include "ksn48api.h"
#include "ksnapi.h"

namespace {

using ksn::test::CrateServer;

class CrateApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new CrateServer(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    static CrateServer* server_;
};

CrateServer* CrateApi::server_ = nullptr;

void SetSerial(KsnCrateLink& link, const char* serial)
{
    std::strncpy(link.CrateSerial, serial, sizeof link.CrateSerial);
    link.CrateSerial[15] = 0;
}

// Calling order 1: the crate list.
TEST_F(CrateApi, ListsTheCratesInServerOrder)
{
    KsnCrateLink link;
    KSN_Init(&link);
    link.Channel = 0;
    ASSERT_EQ(KSN_Open(&link), KSN_OK);
    char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
    std::memset(list, 'x', sizeof list);  // the call must zero what it does not fill
    ASSERT_EQ(KSN_GetCrates(&link, list), KSN_OK);
    EXPECT_STREQ(list[0], "KSN5-0042");
    EXPECT_STREQ(list[1], "KSN1-0107");
    for (int i = 2; i < KSN_MAX_CRATES; ++i) {
        for (int k = 0; k < KSN_SERIAL_SIZE; ++k) {
            ASSERT_EQ(list[i][k], 0) << i;
        }
    }
    EXPECT_EQ(KSN_Close(&link), KSN_OK);
}

// Calling order 2: the crate scan, then every KSN48 slot opened on one
// handle without KSN48_Init in between.
TEST_F(CrateApi, ScanFindsTypesModulesAndOpensEveryKsn48)
{
    const struct {
        const char* serial;
        uint8_t type;
        std::vector<std::pair<int, uint16_t>> slots;
        std::vector<const char*> moduleSerials;
    } crates[] = {
        {"KSN5-0042", 40, {{1, 0x3131}, {3, 0x3030}, {5, 0x3030}}, {"4811001", "4811002"}},
        {"KSN1-0107", 21, {{1, 0x3030}, {2, 0x3232}}, {"4812001"}},
    };
    KsnCrateLink link;
    KSN_Init(&link);
    link.Channel = 0;
    Ksn48Handle h{};  // zeroed, never initialised: as the program holds it at first
    for (const auto& c : crates) {
        SetSerial(link, c.serial);
        ASSERT_EQ(KSN_Open(&link), KSN_OK) << c.serial;
        KsnCrateInfo info;
        std::memset(&info, 0xEE, sizeof info);
        ASSERT_EQ(KSN_GetCrateInfo(&link, &info), KSN_OK);
        EXPECT_EQ(info.CrateType, c.type);
        uint16_t ids[KSN_SLOT_COUNT];
        ASSERT_EQ(KSN_GetCrateModules(&link, ids), KSN_OK);
        ASSERT_EQ(KSN_Close(&link), KSN_OK);

        uint16_t expected[KSN_SLOT_COUNT] = {};
        for (const auto& [slot, id] : c.slots) {
            expected[slot - 1] = id;
        }
        std::vector<std::string> found;
        for (int k = 0; k < KSN_SLOT_COUNT; ++k) {
            EXPECT_EQ(ids[k], expected[k]) << c.serial << " slot " << k + 1;
            if (ids[k] != KSN_MODULE_ID_KSN48) {
                continue;
            }
            if (KSN48_IsOpened(&h) == KSN_OK) {
                KSN48_Close(&h);
            }
            ASSERT_EQ(KSN48_Open(&h, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, c.serial, k + 1),
                      KSN_OK);
            found.emplace_back(h.ModuleSerial);
        }
        ASSERT_EQ(found.size(), c.moduleSerials.size());
        for (size_t m = 0; m < found.size(); ++m) {
            EXPECT_EQ(found[m], c.moduleSerials[m]);
        }
    }
    EXPECT_EQ(KSN48_IsOpened(&h), KSN_OK);
    EXPECT_EQ(KSN48_Close(&h), KSN_OK);
    EXPECT_EQ(KSN48_IsOpened(&h), KSN_ERR_NOT_OPEN);
}

TEST_F(CrateApi, ServerLinkWithoutCrateAnswersOnlyTheList)
{
    KsnCrateLink link;
    KSN_Init(&link);
    ASSERT_EQ(KSN_Open(&link), KSN_OK);
    KsnCrateInfo info;
    uint16_t ids[KSN_SLOT_COUNT];
    EXPECT_EQ(KSN_GetCrateInfo(&link, &info), KSN_ERR_STATE);
    EXPECT_EQ(KSN_GetCrateModules(&link, ids), KSN_ERR_STATE);
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_STATE);  // already open
    KSN_Close(&link);
}

TEST_F(CrateApi, MisuseGetsItsOwnCode)
{
    KsnCrateLink link;
    std::memset(&link, 0x5A, sizeof link);  // never initialised
    char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_NOT_INITIALIZED);
    EXPECT_EQ(KSN_GetCrates(&link, list), KSN_ERR_NOT_INITIALIZED);
    EXPECT_EQ(KSN_Close(&link), KSN_ERR_NOT_INITIALIZED);

    EXPECT_EQ(KSN_Init(nullptr), KSN_ERR_INVALID_ARGUMENT);
    KSN_Init(&link);
    EXPECT_EQ(KSN_GetCrates(&link, list), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN_GetCrates(&link, nullptr), KSN_ERR_INVALID_ARGUMENT);

    SetSerial(link, "NO-SUCH");
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_NOT_FOUND);
    EXPECT_EQ(KSN_GetCrates(&link, list), KSN_ERR_NOT_OPEN);  // a failed open leaves it closed

    std::memset(link.CrateSerial, 'A', sizeof link.CrateSerial);  // no terminator
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_INVALID_ARGUMENT);
    SetSerial(link, "");
    link.Channel = 3;
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_INVALID_ARGUMENT);
}

TEST_F(CrateApi, PortComesFromTheEnvironmentVariable)
{
    KsnCrateLink link;
    KSN_Init(&link);
    EXPECT_EQ(link.Port, server_->Port());
    EXPECT_EQ(link.Address, 0x7F000001U);
}

}  // namespace
