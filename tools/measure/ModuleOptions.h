#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tool {

// The options that name the module, the same in every tool: --crate, --slot
// and --settings, with their checks. Add them where --help is to list them;
// read them with Take once the line has parsed.
class ModuleOptionGroup {
public:
    // settingsHelp: what the tool takes from the settings file, said in the
    // line of --settings.
    void Add(CLI::App& app, const std::string& settingsHelp);

    // Into the tool's options: a value not given stays empty.
    template <typename Options>
    void Take(Options& options) const
    {
        Take(options.Crate, options.Slot, options.SettingsPath);
    }
    void Take(std::optional<std::string>& crate, std::optional<int>& slot,
              std::optional<std::string>& settingsPath) const;

private:
    std::string crate_;
    int slot_ = 0;
    std::string settings_;
    CLI::Option* slotOption_ = nullptr;
};

}  // namespace tool
