#include "ModuleOptions.h"

#include "ksnapi.h"

#include <CLI/CLI.hpp>

#include <string_view>

namespace tool {

namespace {

// A crate serial as the libraries take it: 1 to 15 printable characters.
bool IsCrateSerial(std::string_view text)
{
    if (text.empty() || text.size() >= KSN_SERIAL_SIZE) {
        return false;
    }
    for (const char c : text) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

}  // namespace

void ModuleOptionGroup::Add(CLI::App& app, const std::string& settingsHelp)
{
    app.add_option("--crate", crate_, "Serial of the crate that holds the module")
        ->type_name("SERIAL")
        ->check(
            [](const std::string& text) {
                return IsCrateSerial(text) ? std::string()
                                           : std::string("a crate serial has 1 to 15 characters");
            },
            "");
    slotOption_ = app.add_option("--slot", slot_, "Slot of the module, 1 to 16")
                      ->type_name("N")
                      ->check(CLI::Range(1, static_cast<int>(KSN_SLOT_COUNT)).description(""));
    app.add_option("--settings", settings_, settingsHelp)
        ->type_name("FILE")
        ->check(CLI::ExistingFile.description(""));
}

void ModuleOptionGroup::Take(std::optional<std::string>& crate, std::optional<int>& slot,
                             std::optional<std::string>& settingsPath) const
{
    if (!crate_.empty()) {
        crate = crate_;
    }
    if (slotOption_ != nullptr && slotOption_->count() > 0) {
        slot = slot_;
    }
    if (!settings_.empty()) {
        settingsPath = settings_;
    }
}

}  // namespace tool
