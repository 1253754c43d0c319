#include "Population.h"

#include <cmath>
#include <set>

#include <nlohmann/json.hpp>

namespace ksn::sim {

using nlohmann::json;

namespace {

constexpr std::size_t kMaxSerial = 15;
constexpr std::size_t kMaxName = 7;
constexpr std::size_t kMaxSines = 16;

[[noreturn]] void Fail(const std::string& where, const std::string& what)
{
    throw ConfigError(where + ": " + what);
}

const json& Need(const json& j, const char* key, const std::string& where)
{
    if (!j.is_object() || !j.contains(key)) {
        Fail(where, std::string("missing \"") + key + "\"");
    }
    return j.at(key);
}

double Number(const json& j, const std::string& where)
{
    if (!j.is_number()) {
        Fail(where, "expected a number");
    }
    const double v = j.get<double>();
    if (!std::isfinite(v)) {
        Fail(where, "expected a finite number");
    }
    return v;
}

long long Integer(const json& j, long long lo, long long hi, const std::string& where)
{
    long long v = 0;
    if (j.is_number_integer()) {
        v = j.get<long long>();
    } else if (j.is_string()) {
        // Module ids read better in hex: "0x3131".
        const auto s = j.get<std::string>();
        std::size_t used = 0;
        try {
            v = std::stoll(s, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != s.size()) {
            Fail(where, "expected an integer, got \"" + s + "\"");
        }
    } else {
        Fail(where, "expected an integer");
    }
    if (v < lo || v > hi) {
        Fail(where, "value " + std::to_string(v) + " outside " + std::to_string(lo) + ".." +
                        std::to_string(hi));
    }
    return v;
}

std::string Text(const json& j, std::size_t maxLen, const std::string& where)
{
    if (!j.is_string()) {
        Fail(where, "expected a text");
    }
    auto s = j.get<std::string>();
    if (s.empty() || s.size() > maxLen) {
        Fail(where, "text must have 1 to " + std::to_string(maxLen) + " characters");
    }
    if (s.find('\0') != std::string::npos) {
        Fail(where, "text must not contain a zero character");
    }
    return s;
}

uint32_t ParseStatus(const json& j, const std::string& where)
{
    if (j.is_string()) {
        const auto s = j.get<std::string>();
        if (s == "ok")
            return KSN48_STATUS_VALID;
        if (s == "short")
            return KSN48_STATUS_SHORT;
        if (s == "open")
            return KSN48_STATUS_OPEN;
    }
    Fail(where, "status must be \"ok\", \"short\" or \"open\"");
}

Ksn48Module ParseModule(const json& j, const std::string& where)
{
    if (!j.is_object()) {
        Fail(where, "expected an object");
    }
    Ksn48Module m;
    m.serial = Text(Need(j, "serial", where), kMaxSerial, where + ".serial");
    if (j.contains("name")) {
        m.name = Text(j["name"], kMaxName, where + ".name");
    }
    m.firmware =
        static_cast<uint16_t>(Integer(Need(j, "firmware", where), 0, 65535, where + ".firmware"));
    if (j.contains("channels")) {
        const json& chans = j["channels"];
        if (!chans.is_array() || chans.size() > kChannels) {
            Fail(where + ".channels", "expected an array of at most 8 channels");
        }
        for (std::size_t c = 0; c < chans.size(); ++c) {
            const auto at = where + ".channels[" + std::to_string(c) + "]";
            if (!chans[c].is_object()) {
                Fail(at, "expected an object");
            }
            ApplyChannelJson(chans[c], m.channels[c], at);
        }
    }
    return m;
}

Crate ParseCrate(const json& j, const std::string& where, std::set<std::string>& moduleSerials)
{
    if (!j.is_object()) {
        Fail(where, "expected an object");
    }
    Crate c;
    c.serial = Text(Need(j, "serial", where), kMaxSerial, where + ".serial");
    c.type = static_cast<uint8_t>(Integer(Need(j, "type", where), 0, 255, where + ".type"));
    if (!j.contains("slots")) {
        return c;
    }
    const json& slots = j["slots"];
    if (!slots.is_array()) {
        Fail(where + ".slots", "expected an array");
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const auto at = where + ".slots[" + std::to_string(i) + "]";
        const json& s = slots[i];
        if (!s.is_object()) {
            Fail(at, "expected an object");
        }
        const auto number = Integer(Need(s, "slot", at), 1, kSlots, at + ".slot");
        Slot& slot = c.slots[static_cast<std::size_t>(number - 1)];
        if (slot.moduleId != 0) {
            Fail(at, "slot " + std::to_string(number) + " given twice");
        }
        const bool hasKsn48 = s.contains("ksn48");
        const bool hasId = s.contains("module_id");
        if (hasKsn48 == hasId) {
            Fail(at, "give either \"ksn48\" or \"module_id\"");
        }
        if (hasKsn48) {
            slot.ksn48 = ParseModule(s["ksn48"], at + ".ksn48");
            slot.moduleId = kKsn48ModuleId;
            if (!moduleSerials.insert(slot.ksn48->serial).second) {
                Fail(at, "module serial \"" + slot.ksn48->serial + "\" used twice");
            }
        } else {
            slot.moduleId =
                static_cast<uint16_t>(Integer(s["module_id"], 1, 0xFFFF, at + ".module_id"));
            if (slot.moduleId == kKsn48ModuleId) {
                Fail(at, "a KSN48 module is described with \"ksn48\"");
            }
        }
    }
    return c;
}

Ksn48Module DefaultModule(const char* serial, uint16_t firmware)
{
    Ksn48Module m;
    m.serial = serial;
    m.firmware = firmware;
    const double amplitudes[6] = {1.0, 0.5, 2.0, 1.0, 0.25, 1.0};
    const double phases[6] = {0.0, 30.0, -90.0, 45.0, 120.0, 0.0};
    for (std::size_t c = 0; c < 6; ++c) {
        m.channels[c].sines.push_back({amplitudes[c], 1000.0, phases[c]});
    }
    m.channels[5].dc = 0.5;
    m.channels[5].noise = 0.001;
    m.channels[6].status = KSN48_STATUS_OPEN;
    m.channels[7].status = KSN48_STATUS_SHORT;
    return m;
}

}  // namespace

const char* StatusName(uint32_t status)
{
    switch (status) {
    case KSN48_STATUS_SHORT:
        return "short";
    case KSN48_STATUS_OPEN:
        return "open";
    default:
        return "ok";
    }
}

Population DefaultPopulation()
{
    Population p;
    Crate a;
    a.serial = "KSN5-0042";
    a.type = 40;
    a.slots[0].moduleId = 0x3131;
    a.slots[2].moduleId = kKsn48ModuleId;
    a.slots[2].ksn48 = DefaultModule("4811001", 12);
    a.slots[4].moduleId = kKsn48ModuleId;
    a.slots[4].ksn48 = DefaultModule("4811002", 8);
    Crate b;
    b.serial = "KSN1-0107";
    b.type = 21;
    b.slots[0].moduleId = kKsn48ModuleId;
    b.slots[0].ksn48 = DefaultModule("4812001", 10);
    b.slots[1].moduleId = 0x3232;
    p.crates = {a, b};
    return p;
}

void ApplyChannelJson(const json& j, ChannelSignal& channel, const std::string& where)
{
    for (const auto& item : j.items()) {
        const auto& key = item.key();
        if (key != "sines" && key != "dc" && key != "noise" && key != "status") {
            Fail(where, "unknown key \"" + key + "\"");
        }
    }
    ChannelSignal next = channel;
    if (j.contains("sines")) {
        const json& sines = j["sines"];
        if (!sines.is_array() || sines.size() > kMaxSines) {
            Fail(where + ".sines", "expected an array of at most 16 sines");
        }
        next.sines.clear();
        for (std::size_t i = 0; i < sines.size(); ++i) {
            const auto at = where + ".sines[" + std::to_string(i) + "]";
            Sine s;
            s.amplitude = Number(Need(sines[i], "amplitude", at), at + ".amplitude");
            s.frequency = Number(Need(sines[i], "frequency", at), at + ".frequency");
            s.phase = sines[i].contains("phase") ? Number(sines[i]["phase"], at + ".phase") : 0.0;
            if (s.frequency < 0.0) {
                Fail(at + ".frequency", "must not be negative");
            }
            next.sines.push_back(s);
        }
    }
    if (j.contains("dc")) {
        next.dc = Number(j["dc"], where + ".dc");
    }
    if (j.contains("noise")) {
        next.noise = Number(j["noise"], where + ".noise");
        if (next.noise < 0.0) {
            Fail(where + ".noise", "must not be negative");
        }
    }
    if (j.contains("status")) {
        next.status = ParseStatus(j["status"], where + ".status");
    }
    channel = std::move(next);
}

Population ParsePopulation(const std::string& jsonText)
{
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::parse_error& e) {
        throw ConfigError(std::string("not valid JSON: ") + e.what());
    }
    const json& crates = Need(root, "crates", "config");
    if (!crates.is_array() || crates.size() > kMaxCrates) {
        Fail("crates", "expected an array of at most 16 crates");
    }
    Population p;
    std::set<std::string> crateSerials;
    std::set<std::string> moduleSerials;
    for (std::size_t i = 0; i < crates.size(); ++i) {
        p.crates.push_back(
            ParseCrate(crates[i], "crates[" + std::to_string(i) + "]", moduleSerials));
        if (!crateSerials.insert(p.crates.back().serial).second) {
            Fail("crates[" + std::to_string(i) + "]",
                 "crate serial \"" + p.crates.back().serial + "\" used twice");
        }
    }
    return p;
}

json ChannelToJson(const ChannelSignal& channel)
{
    json sines = json::array();
    for (const auto& s : channel.sines) {
        sines.push_back(
            {{"amplitude", s.amplitude}, {"frequency", s.frequency}, {"phase", s.phase}});
    }
    return {{"sines", sines},
            {"dc", channel.dc},
            {"noise", channel.noise},
            {"status", StatusName(channel.status)}};
}

json PopulationToJson(const Population& population)
{
    json crates = json::array();
    for (const auto& c : population.crates) {
        json slots = json::array();
        for (std::size_t k = 0; k < c.slots.size(); ++k) {
            const Slot& s = c.slots[k];
            if (s.moduleId == 0) {
                continue;
            }
            json js = {{"slot", k + 1}};
            if (s.ksn48) {
                json chans = json::array();
                for (const auto& ch : s.ksn48->channels) {
                    chans.push_back(ChannelToJson(ch));
                }
                js["ksn48"] = {{"serial", s.ksn48->serial},
                               {"name", s.ksn48->name},
                               {"firmware", s.ksn48->firmware},
                               {"channels", chans}};
            } else {
                js["module_id"] = s.moduleId;
            }
            slots.push_back(js);
        }
        crates.push_back({{"serial", c.serial}, {"type", c.type}, {"slots", slots}});
    }
    return {{"crates", crates}};
}

}  // namespace ksn::sim
