#pragma once
// The JSON control requests of ksn-cratectl: list the population, change a
// channel's signal, set a module's faults, drop its client.

#include <string>

#include "ServerState.h"

namespace ksn::sim {

// Answers one control request given as JSON text; status receives KSN_OK or
// the error the reply explains in its "error" member.
std::string AnswerControl(ServerState& state, const std::string& text, int& status);

}  // namespace ksn::sim
