#include "Control.h"

#include <nlohmann/json.hpp>

#include "Session.h"
#include "ksnerror.h"

namespace ksn::sim {

using nlohmann::json;

namespace {

json List(ServerState& server)
{
    json all = PopulationToJson(server.population);
    for (std::size_t c = 0; c < server.population.crates.size(); ++c) {
        for (auto& js : all["crates"][c]["slots"]) {
            if (!js.contains("ksn48")) {
                continue;
            }
            const auto& state = server.StateOf(c, js["slot"].get<std::size_t>() - 1U);
            js["open"] = state.owner != nullptr;
            js["refuse"] = state.refuse;
            js["stall"] = state.stall;
            js["limit"] = state.limit;
        }
    }
    return all;
}

// A command on one KSN48 module.
json OnModule(const std::string& cmd, const json& request, Ksn48Module& module,
              ModuleState& state, int& status)
{
    if (cmd == "signal") {
        const int channel = request.value("channel", 0);
        if (channel < 1 || channel > kChannels || !request.contains("signal") ||
            !request["signal"].is_object()) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", "signal needs a channel 1..8 and a signal object"}};
        }
        auto& ch = module.channels[static_cast<std::size_t>(channel - 1)];
        ApplyChannelJson(request["signal"], ch, "channel " + std::to_string(channel));
        ++state.generation;
        return ChannelToJson(ch);
    }
    if (cmd == "refuse" || cmd == "stall") {
        if (!request.contains("on") || !request["on"].is_boolean()) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", cmd + " needs \"on\": true or false"}};
        }
        (cmd == "refuse" ? state.refuse : state.stall) = request["on"].get<bool>();
        return {{cmd, request["on"]}};
    }
    if (cmd == "limit") {
        if (!request.contains("words") || !request["words"].is_number_integer() ||
            request["words"].get<int64_t>() < -1) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", "limit needs \"words\": a count, or -1 for none"}};
        }
        state.limit = request["words"].get<int64_t>();
        return {{"limit", state.limit}};
    }
    if (cmd == "drop") {
        const bool had = state.owner != nullptr;
        if (had) {
            state.owner->Interrupt();
        }
        return {{"dropped", had}};
    }
    status = KSN_ERR_INVALID_ARGUMENT;
    return {{"error", "unknown command \"" + cmd + "\""}};
}

json Control(ServerState& server, const json& request, int& status)
{
    const std::string cmd = request.value("cmd", "");
    if (cmd != "list" && !server.options.control) {
        // Faults and drops reach other clients' modules: only on request.
        status = KSN_ERR_REFUSED;
        return {{"error", "the crate server refuses control requests: start ksn-crated with "
                          "--control to allow them"}};
    }
    std::lock_guard lock(server.mutex);
    if (cmd == "list") {
        return List(server);
    }
    // Every other command names one KSN48 module.
    auto& crates = server.population.crates;
    const std::string serial = request.value("crate", "");
    const int slot = request.value("slot", 0);
    const std::size_t crateIndex = server.FindCrate(serial);
    if (crateIndex == crates.size() || slot < 1 || slot > kSlots ||
        !crates[crateIndex].slots[static_cast<std::size_t>(slot - 1)].ksn48) {
        status = KSN_ERR_NOT_FOUND;
        return {
            {"error", "no KSN48 module in crate \"" + serial + "\" slot " + std::to_string(slot)}};
    }
    const auto index = static_cast<std::size_t>(slot - 1);
    return OnModule(cmd, request, *crates[crateIndex].slots[index].ksn48,
                    server.StateOf(crateIndex, index), status);
}

}  // namespace

std::string AnswerControl(ServerState& state, const std::string& text, int& status)
{
    status = KSN_OK;
    json reply;
    json request = json::parse(text, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        status = KSN_ERR_INVALID_ARGUMENT;
        reply = {{"error", "control request is not a JSON object"}};
    } else {
        try {
            reply = Control(state, request, status);
        } catch (const ConfigError& e) {
            status = KSN_ERR_INVALID_ARGUMENT;
            reply = {{"error", e.what()}};
        } catch (const json::exception& e) {
            status = KSN_ERR_INVALID_ARGUMENT;
            reply = {{"error", std::string("malformed control request: ") + e.what()}};
        }
    }
    return reply.dump();
}

}  // namespace ksn::sim
