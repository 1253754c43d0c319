// ksn-crated's command line and configuration file, as a user starts it.

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "CrateServer.h"
#include "ModuleSteps.h"
#include "ToolRun.h"
#include "ksn48api.h"
#include "ksnapi.h"

namespace {

using ksn::test::CrateServer;

ksn::test::ToolRun RunDaemon(const std::string& args)
{
    return ksn::test::RunTool(CrateServer::DaemonPath(), args);
}

TEST(Daemon, CommandLineMistakesStopItWithAReason)
{
    std::string badConfig = "/tmp/ksn-crated-bad-";
    badConfig += std::to_string(getpid());
    badConfig += ".json";
    FILE* f = std::fopen(badConfig.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(
        R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 3, "ksn48": {"serial": "M", "firmware": 70000}}]}]})",
        f);
    std::fclose(f);
    const struct {
        std::string args;
        int exitCode;
        const char* mentions;
    } cases[] = {
        {"--help", 0, "--fast"},
        {"--port 70000", 2, "bad port"},
        {"--port", 2, "incomplete"},
        {"--verbose", 2, "unknown"},
        {"--max-clients 0", 2, "bad client count"},
        {"--config /nonexistent/crates.json", 2, "cannot read"},
        {std::string("--config ").append(badConfig), 2, "crates[0].slots[0].ksn48.firmware"},
    };
    for (const auto& c : cases) {
        const ksn::test::ToolRun r = RunDaemon(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.mentions), std::string::npos) << c.args << "\n" << r.output;
    }
    std::remove(badConfig.c_str());
}

TEST(Daemon, ServesTheConfiguredPopulation)
{
    CrateServer server(R"({"crates": [
        {"serial": "LAB-1", "type": 31, "slots": [
          {"slot": 16, "ksn48": {"serial": "X1", "name": "K48", "firmware": 9,
            "channels": [{"dc": -2.5}, {"sines": [{"amplitude": 0.1, "frequency": 50}]}]}},
          {"slot": 4, "module_id": 4660}]}]})");
    KsnCrateLink link;
    KSN_Init(&link);
    std::snprintf(link.CrateSerial, sizeof link.CrateSerial, "%s", "LAB-1");
    ASSERT_EQ(KSN_Open(&link), KSN_OK);
    KsnCrateInfo info;
    uint16_t ids[KSN_SLOT_COUNT];
    ASSERT_EQ(KSN_GetCrateInfo(&link, &info), KSN_OK);
    ASSERT_EQ(KSN_GetCrateModules(&link, ids), KSN_OK);
    KSN_Close(&link);
    EXPECT_EQ(info.CrateType, 31);
    for (int k = 0; k < KSN_SLOT_COUNT; ++k) {
        EXPECT_EQ(ids[k], k == 15 ? 0x3030 : k == 3 ? 4660 : 0) << "slot " << k + 1;
    }

    Ksn48Handle h{};
    ASSERT_EQ(ksn::test::OpenModule(h, "LAB-1", 16), KSN_OK);
    EXPECT_STREQ(h.ModuleName, "K48");
    EXPECT_STREQ(h.ModuleSerial, "X1");
    EXPECT_EQ(h.FirmwareVersion, 9);
    ASSERT_EQ(ksn::test::Configure(h, 0b101, 0, 0), KSN_OK);  // channel 3 is silent
    const auto raw = ksn::test::ReceiveFrame(h, 20, 20);
    ASSERT_EQ(raw.size(), 20U);
    double volts[20];
    uint32_t size = 20;
    int32_t status[KSN48_CHANNEL_COUNT];
    ASSERT_EQ(KSN48_ProcessData(&h, raw.data(), volts, &size, 0x81, status), KSN_OK);
    for (uint32_t i = 0; i < size; i += 2) {
        EXPECT_DOUBLE_EQ(volts[i], -2.5);
        EXPECT_EQ(volts[i + 1], 0.0);
    }
    KSN48_Close(&h);
}

}  // namespace
