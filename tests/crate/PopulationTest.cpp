// The server's configuration: the built-in population and the JSON reader.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Population.h"

namespace {

using namespace ksn::sim;

TEST(DefaultPopulation, HasTheDocumentedCratesModulesAndSignals)
{
    const Population p = DefaultPopulation();
    ASSERT_EQ(p.crates.size(), 2U);
    EXPECT_EQ(p.crates[0].serial, "KSN5-0042");
    EXPECT_EQ(p.crates[0].type, 40);
    EXPECT_EQ(p.crates[1].serial, "KSN1-0107");
    EXPECT_EQ(p.crates[1].type, 21);

    const struct {
        size_t crate;
        size_t slot;
        uint16_t id;
        const char* serial;
        uint16_t firmware;
    } slots[] = {{0, 1, 0x3131, nullptr, 0},
                 {0, 3, 0x3030, "4811001", 12},
                 {0, 5, 0x3030, "4811002", 8},
                 {1, 1, 0x3030, "4812001", 10},
                 {1, 2, 0x3232, nullptr, 0}};
    int used = 0;
    for (const auto& c : p.crates) {
        for (const auto& s : c.slots) {
            used += s.moduleId != 0;
        }
    }
    EXPECT_EQ(used, 5);
    for (const auto& s : slots) {
        const Slot& slot = p.crates[s.crate].slots[s.slot - 1];
        EXPECT_EQ(slot.moduleId, s.id) << "crate " << s.crate << " slot " << s.slot;
        ASSERT_EQ(slot.ksn48.has_value(), s.serial != nullptr);
        if (s.serial) {
            EXPECT_EQ(slot.ksn48->serial, s.serial);
            EXPECT_EQ(slot.ksn48->firmware, s.firmware);
        }
    }

    const Ksn48Module& m = *p.crates[0].slots[2].ksn48;
    const double amplitude[6] = {1.0, 0.5, 2.0, 1.0, 0.25, 1.0};
    const double phase[6] = {0, 30, -90, 45, 120, 0};
    for (size_t c = 0; c < 6; ++c) {
        ASSERT_EQ(m.channels[c].sines.size(), 1U);
        EXPECT_EQ(m.channels[c].sines[0].amplitude, amplitude[c]);
        EXPECT_EQ(m.channels[c].sines[0].frequency, 1000.0);
        EXPECT_EQ(m.channels[c].sines[0].phase, phase[c]);
        EXPECT_EQ(m.channels[c].status, KSN48_STATUS_VALID);
    }
    EXPECT_EQ(m.channels[5].dc, 0.5);
    EXPECT_EQ(m.channels[5].noise, 0.001);
    EXPECT_EQ(m.channels[6].status, KSN48_STATUS_OPEN);
    EXPECT_EQ(m.channels[7].status, KSN48_STATUS_SHORT);
}

TEST(ParsePopulation, ReadsAFullConfiguration)
{
    const Population p = ParsePopulation(R"({"crates": [
      {"serial": "C1", "type": 10, "slots": [
        {"slot": 16, "module_id": "0x3131"},
        {"slot": 2, "ksn48": {"serial": "M1", "name": "KSN48B", "firmware": 9, "channels": [
          {"sines": [{"amplitude": 1.5, "frequency": 123.25, "phase": -10},
                     {"amplitude": 0.1, "frequency": 7000}], "dc": -0.2, "noise": 0.01},
          {"status": "open"}]}}]},
      {"serial": "C2", "type": 255}]})");
    ASSERT_EQ(p.crates.size(), 2U);
    EXPECT_EQ(p.crates[0].slots[15].moduleId, 0x3131);
    const auto& m = *p.crates[0].slots[1].ksn48;
    EXPECT_EQ(p.crates[0].slots[1].moduleId, kKsn48ModuleId);
    EXPECT_EQ(m.name, "KSN48B");
    ASSERT_EQ(m.channels[0].sines.size(), 2U);
    EXPECT_EQ(m.channels[0].sines[0].frequency, 123.25);
    EXPECT_EQ(m.channels[0].sines[0].phase, -10);
    EXPECT_EQ(m.channels[0].sines[1].phase, 0);
    EXPECT_EQ(m.channels[0].dc, -0.2);
    EXPECT_EQ(m.channels[1].status, KSN48_STATUS_OPEN);
    EXPECT_TRUE(m.channels[7].sines.empty());
    EXPECT_EQ(p.crates[1].type, 255);
    // What the server reports reads back as the same population.
    const Population again = ParsePopulation(PopulationToJson(p).dump());
    EXPECT_EQ(PopulationToJson(again), PopulationToJson(p));
}

TEST(ParsePopulation, RejectsBadConfigurationsNamingThePlace)
{
    const struct {
        const char* json;
        const char* mentions;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "missing \"crates\""},
        {R"({"crates": [{"type": 1}]})", "crates[0]: missing \"serial\""},
        {R"({"crates": [{"serial": "0123456789ABCDEF", "type": 1}]})", "crates[0].serial"},
        {R"({"crates": [{"serial": "", "type": 1}]})", "crates[0].serial"},
        {R"({"crates": [{"serial": "A", "type": 256}]})", "crates[0].type"},
        {R"({"crates": [{"serial": "A", "type": 1}, {"serial": "A", "type": 2}]})", "used twice"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 0, "module_id": 5}]}]})",
         ".slot"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 17, "module_id": 5}]}]})",
         ".slot"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "module_id": 5},
             {"slot": 1, "module_id": 6}]}]})",
         "given twice"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1}]}]})", "either"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "module_id": "0x3030"}]}]})",
         "described with \"ksn48\""},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "module_id": "zz"}]}]})",
         "module_id"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 70000}}]}]})",
         "firmware"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 1, "channels": [{}, {}, {}, {}, {}, {}, {}, {}, {}]}}]}]})",
         "at most 8"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 1, "channels": [{"status": "broken"}]}}]}]})",
         "status"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 1, "channels": [{"noise": -1}]}}]}]})",
         "noise"},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 1, "channels": [{"sines": [{"amplitude": 1}]}]}}]}]})",
         "missing \"frequency\""},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [{"slot": 1, "ksn48":
             {"serial": "M", "firmware": 1, "channels": [{"gain": 2}]}}]}]})",
         "unknown key \"gain\""},
        {R"({"crates": [{"serial": "A", "type": 1, "slots": [
             {"slot": 1, "ksn48": {"serial": "M", "firmware": 1}},
             {"slot": 2, "ksn48": {"serial": "M", "firmware": 1}}]}]})",
         "module serial \"M\" used twice"},
    };
    for (const auto& c : cases) {
        try {
            ParsePopulation(c.json);
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const ConfigError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos)
                << e.what() << "\n  expected to mention: " << c.mentions;
        }
    }
}

TEST(ApplyChannelJson, ChangesOnlyTheGivenKeysAndNothingOnError)
{
    ChannelSignal ch;
    ch.sines = {{1.0, 50.0, 0.0}};
    ch.dc = 0.3;
    ApplyChannelJson(nlohmann::json{{"status", "short"}}, ch, "ch");
    EXPECT_EQ(ch.status, KSN48_STATUS_SHORT);
    EXPECT_EQ(ch.dc, 0.3);
    ASSERT_EQ(ch.sines.size(), 1U);

    const ChannelSignal before = ch;
    EXPECT_THROW(ApplyChannelJson(nlohmann::json{{"dc", 1.0}, {"noise", "loud"}}, ch, "ch"),
                 ConfigError);
    EXPECT_EQ(ch.dc, before.dc);  // a rejected change leaves the channel alone
}

}  // namespace
