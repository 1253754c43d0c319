// ksn-cratectl against a running server: what it lists and what it refuses.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CrateServer.h"

namespace {

using ksn::test::CrateServer;

TEST(CrateCtl, ListsCratesSlotsAndModules)
{
    CrateServer server;
    std::string out;
    ASSERT_EQ(server.Ctl({"list"}, &out), 0);
    for (const char* text :
         {"crate KSN5-0042  type 40", "crate KSN1-0107  type 21", "module 0x3131", "module 0x3232",
          "serial 4811001  firmware 12", "serial 4811002  firmware 8",
          "serial 4812001  firmware 10", "ch7  open", "ch8  short"}) {
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    }
    ASSERT_EQ(server.Ctl({"stall", "KSN1-0107", "1", "on"}), 0);
    ASSERT_EQ(server.Ctl({"limit", "KSN1-0107", "1", "64"}), 0);
    ASSERT_EQ(server.Ctl({"--json", "list"}, &out), 0);
    const auto all = nlohmann::json::parse(out);
    const auto& slot = all["crates"][1]["slots"][0];
    EXPECT_EQ(slot["stall"], true);
    EXPECT_EQ(slot["limit"], 64);
    EXPECT_EQ(slot["open"], false);
}

TEST(CrateCtl, RefusesBadCommandsWithoutTouchingTheServer)
{
    CrateServer server;
    const struct {
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"list", "extra"}, 2},
        {{"stall", "KSN5-0042", "3"}, 2},
        {{"stall", "KSN5-0042", "3", "maybe"}, 2},
        {{"stall", "KSN5-0042", "99", "on"}, 2},
        {{"signal", "KSN5-0042", "3", "9", "--dc", "1"}, 2},
        {{"signal", "KSN5-0042", "3", "1", "--sine", "1"}, 2},
        {{"signal", "KSN5-0042", "3", "1", "--dc", "abc"}, 2},
        {{"limit", "KSN5-0042", "3", "-4"}, 2},
        // Well-formed, but the server says no.
        {{"stall", "KSN9-0000", "3", "on"}, 1},
        {{"drop", "KSN5-0042", "1"}, 1},  // not a KSN48 slot
        {{"status", "KSN5-0042", "3", "1", "melted"}, 1},
        {{"signal", "KSN5-0042", "3", "1", "--noise", "-1"}, 1},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) {
            joined += a + " ";
        }
        EXPECT_EQ(server.Ctl(c.args), c.exitCode) << joined;
    }
    std::string out;
    ASSERT_EQ(server.Ctl({"--json", "list"}, &out), 0);
    EXPECT_EQ(nlohmann::json::parse(out)["crates"][0]["slots"][1]["stall"], false);
    EXPECT_EQ(server.Ctl({"--help"}), 0);
}

TEST(CrateCtl, ReportsAnAbsentServer)
{
    CrateServer server;
    server.Stop();
    EXPECT_EQ(server.Ctl({"list"}), 1);
}

}  // namespace
